#pragma once

// The stand-in for NVIDIA's management library (FakeNvml.cpp) is driven through its
// extern "C" controls, which tests look up with dlsym on their own handle to it:
//   void fakeNvmlReset(int initResult, int countResult): no devices; the next init and
//     device count give these results.
//   void fakeNvmlAddDevice(unsigned int gpuPercent, int queryResult): a further device.
//   int fakeNvmlInitsLeft(): successful inits less shutdowns (0 when used in pairs).
// A separate process gets one device from FAKE_NVML_GPU_PERCENT instead.

// Return codes as the real library gives them.
constexpr int fakeNvmlSuccess = 0;
constexpr int fakeNvmlUninitialized = 1;
constexpr int fakeNvmlDriverNotLoaded = 9;
constexpr int fakeNvmlGpuIsLost = 15;
constexpr int fakeNvmlUnknown = 999;
