#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

// A kernel setting read in the sysctlbyname manner (see Platform/KernelSetting.h).
using KernelSettingReader = std::function<int(const char* name, void* buffer, std::size_t* size)>;

// The text of a kernel setting: the bytes up to the first zero byte, ill-formed UTF-8
// replaced, nothing trimmed. Nothing when either call fails or the value is under 2 bytes.
std::optional<std::string> sysctlString(const std::string& name, const KernelSettingReader& read);
std::optional<std::string> sysctlString(const std::string& name);
