# The same sources for 64-bit Windows: runs the tests under wine64 on
# machines whose kernel cannot execute 32-bit code.
set(NORVANTA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
