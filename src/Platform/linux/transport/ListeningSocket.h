#pragma once

#include "../system/FileDescriptor.h"

#include <string>
#include <sys/resource.h>

// The soft limit on open files, raised as far as the hard limit allows.
rlim_t raiseOpenFileLimit();

// The listening socket the service manager passed on when it started this process.
FileDescriptor passedSocket();

// Binds the path, replacing a socket file nobody listens on, never a live one or a file
// of another kind (EADDRINUSE).
Result<FileDescriptor> boundSocket(const std::string& path);
