#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Reads a named kernel setting the way sysctlbyname does: with no buffer, stores the
// size the value needs in *size; with a buffer of *size bytes, fills it and stores
// the size used. Returns 0 on success and -1 on failure.
int readKernelSetting(const char* name, void* buffer, std::size_t* size);

// The processor's name in /proc/cpuinfo's format: the text of the first processor's
// "model name" line after its colon and the one space that follows it; where arm64 writes
// no name, one made from the processor's implementer and part codes.
std::optional<std::string> cpuModelName(std::string_view cpuinfo);
