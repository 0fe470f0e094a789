#pragma once

#include <cstddef>

// Reads a named kernel setting the way sysctlbyname does: with no buffer, stores the
// size the value needs in *size; with a buffer of *size bytes, fills it and stores
// the size used. Returns 0 on success and -1 on failure.
int readKernelSetting(const char* name, void* buffer, std::size_t* size);
