#include "Platform/SmcKeyStore.h"

#include <gtest/gtest.h>

namespace {

// A store with one key, "TC0P", of three bytes.
struct OneKeyStore {
    SmcKeyEntry entry{fourCharCode("ui32"), 3, {1, 2, 3, 4}};
    int lookups = 0;

    std::int32_t call(std::uint8_t command, std::uint32_t key, std::uint32_t dataSize,
                      SMCParamBlock& output, std::uint32_t selector = smcSelector,
                      std::size_t outputSize = sizeof(SMCParamBlock)) {
        SMCParamBlock input;
        input.key = key;
        input.command = command;
        input.dataSize = dataSize;
        return answerSmcCall(
            [this](std::uint32_t asked) {
                ++lookups;
                return asked == fourCharCode("TC0P") ? &entry : nullptr;
            },
            selector, &input, sizeof input, &output, &outputSize);
    }
};

} // namespace

TEST(KeyStoreAnswers, InformationForPresentAndMissingKeys) {
    OneKeyStore store;
    SMCParamBlock output;
    ASSERT_EQ(store.call(smcReadKeyInfo, fourCharCode("TC0P"), 0, output), kIOReturnSuccess);
    EXPECT_EQ(output.dataSize, 3u);
    EXPECT_EQ(output.dataType, fourCharCode("ui32"));
    ASSERT_EQ(store.call(smcReadKeyInfo, fourCharCode("TC1P"), 0, output), kIOReturnSuccess);
    EXPECT_EQ(output.dataSize, 0u);
    EXPECT_EQ(output.dataType, 0u);
}

TEST(KeyStoreAnswers, BytesUpToTheSizeAskedAndTheKeysOwn) {
    OneKeyStore store;
    SMCParamBlock output;
    ASSERT_EQ(store.call(smcReadBytes, fourCharCode("TC0P"), 2, output), kIOReturnSuccess);
    EXPECT_EQ((std::vector<int>(output.bytes, output.bytes + 4)), (std::vector<int>{1, 2, 0, 0}));
    ASSERT_EQ(store.call(smcReadBytes, fourCharCode("TC0P"), 32, output), kIOReturnSuccess);
    EXPECT_EQ((std::vector<int>(output.bytes, output.bytes + 4)), (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(store.call(smcReadBytes, fourCharCode("TC1P"), 2, output), kIOReturnBadArgument);
}

TEST(KeyStoreAnswers, MalformedCallsAreBadArgumentsWithoutALookup) {
    OneKeyStore store;
    SMCParamBlock output;
    std::uint32_t key = fourCharCode("TC0P");
    EXPECT_EQ(store.call(7, key, 0, output), kIOReturnBadArgument);
    EXPECT_EQ(store.call(smcReadKeyInfo, key, 0, output, 3), kIOReturnBadArgument);
    EXPECT_EQ(store.call(smcReadKeyInfo, key, 0, output, smcSelector, 79), kIOReturnBadArgument);
    EXPECT_EQ(store.lookups, 0);
}
