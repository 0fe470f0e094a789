#include "Collector.h"

#include "Fans.h"
#include "GPUUtilization.h"
#include "KernelText.h"
#include "PluginInfo.h"
#include "TemperatureSensors.h"

#include <chrono>

namespace {

// 2001-01-01 00:00:00 UTC on the Unix clock.
constexpr std::chrono::seconds referenceDateSinceUnixEpoch{978307200};

// A source that is not set gives nothing, as hardware without the reading would.
template <typename T> std::optional<T> readingOf(const std::function<std::optional<T>()>& source) {
    return source ? source() : std::nullopt;
}

} // namespace

double secondsSinceReferenceDate() {
    auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch - referenceDateSinceUnixEpoch).count();
}

SnapshotSources liveSources() {
    return SnapshotSources{
        [] { return sysctlString("machdep.cpu.brand_string"); },
        [] { return readGPUUtilization(); },
        [] { return SMCReader::open(); },
        secondsSinceReferenceDate,
    };
}

SensorSnapshot collectSnapshot(const SnapshotSources& sources) {
    SensorSnapshot snapshot;
    snapshot.processorName = readingOf(sources.processorName);
    snapshot.gpu = readingOf(sources.gpuUtilization);
    const PluginVersionInfo& plugin = pluginVersionInfo();
    std::unique_ptr<SMCReader> reader = sources.openSMC ? sources.openSMC() : nullptr;
    if (reader) {
        std::optional<int> fanCount = readFanCount(*reader);
        snapshot.fanCount = fanCount;
        snapshot.cpuTemperatureCelsius =
            averageTemperature(cpuTemperatureKeys(snapshot.processorName), *reader);
        snapshot.gpuTemperatureCelsius =
            averageTemperature(gpuTemperatureKeys(snapshot.processorName), *reader);
        snapshot.fans = readFans(fanCount, *reader);
    }
    snapshot.timestamp = sources.now ? sources.now() : secondsSinceReferenceDate();
    reader.reset(); // the connection closes only after the snapshot is stamped
    snapshot.pluginVersion = plugin.version;
    snapshot.pluginBuild = plugin.build;
    snapshot.protocolVersion = contract::protocolVersion;
    return snapshot;
}
