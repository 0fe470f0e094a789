#include "Agent/SMCReader.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Answer = std::pair<std::int32_t, SMCParamBlock>;
using Seen = std::vector<std::pair<Bytes, Bytes>>; // input and output block of each call

Bytes memoryOf(const void* block) {
    auto bytes = static_cast<const std::uint8_t*>(block);
    return Bytes(bytes, bytes + sizeof(SMCParamBlock));
}

SMCParamBlock answer(std::uint32_t dataSize, std::string_view type, std::uint8_t fill) {
    SMCParamBlock block;
    block.dataSize = dataSize;
    block.dataType = fourCharCode(type);
    std::memset(block.bytes, fill, sizeof block.bytes);
    return block;
}

// Gives the scripted answers in turn, noting each call's blocks as the reader handed them in.
class ScriptedDriver final : public SmcTransport {
  public:
    ScriptedDriver(std::vector<Answer> answers, Seen& seen) : answers(answers), seen(seen) {}
    std::int32_t call(std::uint32_t selector, const void* input, std::size_t inputSize,
                      void* output, std::size_t* outputSize) override {
        EXPECT_EQ(std::tuple(selector, inputSize, *outputSize), std::tuple(2u, 80u, 80u));
        seen.emplace_back(memoryOf(input), memoryOf(output));
        const auto& [code, block] = answers.at(seen.size() - 1);
        std::memcpy(output, &block, sizeof block);
        return code;
    }

  private:
    std::vector<Answer> answers;
    Seen& seen;
};

std::int32_t readTC0P(const std::vector<Answer>& answers, SMCKeyValue& value, Seen& seen) {
    value.key = "TC0P";
    return SMCReader::open(std::make_unique<ScriptedDriver>(answers, seen))->readKey(value);
}

} // namespace

TEST(ReadKey, InformationThenBytesThroughSelectorTwoOnOneOutputBlock) {
    SMCKeyValue value;
    Seen seen;
    SMCParamBlock info = answer(3, "ui32", 0xAB);
    ASSERT_EQ(readTC0P({{0, info}, {0, answer(0, "", 0xCD)}}, value, seen), kIOReturnSuccess);
    ASSERT_EQ(seen.size(), 2u);
    // "TC0P" packs to 0x54433050 and lies at offset 0 in host (little-endian) order.
    EXPECT_EQ(fourCharCode("TC0P"), 0x54433050u);
    Bytes request{0x50, 0x30, 0x43, 0x54};
    request.resize(80);
    request[42] = smcReadKeyInfo;
    EXPECT_EQ(seen[0], std::pair(request, Bytes(80)));
    request[28] = 3;
    request[42] = smcReadBytes;
    EXPECT_EQ(seen[1], std::pair(request, memoryOf(&info))); // output not cleared in between

    EXPECT_EQ(std::tuple(value.dataSize, value.dataType), std::tuple(3u, "ui32"));
    Bytes kept(32);
    std::fill_n(kept.begin(), 3, 0xCD);
    EXPECT_EQ(Bytes(value.bytes.begin(), value.bytes.end()), kept);
    EXPECT_EQ(typeName(0x7370B738u), "");
}

TEST(ReadKey, FailuresAndBadDataSizesStopTheRead) {
    const struct {
        std::vector<Answer> answers;
        std::int32_t code;
    } cases[] = {
        {{{-7, answer(2, "sp78", 1)}}, -7},
        {{{0, answer(2, "sp78", 0)}, {-9, answer(0, "", 1)}}, -9},
        {{{0, answer(0, "sp78", 1)}}, kIOReturnBadArgument},
        {{{0, answer(33, "sp78", 1)}}, kIOReturnBadArgument},
        {{{0, answer(32, "sp78", 0)}, {0, answer(0, "", 1)}}, kIOReturnSuccess},
    };
    for (const auto& [answers, code] : cases) {
        SMCKeyValue value;
        Seen seen;
        EXPECT_EQ(readTC0P(answers, value, seen), code) << answers[0].second.dataSize;
        EXPECT_EQ(seen.size(), answers.size()) << answers[0].second.dataSize;
        EXPECT_EQ(value.bytes[31], code == kIOReturnSuccess) << answers[0].second.dataSize;
    }
}

TEST(ReadValue, DecodesByExactTypeAndDropsZeroWhereZeroMeansNothing) {
    const auto none = std::optional<double>();
    const struct {
        const char* key;
        const char* type;
        Bytes bytes;
        std::optional<double> value;
    } cases[] = {
        {"TC0P", "sp78", {0x2F, 0x80}, 47.5},
        {"TEST", "sp78", {0xFF, 0x00}, 255.0},
        {"TEST", "ui8 ", {0xC8}, 200.0},
        {"TEST", "ui16", {0x12}, 4608.0},
        {"TEST", "ui32", {0x81, 0x02, 0x03, 0x04}, 2164392708.0},
        {"F0Ac", "fpe2", {0x1F, 0x43}, 2000.0},
        {"F0Ac", "flt ", {0x00, 0x00, 0xFA, 0x44}, 2000.0},
        {"TEST", "flt", {0x00, 0x00, 0xFA, 0x44}, none},
        {"TEST", "s\xF0\x37\x38", {0x2F, 0x80}, none},
        // Zero is a reading only for the fan count and fan current speeds.
        {"F0Ac", "fpe2", {0, 0}, 0.0},
        {"F9Ac", "flt ", {0, 0, 0, 0}, 0.0},
        {"FNum", "ui8 ", {0}, 0.0},
        {"F0Mn", "fpe2", {0, 0}, none},
        {"FxAc", "fpe2", {0, 0}, none},
        {"F0AC", "fpe2", {0, 0}, none},
    };
    auto read = [](const char* key, const char* type, const Bytes& bytes) {
        SimulatedSMC smc;
        smc.set(key, type, bytes);
        return smc.openReader()->readValue(key);
    };
    for (const auto& [key, type, bytes, value] : cases)
        EXPECT_EQ(read(key, type, bytes), value) << key << " " << type;
    // Fixed point: an unsigned big-endian 16-bit quantity over a power of two.
    const char* fixed[] = {"sp1e", "sp3c", "sp4b", "sp5a", "sp69",
                           "sp87", "sp96", "spa5", "spb4", "spf0"};
    const double divisors[] = {16384, 4096, 2048, 1024, 512, 128, 64, 32, 16, 1};
    for (std::size_t i = 0; i < std::size(fixed); ++i)
        EXPECT_EQ(read("TEST", fixed[i], {0xFF, 0x01}), 65281.0 / divisors[i]) << fixed[i];
}

TEST(ReaderLifetime, CallsOnlyForFourByteKeysAndClosesOnRelease) {
    EXPECT_EQ(SMCReader::open(nullptr), nullptr);
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {2});
    auto reader = smc.openReader();
    for (const char* key : {"FNu", "FNumX", "F\xC3\xB1um"})
        EXPECT_EQ(reader->readValue(key), std::nullopt) << key;
    SMCKeyValue value;
    value.key = "FNu";
    EXPECT_EQ(reader->readKey(value), kIOReturnBadArgument);
    EXPECT_EQ(reader->readValue("FNum"), 2.0);
    reader.reset();
    EXPECT_EQ(smc.log, (std::vector<std::string>{"open", "9 FNum", "5 FNum", "close"}));
}

TEST(KeyStore, RefusesMalformedCallsWithoutALookup) {
    SmcKeyEntry entry{fourCharCode("ui8 "), 1, {7}};
    int lookups = 0;
    auto lookup = [&](std::uint32_t) { return ++lookups, &entry; };
    for (auto [command, selector, outputSize] :
         {std::tuple(7, 2u, 80u), std::tuple(9, 3u, 80u), std::tuple(9, 2u, 79u)}) {
        SMCParamBlock input;
        SMCParamBlock output;
        input.command = std::uint8_t(command);
        std::size_t size = outputSize;
        EXPECT_EQ(answerSmcCall(lookup, selector, &input, 80, &output, &size),
                  kIOReturnBadArgument);
    }
    EXPECT_EQ(lookups, 0);
}
