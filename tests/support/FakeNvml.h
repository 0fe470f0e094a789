#pragma once

// The stand-in for NVIDIA's management library (FakeNvml.cpp), driven by tests through its
// extern "C" controls looked up with dlsym: fakeNvmlReset(initResult, countResult) (no
// devices), fakeNvmlAddDevice(gpuPercent, queryResult), fakeNvmlInitsLeft() (inits less
// shutdowns). A separate process gets one device from FAKE_NVML_GPU_PERCENT instead.

// Return codes as the real library gives them.
constexpr int fakeNvmlSuccess = 0;
constexpr int fakeNvmlUninitialized = 1;
constexpr int fakeNvmlDriverNotLoaded = 9;
constexpr int fakeNvmlGpuIsLost = 15;
constexpr int fakeNvmlUnknown = 999;
