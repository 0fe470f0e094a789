#pragma once

#include "FileDescriptor.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>

// "$XDG_RUNTIME_DIR/<serviceName>"; nothing without an absolute runtime directory or
// when the path does not fit a socket address.
std::optional<std::string> serviceSocketPath(std::string_view serviceName);

// Nothing when the path does not fit.
std::optional<sockaddr_un> unixAddress(const std::string& path);

// Sends all of `bytes` in one message that carries this process's credentials, which
// the kernel vouches for. False when not all could be sent at once.
bool sendWithCredentials(int fd, std::string_view bytes);
