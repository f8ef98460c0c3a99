#include "update/https_transfer.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "common/ensure.h"
#include "common/unique_handle.h"
#include "update/update_texts.h"
#include "update/winhttp_handle.h"

// Older SDK headers lack these.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace {

constexpr DWORD resolveTimeoutMs = 10000;
constexpr DWORD connectTimeoutMs = 10000;
constexpr DWORD sendTimeoutMs = 30000;
constexpr DWORD receiveTimeoutMs = 30000;
constexpr DWORD readBufferBytes = 65536;

struct UrlParts {
  INTERNET_SCHEME scheme = 0;
  INTERNET_PORT port = 0;
  std::wstring host;
  std::wstring target;
};

// Splits the URL into the parts a request needs; refuses credentials.
UrlParts splitUrl(const std::wstring& url) {
  // Every buffer can hold the whole URL, so no component is ever too long for
  // its buffer. An embedded NUL would silently shorten the request target.
  const bool usable =
      !url.empty() && url.size() < MAXDWORD && url.find(L'\0') == std::wstring::npos;
  const DWORD capacity = usable ? static_cast<DWORD>(url.size() + 1) : 1;
  std::vector<wchar_t> host(capacity), path(capacity), extra(capacity), user(capacity),
      password(capacity);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = capacity;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = capacity;
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = capacity;
  parts.lpszUserName = user.data();
  parts.dwUserNameLength = capacity;
  parts.lpszPassword = password.data();
  parts.dwPasswordLength = capacity;
  const BOOL cracked =
      usable && WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts);
  ensure(cracked && parts.dwUserNameLength == 0 && parts.dwPasswordLength == 0, updateText::badUrl);

  UrlParts result;
  result.scheme = parts.nScheme;
  result.port = parts.nPort;
  result.host.assign(host.data(), parts.dwHostNameLength);
  result.target.assign(path.data(), parts.dwUrlPathLength);
  result.target.append(extra.data(), parts.dwExtraInfoLength);
  if (result.target.empty()) {
    result.target = L"/";
  }
  return result;
}

bool isAllowedScheme(const UrlParts& parts) {
  if (parts.scheme == INTERNET_SCHEME_HTTPS) {
    return true;
  }
  // Case-sensitive on purpose: only these two spellings are the loopback.
  return parts.scheme == INTERNET_SCHEME_HTTP && (parts.host == transferSetting::loopbackAddress ||
                                                  parts.host == transferSetting::loopbackName);
}

// The Content-Length the server declared, when it declared a well-formed one.
bool declaredLength(HINTERNET request, std::uint64_t& length) {
  wchar_t text[32] = {};
  DWORD size = sizeof(text);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  const std::size_t units = size / sizeof(wchar_t);
  if (units == 0 || units > 19) {
    return false;
  }
  length = 0;
  for (std::size_t i = 0; i < units; ++i) {
    if (text[i] < L'0' || text[i] > L'9') {
      return false;
    }
    length = length * 10 + static_cast<std::uint64_t>(text[i] - L'0');
  }
  return true;
}

BOOL setSecureProtocols(HINTERNET session, DWORD protocols) {
  return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
}

}  // namespace

void ensureNotCancelled(const CancelQuery& cancel) {
  ensure(!(cancel && cancel()), updateText::cancelled);
}

TransferResult fetchUrl(const std::wstring& url, const std::filesystem::path& destination,
                        std::uint64_t maxBytes, const CancelQuery& cancel) {
  ensureNotCancelled(cancel);
  const UrlParts parts = splitUrl(url);
  ensure(isAllowedScheme(parts), updateText::httpsRequired);

  // Declared in this order so that they close as request, connection, session.
  const UniqueWinHttpHandle session(WinHttpOpen(transferSetting::userAgent,
                                                WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  ensure(session.valid(), updateText::sessionFailed);
  WinHttpSetTimeouts(session.get(), resolveTimeoutMs, connectTimeoutMs, sendTimeoutMs,
                     receiveTimeoutMs);
  if (!setSecureProtocols(session.get(), WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 |
                                             WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3)) {
    ensure(setSecureProtocols(session.get(), WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2),
           updateText::tlsFailed);
  }

  const UniqueWinHttpHandle connection(
      WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
  ensure(connection.valid(), updateText::connectFailed);

  const DWORD requestFlags = parts.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  const UniqueWinHttpHandle request(
      WinHttpOpenRequest(connection.get(), transferSetting::verb, parts.target.c_str(), nullptr,
                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, requestFlags));
  ensure(request.valid(), updateText::requestFailed);
  // A redirect is handed back to the caller as its 3xx status, never followed.
  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                   sizeof(redirectPolicy));

  const BOOL answered = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                           WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                        WinHttpReceiveResponse(request.get(), nullptr);
  ensure(answered, updateText::noResponse);

  TransferResult result;
  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  const BOOL queried = WinHttpQueryHeaders(
      request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
      WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
  ensure(queried, updateText::badStatus);
  result.statusCode = status;
  if (status != HTTP_STATUS_OK) {
    return result;
  }

  const bool toFile = !destination.empty();
  UniqueHandleKernel file;
  if (toFile) {
    if (destination.has_parent_path()) {
      std::filesystem::create_directories(destination.parent_path());
    }
    // Created or truncated, shared as a C runtime stream would share it.
    file.reset(CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ensure(file.valid(), updateText::cannotOpenFile);
  }
  // A failed write is remembered and reported once the body has ended, with
  // the error of the write that failed.
  DWORD writeError = ERROR_SUCCESS;

  // The limit counts the bytes that arrive, whatever length was declared; a
  // declared length is held against the total only once the body has ended.
  std::vector<char> buffer(readBufferBytes);
  std::uint64_t total = 0;
  DWORD received = 0;
  do {
    ensureNotCancelled(cancel);
    received = 0;
    const BOOL read = WinHttpReadData(request.get(), buffer.data(), readBufferBytes, &received);
    ensure(read, updateText::receiveFailed);
    total += received;
    ensure(total <= maxBytes, updateText::overLimit);
    if (toFile) {
      DWORD written = 0;
      if (writeError == ERROR_SUCCESS &&
          (!WriteFile(file.get(), buffer.data(), received, &written, nullptr) ||
           written != received)) {
        const DWORD error = GetLastError();
        writeError = error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
      }
    } else {
      result.body.append(buffer.data(), received);
    }
  } while (received > 0);
  // A connection that ends before the declared length is a failed transfer,
  // not a shorter body. Some WinHTTP versions report it as a normal end and
  // set no error, so the code says what happened: the data ended early.
  std::uint64_t declared = 0;
  if (declaredLength(request.get(), declared) && total != declared) {
    SetLastError(ERROR_HANDLE_EOF);
    ensure(false, updateText::receiveFailed);
  }

  if (toFile) {
    file.reset();
    SetLastError(writeError);
    ensure(writeError == ERROR_SUCCESS, updateText::saveFailed);
  }
  return result;
}
