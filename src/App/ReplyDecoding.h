#pragma once

#include "../Shared/SensorSnapshot.h"
#include "ClientError.h"

#include <string_view>
#include <variant>

// A reply's bytes checked in order (size, decoding, version, plausibility); the
// first check that fails decides the error.
std::variant<SensorSnapshot, ClientError> decodeReply(std::string_view data);
