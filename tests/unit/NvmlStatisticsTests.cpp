#include "Platform/linux/NvmlStatistics.h"
#include "support/FakeNvml.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

const std::string device = "Device Utilization %";
const char* const fakeNvml = FAKE_NVML_PATH;

// Holds its own reference to the fake library to drive it; at the end it lets go and
// checks that the code under test used the library in order and left it unloaded.
class FakeNvmlLibrary : public ::testing::Test {
  protected:
    void* handle = ::dlopen(fakeNvml, RTLD_NOW | RTLD_LOCAL);

    template <typename Function> Function* control(const char* name) {
        return reinterpret_cast<Function*>(::dlsym(handle, name));
    }
    void (*reset)(int initResult, int countResult) = control<void(int, int)>("fakeNvmlReset");
    void (*addDevice)(unsigned int, int) = control<void(unsigned int, int)>("fakeNvmlAddDevice");
    int (*initsLeft)() = control<int()>("fakeNvmlInitsLeft");

    void SetUp() override {
        ASSERT_NE(handle, nullptr) << ::dlerror();
        reset(fakeNvmlSuccess, fakeNvmlSuccess);
    }
    void TearDown() override {
        EXPECT_EQ(initsLeft(), 0) << "not shut down exactly once after a successful init";
        ::dlclose(handle);
        EXPECT_EQ(::dlopen(fakeNvml, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
    }
};

} // namespace

TEST_F(FakeNvmlLibrary, EachDeviceGivesItsUtilizationWhenItAnswers) {
    addDevice(35, fakeNvmlSuccess);
    addDevice(70, fakeNvmlGpuIsLost);
    addDevice(0, fakeNvmlSuccess);
    EXPECT_EQ(nvmlStatistics(fakeNvml),
              std::vector<GpuStatistics>({{{device, 35.0}}, {}, {{device, 0.0}}}));
}

TEST_F(FakeNvmlLibrary, AMissingLibraryOrFailedInitOrDeviceCountGivesNothing) {
    EXPECT_EQ(nvmlStatistics("/nonexistent/libnvidia-ml.so.1"), std::nullopt);
    EXPECT_EQ(nvmlStatistics("libm.so.6"), std::nullopt); // without the functions
    for (auto [init, count] : {std::pair(fakeNvmlDriverNotLoaded, fakeNvmlSuccess),
                               std::pair(fakeNvmlSuccess, fakeNvmlUnknown)}) {
        reset(init, count);
        addDevice(50, fakeNvmlSuccess);
        EXPECT_EQ(nvmlStatistics(fakeNvml), std::nullopt) << init << " " << count;
        EXPECT_EQ(initsLeft(), 0) << init << " " << count;
    }
}
