# Test PKI generated into the build tree with openssl (never committed):
#   root        test root CA, trusted inside the build's Wine prefix
#   server      TLS server certificate for localhost
#   publisher   code-signing certificate whose thumbprint the dev build pins
#   publisher2  a second code-signing certificate under the same root
# The presets share one PKI, so that a program of one build accepts the
# fixtures of another (the 32-bit downloader is tested with the 64-bit
# build's helpers where the machine cannot run 32-bit code natively); the
# build tree's pki is then a link to it.
find_program(NORVANTA_OPENSSL openssl REQUIRED)
set(NORVANTA_PKI_DIR "${CMAKE_BINARY_DIR}/pki" CACHE PATH "Folder of the generated test PKI")

if(NOT EXISTS "${NORVANTA_PKI_DIR}/publisher.thumbprint")
  file(MAKE_DIRECTORY "${NORVANTA_PKI_DIR}")
  execute_process(
    COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/make-test-pki.sh" "${NORVANTA_PKI_DIR}"
    RESULT_VARIABLE result
    OUTPUT_FILE "${NORVANTA_PKI_DIR}/make-test-pki.log"
    ERROR_FILE "${NORVANTA_PKI_DIR}/make-test-pki.log")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Generating the test PKI failed; see ${NORVANTA_PKI_DIR}/make-test-pki.log")
  endif()
endif()

if(NOT NORVANTA_PKI_DIR STREQUAL "${CMAKE_BINARY_DIR}/pki")
  file(REMOVE_RECURSE "${CMAKE_BINARY_DIR}/pki")
  file(CREATE_LINK "${NORVANTA_PKI_DIR}" "${CMAKE_BINARY_DIR}/pki" SYMBOLIC)
endif()

file(READ "${NORVANTA_PKI_DIR}/publisher.thumbprint" NORVANTA_TEST_PUBLISHER_THUMBPRINT)
string(STRIP "${NORVANTA_TEST_PUBLISHER_THUMBPRINT}" NORVANTA_TEST_PUBLISHER_THUMBPRINT)
file(READ "${NORVANTA_PKI_DIR}/publisher2.thumbprint" NORVANTA_TEST_PUBLISHER2_THUMBPRINT)
string(STRIP "${NORVANTA_TEST_PUBLISHER2_THUMBPRINT}" NORVANTA_TEST_PUBLISHER2_THUMBPRINT)
