#pragma once

#include <string_view>

// The anchor certificate (PEM) that every signature we accept must chain to; the build
// generates its definition from the anchor it was given or made.
std::string_view signingAnchor();
