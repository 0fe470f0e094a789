#pragma once

#include "../../SmcTransport.h"
#include "HwmonTree.h"
#include "NvmlDevices.h"

#include <memory>
#include <vector>

// An SMC whose keys come from hwmon chips and NVIDIA's devices.
//
// The applesmc chip gives real SMC keys: each temperature under its own label, read when
// first asked for. Other sources stand in for the keys the agent reads, each read once
// when the connection opens:
// - TC0P, the processor: the hottest of the processor chips' own readings (see
//   HwmonRoles.h), one per package, die or SoC;
// - TG0D, the GPU: the hottest of the GPUs' own readings, NVIDIA's devices included;
// - F<i>Ac, F<i>Mn and F<i>Mx for every fan whose speed reads, numbered from 0 in chip
//   order, then NVIDIA's, with their number as FNum. At most 8: where there are more,
//   fans that turn are kept before headers that read 0 rpm.
// A stand-in never replaces an applesmc key. Only plausible temperatures and speeds stand
// in. Nothing when there is no source at all.
std::unique_ptr<SmcTransport> openStandInSmc(const std::vector<HwmonChip>& chips,
                                             const std::vector<NvmlDeviceReadings>& nvidia);
