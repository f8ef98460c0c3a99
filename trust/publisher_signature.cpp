#include "trust/publisher_signature.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "build_config.h"
#include "common/text.h"

namespace {

// SHA-1 thumbprint of the publisher's code-signing certificate, set by the deployer.
constexpr const char* publisherThumbprint = NORVANTA_PUBLISHER_THUMBPRINT;

constexpr DWORD sha1Size = 20;

// Releases the WinTrust state after a verify call, whatever the outcome,
// including an exception while the signer is examined.
class TrustStateCloser {
 public:
  TrustStateCloser(GUID& action, WINTRUST_DATA& data) : action_(action), data_(data) {}
  ~TrustStateCloser() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action_, &data_);
  }
  TrustStateCloser(const TrustStateCloser&) = delete;
  TrustStateCloser& operator=(const TrustStateCloser&) = delete;

 private:
  GUID& action_;
  WINTRUST_DATA& data_;
};

// Lowercase hex thumbprint of the primary signer's own certificate; empty
// when the state holds no usable signer.
std::string signerThumbprint(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) {
    return {};
  }
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
    return {};
  }
  PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  if (certificate == nullptr) {
    return {};
  }
  BYTE hash[sha1Size] = {};
  DWORD length = sha1Size;
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &length) ||
      length != sha1Size) {
    return {};
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (const BYTE byte : hash) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

}  // namespace

bool verifySignerThumbprint(const std::filesystem::path& path, const std::string& thumbprint) {
  const std::wstring filePath = path.wstring();
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = filePath.c_str();
  file.hFile = nullptr;
  file.pgKnownSubject = nullptr;

  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.hWVTStateData = nullptr;
  data.dwProvFlags = 0;
  data.dwUIContext = WTD_UICONTEXT_EXECUTE;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(nullptr, &action, &data);
  const TrustStateCloser closer(action, data);
  if (status != ERROR_SUCCESS) {
    return false;
  }
  const std::string actual = signerThumbprint(data.hWVTStateData);
  if (actual.empty()) {
    return false;
  }
  return toLowerWide(utf8ToWide(actual)) == toLowerWide(utf8ToWide(thumbprint));
}

bool verifyPublisherSignature(const std::filesystem::path& path) {
  return verifySignerThumbprint(path, publisherThumbprint);
}
