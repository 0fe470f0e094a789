#include "ReplyDecoding.h"

#include "../Shared/ServiceContract.h"
#include "../Shared/SnapshotJSON.h"
#include "SnapshotPlausibility.h"

std::variant<SensorSnapshot, ClientError> decodeReply(std::string_view data) {
    if (data.size() > contract::largestReplyBytes)
        return ClientError::responseTooLarge;
    std::optional<SensorSnapshot> snapshot = decodeSnapshot(data);
    if (!snapshot)
        return ClientError::invalidResponse;
    if (snapshot->protocolVersion != contract::protocolVersion)
        return ClientError::incompatibleVersion;
    if (!isValid(*snapshot))
        return ClientError::invalidResponse;
    return std::move(*snapshot);
}
