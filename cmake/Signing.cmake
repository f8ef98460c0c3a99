# What ships is what the build leaves: the downloader stripped (NORVANTA_STRIP,
# on in the release preset) and Authenticode-signed by the publisher with
# osslsigncode. The key never enters the tree: give its file or a PKCS#11 URI
# when configuring, with further osslsigncode options (-pkcs11module MODULE,
# -readpass FILE, -ts URL ...) in NORVANTA_SIGN_OPTIONS. Builds with the test
# PKI sign with its publisher.
set(NORVANTA_STRIP OFF CACHE BOOL "Strip the downloader's symbol table")
set(NORVANTA_SIGN_CERTS "" CACHE FILEPATH
    "PEM file: the publisher's code-signing certificate and its chain")
set(NORVANTA_SIGN_KEY "" CACHE STRING "The publisher's private key: a file or a PKCS#11 URI")
set(NORVANTA_SIGN_OPTIONS "" CACHE STRING "Further osslsigncode options (a CMake list)")
if(NORVANTA_USE_TEST_PKI AND NORVANTA_SIGN_KEY STREQUAL "")
  set(NORVANTA_SIGN_CERTS "${NORVANTA_PKI_DIR}/publisher.pem" CACHE FILEPATH "" FORCE)
  set(NORVANTA_SIGN_KEY "${NORVANTA_PKI_DIR}/publisher.key" CACHE STRING "" FORCE)
endif()

function(norvanta_finish_downloader target)
  if(NORVANTA_STRIP AND NOT MSVC)
    target_link_options(${target} PRIVATE -s)
  endif()
  if(NORVANTA_SIGN_KEY STREQUAL "")
    message(STATUS "The downloader is not signed (give NORVANTA_SIGN_CERTS and NORVANTA_SIGN_KEY)")
    return()
  endif()
  if(NORVANTA_SIGN_CERTS STREQUAL "")
    message(FATAL_ERROR "NORVANTA_SIGN_KEY is given, NORVANTA_SIGN_CERTS is not")
  endif()
  find_program(NORVANTA_OSSLSIGNCODE osslsigncode REQUIRED)
  message(STATUS "The downloader is signed with ${NORVANTA_SIGN_CERTS}")
  # Signed after the link (and its strip): the signature covers the final bytes.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${NORVANTA_OSSLSIGNCODE}" sign -certs "${NORVANTA_SIGN_CERTS}"
            -key "${NORVANTA_SIGN_KEY}" -h sha256 ${NORVANTA_SIGN_OPTIONS}
            -in "$<TARGET_FILE:${target}>" -out "$<TARGET_FILE:${target}>.signed"
    COMMAND "${CMAKE_COMMAND}" -E rename "$<TARGET_FILE:${target}>.signed"
            "$<TARGET_FILE:${target}>"
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
