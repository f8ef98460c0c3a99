#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Four components, most significant first, each 0..65535 after parsing.
using VersionNumber = std::array<std::uint32_t, 4>;

// Strict syntax: one to four dot-separated components of 1-5 ASCII digits,
// each at most 65535; missing components are 0. Any fault raises
// "Invalid version" through ensure. The text is never scanned for a NUL.
VersionNumber parseVersion(const char* text, std::size_t length);
inline VersionNumber parseVersion(const std::string& text) {
  return parseVersion(text.data(), text.size());
}

// True when candidate is strictly greater than baseline. The baseline is
// parsed first.
bool isNewerVersion(const std::string& candidate, const std::string& baseline);
