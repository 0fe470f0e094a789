#include "SnapshotJSON.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

using nlohmann::json;

namespace {

struct NotEncodable {};

json number(double value) {
    if (!std::isfinite(value))
        throw NotEncodable{};
    return value;
}

void putOptional(json& object, const char* key, const std::optional<double>& value) {
    if (value)
        object[key] = number(*value);
}

template <typename T>
void putOptional(json& object, const char* key, const std::optional<T>& value) {
    if (value)
        object[key] = *value;
}

json toJSON(const GPUReading& gpu) {
    json object = json::object();
    object["utilizationPercent"] = number(gpu.utilizationPercent);
    putOptional(object, "rendererPercent", gpu.rendererPercent);
    putOptional(object, "tilerPercent", gpu.tilerPercent);
    return object;
}

json toJSON(const FanReading& fan) {
    json object = json::object();
    object["id"] = fan.id;
    object["currentRPM"] = number(fan.currentRPM);
    putOptional(object, "minimumRPM", fan.minimumRPM);
    putOptional(object, "maximumRPM", fan.maximumRPM);
    return object;
}

json toJSON(const SensorSnapshot& snapshot) {
    json object = json::object();
    object["protocolVersion"] = snapshot.protocolVersion;
    object["timestamp"] = number(snapshot.timestamp);
    putOptional(object, "processorName", snapshot.processorName);
    if (snapshot.gpu)
        object["gpu"] = toJSON(*snapshot.gpu);
    putOptional(object, "cpuTemperatureCelsius", snapshot.cpuTemperatureCelsius);
    putOptional(object, "gpuTemperatureCelsius", snapshot.gpuTemperatureCelsius);
    putOptional(object, "fanCount", snapshot.fanCount);
    json fans = json::array();
    for (const FanReading& fan : snapshot.fans)
        fans.push_back(toJSON(fan));
    object["fans"] = std::move(fans);
    putOptional(object, "pluginVersion", snapshot.pluginVersion);
    putOptional(object, "pluginBuild", snapshot.pluginBuild);
    return object;
}

std::optional<std::string> encode(const SensorSnapshot& snapshot, int indent) {
    try {
        // nlohmann's objects keep their keys sorted, so the pretty form is sorted too.
        return toJSON(snapshot).dump(indent, ' ', false, json::error_handler_t::replace);
    } catch (const NotEncodable&) {
        return std::nullopt;
    }
}

// Decoding: any rule broken throws Invalid, which fails the whole snapshot.
struct Invalid {};

const json* find(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

const json& require(const json& object, const char* key) {
    const json* value = find(object, key);
    if (!value)
        throw Invalid{};
    return *value;
}

std::int64_t asInteger(const json& value) {
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            throw Invalid{};
        return std::int64_t(unsignedValue);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    throw Invalid{};
}

double asDouble(const json& value) {
    if (!value.is_number())
        throw Invalid{};
    return value.get<double>();
}

std::string asText(const json& value) {
    if (!value.is_string())
        throw Invalid{};
    return value.get<std::string>();
}

const json& asObject(const json& value) {
    if (!value.is_object())
        throw Invalid{};
    return value;
}

template <typename Convert>
auto optional(const json& object, const char* key, Convert convert)
    -> std::optional<decltype(convert(object))> {
    if (const json* value = find(object, key))
        return convert(*value);
    return std::nullopt;
}

GPUReading gpuFrom(const json& value) {
    const json& object = asObject(value);
    return GPUReading{asDouble(require(object, "utilizationPercent")),
                      optional(object, "rendererPercent", asDouble),
                      optional(object, "tilerPercent", asDouble)};
}

FanReading fanFrom(const json& value) {
    const json& object = asObject(value);
    return FanReading{asInteger(require(object, "id")), asDouble(require(object, "currentRPM")),
                      optional(object, "minimumRPM", asDouble),
                      optional(object, "maximumRPM", asDouble)};
}

SensorSnapshot snapshotFrom(const json& value) {
    const json& object = asObject(value);
    const json& fansValue = require(object, "fans");
    if (!fansValue.is_array())
        throw Invalid{};
    std::vector<FanReading> fans;
    fans.reserve(fansValue.size());
    for (const json& fan : fansValue)
        fans.push_back(fanFrom(fan));
    return SensorSnapshot{asInteger(require(object, "protocolVersion")),
                          asDouble(require(object, "timestamp")),
                          optional(object, "processorName", asText),
                          optional(object, "gpu", gpuFrom),
                          optional(object, "cpuTemperatureCelsius", asDouble),
                          optional(object, "gpuTemperatureCelsius", asDouble),
                          optional(object, "fanCount", asInteger),
                          std::move(fans),
                          optional(object, "pluginVersion", asText),
                          optional(object, "pluginBuild", asInteger)};
}

} // namespace

std::optional<std::string> encodeCompact(const SensorSnapshot& snapshot) {
    return encode(snapshot, -1);
}

std::optional<std::string> encodePrettySorted(const SensorSnapshot& snapshot) {
    return encode(snapshot, 2);
}

std::optional<SensorSnapshot> decodeSnapshot(std::string_view bytes) {
    json document = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (document.is_discarded())
        return std::nullopt;
    try {
        return snapshotFrom(document);
    } catch (const Invalid&) {
        return std::nullopt;
    }
}
