#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/callbacks.h"

struct TransferResult {
  std::string body;              // the body in memory mode with status 200; empty otherwise
  std::uint32_t statusCode = 0;  // HTTP status of the response
};

// Fails with the cancellation message once the query says so; a missing
// query never cancels. Every transfer step of the update check uses it.
void ensureNotCancelled(const CancelQuery& cancel);

// One HTTP GET under the transport policy: HTTPS (plain HTTP only to the
// hosts 127.0.0.1 and localhost), TLS 1.2/1.3, no redirects, no credentials
// in the URL, at most maxBytes body bytes. An empty destination keeps the
// body in memory; otherwise it is streamed to that file. A status other than
// 200 is returned, not raised; every other problem raises.
TransferResult fetchUrl(const std::wstring& url, const std::filesystem::path& destination,
                        std::uint64_t maxBytes, const CancelQuery& cancel);
