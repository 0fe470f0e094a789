#pragma once

#include "Collector.h"

// Publishes the sensor service and serves it on this thread until the idle exit ends
// the process. Returns 0 only when there is nothing to serve (no socket to listen on).
int runServiceMode(const SnapshotSources& sources);
