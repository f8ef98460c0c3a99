#include "trust/installer_verification.h"

#include <cstdint>
#include <string>

#include "common/ensure.h"
#include "common/text.h"
#include "trust/file_hash.h"
#include "trust/publisher_signature.h"
#include "trust/trust_texts.h"
#include "trust/version_resource.h"
#include "update/update_manifest.h"

namespace fs = std::filesystem;

void verifyInstaller(const nlohmann::json& manifest, const fs::path& path) {
  validateManifest(manifest);

  // Size before digest: a file of the wrong size is never hashed.
  ensure(fs::is_regular_file(path), trustText::installerSizeMismatch);
  const std::uintmax_t actualSize = fs::file_size(path);
  const auto expectedSize = manifest.at("sizeBytes").get<std::int64_t>();
  ensure(static_cast<std::uint64_t>(expectedSize) == static_cast<std::uint64_t>(actualSize),
         trustText::installerSizeMismatch);

  const std::string expectedDigest =
      wideToUtf8(toLowerWide(utf8ToWide(textField(manifest, "sha256"))));
  ensure(sha256File(path) == expectedDigest, trustText::installerDigestMismatch);

  ensure(verifyPublisherSignature(path), trustText::installerSignatureRejected);

  const std::wstring expectedVersion = utf8ToWide(textField(manifest, "latestVersion"));
  ensure(readVersionString(path, trustName::productNameKey) == trustName::productName &&
             readVersionString(path, trustName::fileDescriptionKey) ==
                 trustName::installerDescription &&
             readVersionString(path, trustName::productVersionKey) == expectedVersion,
         trustText::installerProductMismatch);
}
