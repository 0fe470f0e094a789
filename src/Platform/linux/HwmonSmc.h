#pragma once

#include "../SmcTransport.h"

#include <filesystem>
#include <memory>

// An SMC whose keys come from the hwmon chips listed in `classDir` (the kernel's
// /sys/class/hwmon); nothing when no chip is there.
//
// The applesmc chip gives real SMC keys: each temperature under its own label. Other
// chips stand in for the keys the agent reads: the CPU package ("Package id 0" of
// coretemp, "Tctl" of k10temp) as TC0P, coretemp's "Core k" as TCkC, a GPU's edge and
// junction (amdgpu, nouveau) as TG0D and TG0H, and every fan of every chip, numbered
// from 0 in chip order, as F<i>Ac, F<i>Mn and F<i>Mx, with their number as FNum.
// Values are read when first asked for and then kept for the life of the connection.
std::unique_ptr<SmcTransport> openHwmonSmc(const std::filesystem::path& classDir);
