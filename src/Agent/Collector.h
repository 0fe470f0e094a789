#pragma once

#include "../Shared/SensorSnapshot.h"
#include "SMCReader.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Where each reading of a snapshot comes from. The agent uses liveSources(); tests
// put their own readings in place. A source left unset gives no reading; an unset
// clock is the system's.
struct SnapshotSources {
    std::function<std::optional<std::string>()> processorName;
    std::function<std::optional<GPUReading>()> gpuUtilization;
    std::function<std::unique_ptr<SMCReader>()> openSMC; // one reader per snapshot
    std::function<double()> now;                         // seconds since 2001-01-01 00:00:00 UTC
};

SnapshotSources liveSources();

// Seconds since 2001-01-01 00:00:00 UTC by the system's wall clock.
double secondsSinceReferenceDate();

// Reads everything afresh, in a fixed order; never fails, absent readings stay absent.
SensorSnapshot collectSnapshot(const SnapshotSources& sources);
