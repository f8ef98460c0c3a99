# The two deployment constants compiled into the downloader. Checked before
# anything is built so that a malformed value never reaches a binary.
#
#   NORVANTA_UPDATE_SERVER_ORIGIN   https://host[:port]  (no path, no trailing slash)
#   NORVANTA_PUBLISHER_THUMBPRINT   40 lowercase hexadecimal digits (SHA-1)
#
# With NORVANTA_USE_TEST_PKI the build generates its own test PKI and an empty
# thumbprint means "the test publisher's certificate".

set(NORVANTA_UPDATE_SERVER_ORIGIN "" CACHE STRING
    "Update server origin: https scheme and host, optional port, no path")
set(NORVANTA_PUBLISHER_THUMBPRINT "" CACHE STRING
    "SHA-1 thumbprint of the publisher's code-signing certificate (40 lowercase hex digits)")
option(NORVANTA_USE_TEST_PKI "Generate a test PKI and use its publisher when no thumbprint is given" OFF)

function(norvanta_check_origin value)
  # Host: DNS labels of letters, digits and hyphens; port 1-65535.
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  if(NOT value MATCHES "^https://${label}(\\.${label})*(:[0-9]+)?$")
    message(FATAL_ERROR
      "NORVANTA_UPDATE_SERVER_ORIGIN is \"${value}\": it must be https://host or "
      "https://host:port, with no path, query, user name or trailing slash.")
  endif()
  if(value MATCHES ":([0-9]+)$")
    set(port "${CMAKE_MATCH_1}")
    if(port MATCHES "^0" OR port GREATER 65535)
      message(FATAL_ERROR
        "NORVANTA_UPDATE_SERVER_ORIGIN is \"${value}\": the port must be 1 to 65535 without leading zeros.")
    endif()
  endif()
endfunction()

function(norvanta_check_thumbprint value)
  if(NOT value MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR
      "NORVANTA_PUBLISHER_THUMBPRINT is \"${value}\": it must be 40 lowercase hexadecimal digits "
      "(the SHA-1 fingerprint without colons or blanks).")
  endif()
  string(LENGTH "${value}" length)
  if(NOT length EQUAL 40)
    message(FATAL_ERROR
      "NORVANTA_PUBLISHER_THUMBPRINT is \"${value}\": it has ${length} digits, not 40.")
  endif()
endfunction()

if(NORVANTA_UPDATE_SERVER_ORIGIN STREQUAL "")
  message(FATAL_ERROR
    "NORVANTA_UPDATE_SERVER_ORIGIN is not set. Give the update server origin, "
    "for example -DNORVANTA_UPDATE_SERVER_ORIGIN=https://updates.example.com")
endif()
norvanta_check_origin("${NORVANTA_UPDATE_SERVER_ORIGIN}")

if(NOT NORVANTA_PUBLISHER_THUMBPRINT STREQUAL "")
  norvanta_check_thumbprint("${NORVANTA_PUBLISHER_THUMBPRINT}")
elseif(NOT NORVANTA_USE_TEST_PKI)
  message(FATAL_ERROR
    "NORVANTA_PUBLISHER_THUMBPRINT is not set. Give the SHA-1 thumbprint of the publisher's "
    "code-signing certificate as 40 lowercase hexadecimal digits.")
endif()
