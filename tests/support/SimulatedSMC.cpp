#include "SimulatedSMC.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

struct Connection final : SmcTransport {
    SimulatedSMC& smc;
    explicit Connection(SimulatedSMC& simulated) : smc(simulated) { smc.log.push_back("open"); }
    ~Connection() override { smc.log.push_back("close"); }

    std::int32_t call(std::uint32_t selector, const void* input, std::size_t inputSize,
                      void* output, std::size_t* outputSize) override {
        SMCParamBlock request;
        std::memcpy(&request, input, std::min(inputSize, sizeof request));
        if (smc.recording)
            smc.log.push_back(std::to_string(request.command) + " " + typeName(request.key));
        auto lookup = [this](std::uint32_t code) {
            auto found = smc.keys.find(code);
            return found == smc.keys.end() ? nullptr : &found->second;
        };
        return answerSmcCall(lookup, selector, input, inputSize, output, outputSize);
    }
};

} // namespace

void SimulatedSMC::set(std::string_view key, std::string_view type,
                       const std::vector<std::uint8_t>& bytes) {
    SmcKeyEntry entry{fourCharCode(type), std::uint32_t(bytes.size()), {}};
    std::copy_n(bytes.begin(), std::min(bytes.size(), entry.bytes.size()), entry.bytes.begin());
    keys[fourCharCode(key)] = entry;
}

void SimulatedSMC::setFloat(std::string_view key, float value) {
    auto bits = std::bit_cast<std::array<std::uint8_t, 4>>(value); // little-endian hosts
    set(key, "flt ", {bits.begin(), bits.end()});
}

std::unique_ptr<SMCReader> SimulatedSMC::openReader() {
    return SMCReader::open(std::make_unique<Connection>(*this));
}
