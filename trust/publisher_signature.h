#pragma once

#include <filesystem>
#include <string>

// The embedded Authenticode signature verifies and its primary signer's
// certificate has the compiled-in publisher thumbprint. Never throws.
bool verifyPublisherSignature(const std::filesystem::path& path);

// The same check against a given thumbprint (40 hexadecimal digits, any case).
bool verifySignerThumbprint(const std::filesystem::path& path, const std::string& thumbprint);
