#include "SnapshotPlausibility.h"

#include "GraphemeCount.h"

#include "../Shared/SensorLimits.h"

#include <set>

namespace {

constexpr std::size_t longestProcessorName = 256;
constexpr std::size_t longestPluginVersion = 64;
constexpr std::int64_t largestPluginBuild = 2147483647;

// As the shared limits: only finite values pass.
bool within(double value, double lowest, double highest) {
    return value >= lowest && value <= highest;
}

bool absentOrWithin(const std::optional<double>& value, double lowest, double highest) {
    return !value || within(*value, lowest, highest);
}

bool isPercent(double value) {
    return within(value, 0, 100);
}

bool plausible(const GPUReading& gpu) {
    return isPercent(gpu.utilizationPercent) && absentOrWithin(gpu.rendererPercent, 0, 100) &&
           absentOrWithin(gpu.tilerPercent, 0, 100);
}

bool plausible(const FanReading& fan, const std::optional<std::int64_t>& fanCount) {
    return fan.id >= 0 && fan.id < mostFans && (!fanCount || fan.id < *fanCount) &&
           isPlausibleRPM(fan.currentRPM) &&
           absentOrWithin(fan.minimumRPM, 0, fastestPlausibleRPM) &&
           absentOrWithin(fan.maximumRPM, 0, fastestPlausibleRPM);
}

bool plausibleFans(const SensorSnapshot& snapshot) {
    if (snapshot.fanCount && (*snapshot.fanCount < 0 || *snapshot.fanCount > mostFans))
        return false;
    if (snapshot.fans.size() > std::size_t(mostFans))
        return false;
    std::set<std::int64_t> ids;
    for (const FanReading& fan : snapshot.fans)
        if (!plausible(fan, snapshot.fanCount) || !ids.insert(fan.id).second)
            return false;
    return true;
}

// Every character takes at least a byte, so a text no longer in bytes than the limit
// needs no counting, which costs more than all the other checks together.
bool longerThan(std::string_view text, std::size_t limit) {
    return text.size() > limit && graphemeCount(text) > limit;
}

} // namespace

bool isValid(const SensorSnapshot& snapshot) {
    if (snapshot.processorName && longerThan(*snapshot.processorName, longestProcessorName))
        return false;
    if (snapshot.pluginVersion && (snapshot.pluginVersion->empty() ||
                                   longerThan(*snapshot.pluginVersion, longestPluginVersion)))
        return false;
    if (snapshot.pluginBuild &&
        (*snapshot.pluginBuild < 1 || *snapshot.pluginBuild > largestPluginBuild))
        return false;
    if (snapshot.gpu && !plausible(*snapshot.gpu))
        return false;
    return absentOrWithin(snapshot.cpuTemperatureCelsius, coolestPlausibleCelsius,
                          hottestPlausibleCelsius) &&
           absentOrWithin(snapshot.gpuTemperatureCelsius, coolestPlausibleCelsius,
                          hottestPlausibleCelsius) &&
           plausibleFans(snapshot);
}
