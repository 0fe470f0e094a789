#include "Agent/SMCReader.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::array<std::uint8_t, 80> memoryOf(const SMCParamBlock& block) {
    std::array<std::uint8_t, 80> bytes;
    std::memcpy(bytes.data(), &block, bytes.size());
    return bytes;
}

// A transport whose answers the test writes by hand.
class ScriptedTransport final : public SmcTransport {
  public:
    using Script = std::function<std::int32_t(const SMCParamBlock& input, SMCParamBlock& output)>;
    explicit ScriptedTransport(Script script) : script(std::move(script)) {}
    std::int32_t call(std::uint32_t, const void* input, std::size_t, void* output,
                      std::size_t*) override {
        SMCParamBlock request;
        std::memcpy(&request, input, sizeof request);
        return script(request, *static_cast<SMCParamBlock*>(output));
    }

  private:
    Script script;
};

SMCKeyValue keyed(const char* key) {
    SMCKeyValue value;
    value.key = key;
    return value;
}

std::optional<double> readOne(std::string_view key, std::string_view type, const Bytes& bytes) {
    SimulatedSMC smc;
    smc.set(key, type, bytes);
    return smc.openReader()->readValue(key);
}

} // namespace

TEST(KeyPacking, FirstCharacterIsMostSignificant) {
    EXPECT_EQ(fourCharCode("FNum"), 0x464E756Du);
    EXPECT_EQ(fourCharCode("TC0P"), 0x54433050u);
    EXPECT_EQ(fourCharCode("flt "), 0x666C7420u);
}

TEST(KeyPacking, KeyLiesInHostOrderAtOffsetZero) {
    SMCParamBlock block;
    block.key = fourCharCode("TC0P");
    block.dataSize = 2;
    block.command = smcReadBytes;
    auto memory = memoryOf(block);
    EXPECT_EQ((Bytes{memory[0], memory[1], memory[2], memory[3]}), (Bytes{0x50, 0x30, 0x43, 0x54}));
    EXPECT_EQ(memory[28], 2);
    EXPECT_EQ(memory[42], smcReadBytes);
    std::fill_n(memory.begin(), 4, 0);
    memory[28] = memory[42] = 0;
    EXPECT_EQ(memory, memoryOf(SMCParamBlock{})) << "every other byte starts as zero";
}

TEST(KeyPacking, TypeNameReadsMostSignificantFirstAndOnlyAscii) {
    EXPECT_EQ(typeName(0x73703738u), "sp78");
    EXPECT_EQ(typeName(fourCharCode("ui8 ")), "ui8 ");
    EXPECT_EQ(typeName(0x7370B738u), "");
    EXPECT_EQ(typeName(0xFF000000u), "");
}

TEST(ReadKey, AsksForInformationThenBytesThroughSelectorTwo) {
    SimulatedSMC smc;
    smc.set("TC0P", "sp78", {0x2F, 0x80});
    SMCKeyValue value = keyed("TC0P");
    ASSERT_EQ(smc.openReader()->readKey(value), kIOReturnSuccess);

    ASSERT_EQ(smc.calls.size(), 2u);
    for (const SmcCall& call : smc.calls) {
        EXPECT_EQ(call.selector, 2u);
        EXPECT_EQ(call.inputSize, 80u);
        EXPECT_EQ(call.outputSize, 80u);
        EXPECT_EQ(call.input.key, fourCharCode("TC0P"));
        EXPECT_EQ(call.input.dataType, 0u);
    }
    EXPECT_EQ(smc.calls[0].input.command, 9);
    EXPECT_EQ(smc.calls[0].input.dataSize, 0u);
    EXPECT_EQ(smc.calls[1].input.command, 5);
    EXPECT_EQ(smc.calls[1].input.dataSize, 2u);

    EXPECT_EQ(value.dataSize, 2u);
    EXPECT_EQ(value.dataType, "sp78");
    EXPECT_EQ(value.bytes[0], 0x2F);
    EXPECT_EQ(value.bytes[1], 0x80);
}

TEST(ReadKey, CopiesOnlyTheDataSizeAndLeavesTheRestZero) {
    auto reader = SMCReader::open(
        std::make_unique<ScriptedTransport>([](const SMCParamBlock& input, SMCParamBlock& output) {
            output.dataSize = 3;
            output.dataType = fourCharCode("ui32");
            if (input.command == smcReadBytes)
                std::memset(output.bytes, 0xAB, sizeof output.bytes);
            return kIOReturnSuccess;
        }));
    SMCKeyValue value = keyed("ABCD");
    ASSERT_EQ(reader->readKey(value), kIOReturnSuccess);
    EXPECT_EQ((Bytes(value.bytes.begin(), value.bytes.begin() + 4)), (Bytes{0xAB, 0xAB, 0xAB, 0}));
    EXPECT_TRUE(std::all_of(value.bytes.begin() + 3, value.bytes.end(),
                            [](std::uint8_t byte) { return byte == 0; }));
}

TEST(ReadKey, StopsAtTheFirstFailure) {
    SimulatedSMC smc;
    smc.set("TC0P", "sp78", {0x2F, 0x80});
    smc.failCalls("TC0P", smcReadKeyInfo, -7);
    SMCKeyValue value = keyed("TC0P");
    EXPECT_EQ(smc.openReader()->readKey(value), -7);
    EXPECT_EQ(smc.calls.size(), 1u);
    EXPECT_EQ(value.dataSize, 0u);

    SimulatedSMC second;
    second.set("TC0P", "sp78", {0x2F, 0x80});
    second.failCalls("TC0P", smcReadBytes, -9);
    SMCKeyValue partial = keyed("TC0P");
    EXPECT_EQ(second.openReader()->readKey(partial), -9);
    EXPECT_EQ(second.calls.size(), 2u);
    EXPECT_EQ(partial.bytes, (std::array<std::uint8_t, 32>{}));
}

TEST(ReadKey, DataSizeOfZeroOrAbove32IsABadArgumentWithoutReadingBytes) {
    for (std::uint32_t size : {0u, 33u, 0xFFFFFFFFu}) {
        SimulatedSMC smc;
        smc.setRaw("TC0P", fourCharCode("sp78"), size, {0x2F, 0x80});
        SMCKeyValue value = keyed("TC0P");
        EXPECT_EQ(smc.openReader()->readKey(value), kIOReturnBadArgument) << size;
        EXPECT_EQ(smc.calls.size(), 1u) << size;
    }
    SimulatedSMC full;
    full.setRaw("TC0P", fourCharCode("ui8 "), 32, Bytes(32, 7));
    SMCKeyValue value = keyed("TC0P");
    EXPECT_EQ(full.openReader()->readKey(value), kIOReturnSuccess);
    EXPECT_EQ(value.bytes[31], 7);
}

TEST(ReadValue, KeyMustBeFourBytesBeforeAnyCall) {
    SimulatedSMC smc;
    smc.set("TC0P", "sp78", {0x2F, 0x80});
    auto reader = smc.openReader();
    for (const char* key : {"TC0", "TC0PX", "", "TÇ0P"})
        EXPECT_EQ(reader->readValue(key), std::nullopt) << key;
    EXPECT_TRUE(smc.calls.empty());
    SMCKeyValue value = keyed("TC0");
    EXPECT_EQ(reader->readKey(value), kIOReturnBadArgument);
    EXPECT_TRUE(smc.calls.empty());

    // Bytes count, not characters: "T", a two-byte letter and "0".
    EXPECT_EQ(reader->readValue("T\xC3\xA7"
                                "0"),
              std::nullopt);
    EXPECT_EQ(smc.keysAsked(), (std::vector<std::string>{"T\xC3\xA7"
                                                         "0"}));
}

TEST(ReadValue, MissingFailingAndOversizedKeysGiveNothing) {
    SimulatedSMC smc;
    smc.set("TC0P", "sp78", {0x2F, 0x80});
    smc.setRaw("TC1P", fourCharCode("sp78"), 33, {0x2F, 0x80});
    smc.set("TC2P", "sp78", {});
    smc.set("TC3P", "sp78", {0x2F, 0x80});
    smc.failCalls("TC3P", smcReadBytes);
    auto reader = smc.openReader();
    EXPECT_EQ(reader->readValue("TC0P"), 47.5);
    EXPECT_EQ(reader->readValue("TC1P"), std::nullopt);
    EXPECT_EQ(reader->readValue("TC2P"), std::nullopt);
    EXPECT_EQ(reader->readValue("TC3P"), std::nullopt);
    EXPECT_EQ(reader->readValue("TC4P"), std::nullopt);
}

TEST(ZeroRule, OnlyTheFanCountAndCurrentSpeedsMayReadZero) {
    EXPECT_EQ(readOne("F0Ac", "fpe2", {0, 0}), 0.0);
    EXPECT_EQ(readOne("F7Ac", "flt ", {0, 0, 0, 0}), 0.0);
    EXPECT_EQ(readOne("FNum", "ui8 ", {0}), 0.0);
    for (const char* key : {"F0Mn", "F0Mx", "FxAc", "F0AC", "G0Ac", "TC0P", "Fnum"})
        EXPECT_EQ(readOne(key, "fpe2", {0, 0}), std::nullopt) << key;
    EXPECT_EQ(readOne("F0Mn", "fpe2", {0, 4}), 1.0);
}

TEST(Decoders, IntegerTypesAreBigEndian) {
    EXPECT_EQ(readOne("TEST", "ui8 ", {0xC8}), 200.0);
    EXPECT_EQ(readOne("TEST", "ui16", {0x12, 0x34}), 4660.0);
    EXPECT_EQ(readOne("TEST", "ui16", {0x12}), 4608.0);
    EXPECT_EQ(readOne("TEST", "ui32", {0x01, 0x02, 0x03, 0x04}), 16909060.0);
    EXPECT_EQ(readOne("TEST", "ui32", {0xFF, 0xFF, 0xFF, 0xFF}), 4294967295.0);
    EXPECT_EQ(readOne("TEST", "ui32", {0x00, 0x02}), 131072.0);
}

TEST(Decoders, FixedPointTypesDivideAnUnsigned16BitQuantity) {
    const std::pair<const char*, double> divisors[] = {
        {"sp1e", 16384}, {"sp3c", 4096}, {"sp4b", 2048}, {"sp5a", 1024},
        {"sp69", 512},   {"sp78", 256},  {"sp87", 128},  {"sp96", 64},
        {"spa5", 32},    {"spb4", 16},   {"spf0", 1}};
    for (auto [type, divisor] : divisors) {
        EXPECT_EQ(readOne("TEST", type, {0x2F, 0x80}), 12160.0 / divisor) << type;
        EXPECT_EQ(readOne("TEST", type, {0xFF, 0xFF}), 65535.0 / divisor) << type;
    }
    EXPECT_EQ(readOne("TC0P", "sp78", {0x2F, 0x80}), 47.5);
    EXPECT_EQ(readOne("TC0P", "sp78", {0xFF, 0x00}), 255.0);
}

TEST(Decoders, Fpe2DropsItsQuarters) {
    EXPECT_EQ(readOne("F0Ac", "fpe2", {0x1F, 0x43}), 2000.0);
    EXPECT_EQ(readOne("F0Ac", "fpe2", {0x00, 0x07}), 1.0);
    EXPECT_EQ(readOne("F0Ac", "fpe2", {0xFF, 0xFF}), 16383.0);
}

TEST(Decoders, FloatIsLittleEndianSinglePrecision) {
    EXPECT_EQ(readOne("F0Ac", "flt ", {0x00, 0x00, 0xFA, 0x44}), 2000.0);
    EXPECT_EQ(readOne("TEST", "flt ", {0xCD, 0xCC, 0x3C, 0x42}), double(47.2f));
    EXPECT_EQ(readOne("TEST", "flt ", {0x00, 0x00, 0x80, 0xBF}), -1.0);
    auto infinity = readOne("TEST", "flt ", {0x00, 0x00, 0x80, 0x7F});
    ASSERT_TRUE(infinity);
    EXPECT_TRUE(std::isinf(*infinity));
    auto nan = readOne("TEST", "flt ", {0x00, 0x00, 0xC0, 0x7F});
    ASSERT_TRUE(nan);
    EXPECT_TRUE(std::isnan(*nan));
}

TEST(Decoders, TypeMustMatchExactly) {
    for (const char* type : {"ui8", "flt", "ui8\t", "UI16", "sp78 ", "fpe3", "sp7", "si16"}) {
        SimulatedSMC smc;
        smc.setRaw("TEST", fourCharCode(type), 2, {0x12, 0x34});
        EXPECT_EQ(smc.openReader()->readValue("TEST"), std::nullopt) << type;
    }
    SimulatedSMC nonAscii;
    nonAscii.setRaw("TEST", 0x73F03738u, 2, {0x12, 0x34});
    EXPECT_EQ(nonAscii.openReader()->readValue("TEST"), std::nullopt);
}

TEST(ReaderLifetime, OpenRefusedGivesNoReader) {
    SimulatedSMC smc;
    smc.refuseOpen = true;
    EXPECT_EQ(smc.openReader(), nullptr);
    EXPECT_EQ(SMCReader::open(nullptr), nullptr);
    EXPECT_TRUE(smc.log.empty());
}

TEST(ReaderLifetime, ReleasingTheReaderClosesItsConnectionOnce) {
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {2});
    {
        auto reader = smc.openReader();
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->readValue("FNum"), 2.0);
        EXPECT_EQ(smc.log.back(), "5 FNum");
    }
    EXPECT_EQ(smc.log, (std::vector<std::string>{"open", "9 FNum", "5 FNum", "close"}));
}
