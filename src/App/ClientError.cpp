#include "ClientError.h"

std::string_view description(ClientError error) {
    switch (error) {
    case ClientError::unavailable:
        return "The sensor service is unavailable.";
    case ClientError::timedOut:
        return "The sensor service did not respond.";
    case ClientError::responseTooLarge:
        return "The sensor service returned too much data.";
    case ClientError::invalidResponse:
        return "The sensor service returned invalid data.";
    case ClientError::incompatibleVersion:
        return "Corvane and its plugin are not compatible. Update both apps.";
    }
    return {};
}
