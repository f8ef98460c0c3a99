#include "update/version_number.h"

#include "common/ensure.h"
#include "update/update_texts.h"

namespace {

constexpr std::size_t maxComponentDigits = 5;
constexpr std::uint32_t maxComponentValue = 65535;

}  // namespace

VersionNumber parseVersion(const char* text, std::size_t length) {
  ensure(length != 0, updateText::invalidVersion);
  VersionNumber version{0, 0, 0, 0};
  std::size_t count = 0;
  std::size_t position = 0;
  while (true) {
    ensure(count < version.size(), updateText::invalidVersion);
    std::size_t end = position;
    while (end < length && text[end] != '.') {
      ++end;
    }
    const std::size_t digits = end - position;
    ensure(digits >= 1 && digits <= maxComponentDigits, updateText::invalidVersion);
    std::uint32_t value = 0;
    for (std::size_t i = position; i < end; ++i) {
      const char c = text[i];
      ensure(c >= '0' && c <= '9', updateText::invalidVersion);
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    ensure(value <= maxComponentValue, updateText::invalidVersion);
    version[count++] = value;
    if (end == length) {
      return version;
    }
    position = end + 1;
    // A dot must be followed by another component.
    ensure(position < length, updateText::invalidVersion);
  }
}

bool isNewerVersion(const std::string& candidate, const std::string& baseline) {
  const VersionNumber base = parseVersion(baseline);
  const VersionNumber next = parseVersion(candidate);
  for (std::size_t i = 0; i < next.size(); ++i) {
    if (next[i] != base[i]) {
      return next[i] > base[i];
    }
  }
  return false;
}
