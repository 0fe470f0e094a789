#include "Platform/linux/NvmlStatistics.h"
#include "support/FakeNvml.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

const std::string device = "Device Utilization %";
const char* const fakeNvml = FAKE_NVML_PATH;

// Holds its own reference to the fake library to drive it; at the end it lets go and
// checks that the code under test left the library unloaded.
class FakeNvmlLibrary : public ::testing::Test {
  protected:
    void* handle = ::dlopen(fakeNvml, RTLD_NOW | RTLD_LOCAL);

    template <typename Function> Function* control(const char* name) {
        return reinterpret_cast<Function*>(::dlsym(handle, name));
    }
    void reset(int initResult, int countResult = fakeNvmlSuccess) {
        control<void(int, int)>("fakeNvmlReset")(initResult, countResult);
    }
    void addDevice(unsigned int gpuPercent, int handleResult = fakeNvmlSuccess,
                   int queryResult = fakeNvmlSuccess) {
        control<void(unsigned int, int, int)>("fakeNvmlAddDevice")(gpuPercent, handleResult,
                                                                   queryResult);
    }
    int initCalls() { return control<int()>("fakeNvmlInitCalls")(); }
    int shutdownCalls() { return control<int()>("fakeNvmlShutdownCalls")(); }
    int callsWhileDown() { return control<int()>("fakeNvmlCallsWhileDown")(); }

    void SetUp() override {
        ASSERT_NE(handle, nullptr) << ::dlerror();
        reset(fakeNvmlSuccess);
    }
    void TearDown() override {
        EXPECT_EQ(callsWhileDown(), 0);
        ::dlclose(handle);
        EXPECT_EQ(::dlopen(fakeNvml, RTLD_NOW | RTLD_NOLOAD), nullptr)
            << "the library is still loaded";
    }
};

} // namespace

TEST_F(FakeNvmlLibrary, EachDeviceGivesItsGPUUtilization) {
    addDevice(35);
    addDevice(80);
    addDevice(0);
    EXPECT_EQ(nvmlStatistics(fakeNvml),
              std::vector<GpuStatistics>({{{device, 35.0}}, {{device, 80.0}}, {{device, 0.0}}}));
    EXPECT_EQ(initCalls(), 1);
    EXPECT_EQ(shutdownCalls(), 1);
}

TEST_F(FakeNvmlLibrary, NoDevicesIsAnEmptyListNotAFailure) {
    EXPECT_EQ(nvmlStatistics(fakeNvml), std::vector<GpuStatistics>());
    EXPECT_EQ(shutdownCalls(), 1);
}

TEST_F(FakeNvmlLibrary, ADeviceThatDoesNotAnswerHasNoUtilization) {
    addDevice(70, fakeNvmlSuccess, fakeNvmlGpuIsLost);
    addDevice(60);
    addDevice(90, fakeNvmlNoPermission);
    EXPECT_EQ(nvmlStatistics(fakeNvml), std::vector<GpuStatistics>({{}, {{device, 60.0}}, {}}));
    EXPECT_EQ(shutdownCalls(), 1);
}

TEST_F(FakeNvmlLibrary, FailedInitGivesNothingAndNeedsNoShutdown) {
    reset(fakeNvmlDriverNotLoaded);
    addDevice(50);
    EXPECT_EQ(nvmlStatistics(fakeNvml), std::nullopt);
    EXPECT_EQ(initCalls(), 1);
    EXPECT_EQ(shutdownCalls(), 0);
}

TEST_F(FakeNvmlLibrary, FailedDeviceCountGivesNothingButShutsDown) {
    reset(fakeNvmlSuccess, fakeNvmlUnknown);
    addDevice(50);
    EXPECT_EQ(nvmlStatistics(fakeNvml), std::nullopt);
    EXPECT_EQ(shutdownCalls(), 1);
}

TEST_F(FakeNvmlLibrary, EveryReadInitialisesAndShutsDownAfresh) {
    addDevice(10);
    EXPECT_EQ(nvmlStatistics(fakeNvml), std::vector<GpuStatistics>({{{device, 10.0}}}));
    addDevice(20);
    EXPECT_EQ(nvmlStatistics(fakeNvml),
              std::vector<GpuStatistics>({{{device, 10.0}}, {{device, 20.0}}}));
    EXPECT_EQ(initCalls(), 2);
    EXPECT_EQ(shutdownCalls(), 2);
}

TEST(NvmlLibrary, AMissingLibraryGivesNothing) {
    EXPECT_EQ(nvmlStatistics("/nonexistent/libnvidia-ml.so.1"), std::nullopt);
}

TEST(NvmlLibrary, ALibraryWithoutTheFunctionsGivesNothing) {
    EXPECT_EQ(nvmlStatistics("libm.so.6"), std::nullopt);
}
