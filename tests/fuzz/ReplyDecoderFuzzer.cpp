// Arbitrary bytes as a service reply: no crash, and every accepted reply is a
// snapshot of the current version that passes the plausibility check.
#include "App/ReplyDecoding.h"
#include "App/SnapshotPlausibility.h"
#include "Shared/ServiceContract.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto result = decodeReply(std::string_view(reinterpret_cast<const char*>(data), size));
    if (auto* snapshot = std::get_if<SensorSnapshot>(&result))
        if (size > contract::largestReplyBytes ||
            snapshot->protocolVersion != contract::protocolVersion || !isValid(*snapshot))
            std::abort();
    return 0;
}
