#pragma once

#include <string_view>

// Why a fetch from the sensor service failed, in the client's own terms.
enum class ClientError {
    unavailable,
    timedOut,
    responseTooLarge,
    invalidResponse,
    incompatibleVersion,
};

// The sentence a user may be shown for each case.
std::string_view description(ClientError error);
