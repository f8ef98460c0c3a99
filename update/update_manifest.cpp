#include "update/update_manifest.h"

#include <algorithm>

#include "common/ensure.h"
#include "update/update_texts.h"
#include "update/version_number.h"

namespace {

constexpr std::size_t digestLength = 64;
constexpr const char* hexDigits = "0123456789abcdefABCDEF";

bool isHexDigest(const std::string& text) {
  return text.size() == digestLength && text.find_first_not_of(hexDigits) == std::string::npos;
}

}  // namespace

void validateManifest(const nlohmann::json& manifest) {
  // A non-boolean "available" raises the JSON library's own type error here.
  ensure(manifest.is_object() && manifest.value("available", false), updateText::notAvailable);

  ensure(textField(manifest, "product") == manifestRule::product, updateText::otherProduct);

  const std::string version = textField(manifest, "latestVersion");
  ensure(std::count(version.begin(), version.end(), '.') == 3, updateText::badVersion);
  parseVersion(version);

  ensure(isHexDigest(textField(manifest, "sha256")), updateText::badDigest);

  const auto size = manifest.find("sizeBytes");
  ensure(size != manifest.end() && size->is_number_integer(), updateText::badSize);
  // An unsigned value of 2^63 or more reads as negative and fails the range check.
  const std::int64_t sizeBytes = size->get<std::int64_t>();
  ensure(sizeBytes >= 1 && sizeBytes <= manifestRule::maxSizeBytes, updateText::sizeOverLimit);

  ensure(textField(manifest, "downloadPath") == manifestRule::downloadPath,
         updateText::pathNotAllowed);
}

std::string textField(const nlohmann::json& value, const std::string& name) {
  if (!value.is_object()) {
    return {};
  }
  const auto member = value.find(name);
  if (member == value.end() || !member->is_string()) {
    return {};
  }
  return member->get<std::string>();
}
