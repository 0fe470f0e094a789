#include "SimulatedSMC.h"

#include <algorithm>
#include <bit>
#include <cstring>

class SimulatedConnection final : public SmcTransport {
  public:
    explicit SimulatedConnection(SimulatedSMC& smc) : smc(smc) { smc.log.push_back("open"); }
    ~SimulatedConnection() override { smc.log.push_back("close"); }

    std::int32_t call(std::uint32_t selector, const void* input, std::size_t inputSize,
                      void* output, std::size_t* outputSize) override {
        return smc.answer(selector, input, inputSize, output, outputSize);
    }

  private:
    SimulatedSMC& smc;
};

std::string keyText(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(static_cast<char>(code >> shift));
    return text;
}

void SimulatedSMC::set(std::string_view key, std::string_view type,
                       const std::vector<std::uint8_t>& bytes) {
    setRaw(key, fourCharCode(type), std::uint32_t(bytes.size()), bytes);
}

void SimulatedSMC::setRaw(std::string_view key, std::uint32_t type, std::uint32_t dataSize,
                          const std::vector<std::uint8_t>& bytes) {
    SmcKeyEntry entry{type, dataSize, {}};
    std::copy_n(bytes.begin(), std::min(bytes.size(), entry.bytes.size()), entry.bytes.begin());
    keys[fourCharCode(key)] = entry;
}

void SimulatedSMC::setFloat(std::string_view key, float value) {
    auto bits = std::bit_cast<std::uint32_t>(value);
    set(key, "flt ",
        {std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t(bits >> 16),
         std::uint8_t(bits >> 24)});
}

void SimulatedSMC::failCalls(std::string_view key, std::uint8_t command, std::int32_t code) {
    failures[{fourCharCode(key), command}] = code;
}

std::unique_ptr<SmcTransport> SimulatedSMC::open() {
    if (refuseOpen)
        return nullptr;
    return std::make_unique<SimulatedConnection>(*this);
}

std::vector<std::string> SimulatedSMC::keysAsked() const {
    std::vector<std::string> asked;
    for (const SmcCall& call : calls)
        if (call.input.command == smcReadKeyInfo)
            asked.push_back(keyText(call.input.key));
    return asked;
}

std::int32_t SimulatedSMC::answer(std::uint32_t selector, const void* input, std::size_t inputSize,
                                  void* output, std::size_t* outputSize) {
    SmcCall call{selector, inputSize, outputSize ? *outputSize : 0, {}};
    std::memcpy(&call.input, input, std::min(inputSize, sizeof call.input));
    if (recording) {
        calls.push_back(call);
        log.push_back(std::to_string(call.input.command) + " " + keyText(call.input.key));
    }

    auto failure = failures.find({call.input.key, call.input.command});
    if (failure != failures.end())
        return failure->second;
    return answerSmcCall(
        [this](std::uint32_t key) {
            auto found = keys.find(key);
            return found == keys.end() ? nullptr : &found->second;
        },
        selector, input, inputSize, output, outputSize);
}
