#include "SmcKeyStore.h"

#include <algorithm>
#include <cstring>

std::int32_t answerSmcCall(const SmcKeyLookup& lookup, std::uint32_t selector, const void* input,
                           std::size_t inputSize, void* output, std::size_t* outputSize) {
    if (selector != smcSelector || !input || !output || !outputSize ||
        inputSize != sizeof(SMCParamBlock) || *outputSize < sizeof(SMCParamBlock))
        return kIOReturnBadArgument;
    SMCParamBlock request;
    std::memcpy(&request, input, sizeof request);
    if (request.command != smcReadKeyInfo && request.command != smcReadBytes)
        return kIOReturnBadArgument;

    SMCParamBlock reply;
    reply.key = request.key;
    const SmcKeyEntry* entry = lookup(request.key);
    if (request.command == smcReadKeyInfo) {
        if (entry) {
            reply.dataSize = entry->dataSize;
            reply.dataType = entry->dataType;
        }
    } else {
        if (!entry)
            return kIOReturnBadArgument;
        std::size_t count = std::min<std::size_t>(
            {request.dataSize, entry->dataSize, entry->bytes.size(), sizeof reply.bytes});
        std::copy_n(entry->bytes.begin(), count, reply.bytes);
    }
    std::memcpy(output, &reply, sizeof reply);
    *outputSize = sizeof reply;
    return kIOReturnSuccess;
}
