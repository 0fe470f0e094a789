#pragma once

#include "../Shared/SensorSnapshot.h"

// Whether every reading of a decoded snapshot lies in a range the hardware can
// produce; absent readings pass. `timestamp` and `protocolVersion` are not examined.
bool isValid(const SensorSnapshot& snapshot);
