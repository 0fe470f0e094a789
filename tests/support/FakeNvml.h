#pragma once

// Controls of the stand-in for NVIDIA's management library (FakeNvml.cpp). Tests reach
// them through dlsym on their own handle to the same library the code under test loads;
// a separate process gets its devices from FAKE_NVML_GPU_PERCENTS instead.
extern "C" {

// Forgets every device and count; the next init and device count give these results.
void fakeNvmlReset(int initResult, int countResult);

// A further device: its utilisation, and what opening and querying it return.
void fakeNvmlAddDevice(unsigned int gpuPercent, int handleResult, int queryResult);

int fakeNvmlInitCalls();
int fakeNvmlShutdownCalls();

// Calls other than init made while the library was not initialised.
int fakeNvmlCallsWhileDown();
}

// Return codes as the real library gives them.
constexpr int fakeNvmlSuccess = 0;
constexpr int fakeNvmlUninitialized = 1;
constexpr int fakeNvmlNoPermission = 4;
constexpr int fakeNvmlDriverNotLoaded = 9;
constexpr int fakeNvmlGpuIsLost = 15;
constexpr int fakeNvmlUnknown = 999;
