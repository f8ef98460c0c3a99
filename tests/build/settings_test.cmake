cmake_minimum_required(VERSION 3.20)
# Configures the project with good and bad deployment constants. The check
# runs before project(), so a rejected value fails within a second.
set(good_origin "https://updates.example.com")
set(good_thumb "0123456789abcdef0123456789abcdef01234567")

# origin | thumbprint | expected message part ("" = accepted)
set(cases
  "${good_origin}|${good_thumb}|"
  "https://localhost:47443|${good_thumb}|"
  "https://a-b.example.com:443|${good_thumb}|"
  "|${good_thumb}|NORVANTA_UPDATE_SERVER_ORIGIN is not set"
  "http://updates.example.com|${good_thumb}|must be https://host"
  "https://updates.example.com/|${good_thumb}|must be https://host"
  "https://updates.example.com/path|${good_thumb}|must be https://host"
  "https://user@updates.example.com|${good_thumb}|must be https://host"
  "https://updates.example.com?x=1|${good_thumb}|must be https://host"
  "https://updates.example.com:0|${good_thumb}|the port must be 1 to 65535"
  "https://updates.example.com:65536|${good_thumb}|the port must be 1 to 65535"
  "${good_origin}||NORVANTA_PUBLISHER_THUMBPRINT is not set"
  "${good_origin}|0123456789ABCDEF0123456789ABCDEF01234567|40 lowercase hexadecimal digits"
  "${good_origin}|01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67|40 lowercase hexadecimal digits"
  "${good_origin}|0123456789abcdef0123456789abcdef0123456|has 39 digits"
  "${good_origin}|0123456789abcdef0123456789abcdef012345678|has 41 digits"
)

set(failures 0)
set(index 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 origin)
  list(GET parts 1 thumb)
  list(GET parts 2 expected)
  math(EXPR index "${index} + 1")
  set(build "${WORK_DIR}/${index}")
  file(REMOVE_RECURSE "${build}")
  # A toolchain that cannot work: an accepted value is recognised by reaching
  # project(), whatever happens there.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${build}" -G Ninja
            "-DNORVANTA_UPDATE_SERVER_ORIGIN=${origin}" "-DNORVANTA_PUBLISHER_THUMBPRINT=${thumb}"
            -DNORVANTA_USE_TEST_PKI=OFF -DCMAKE_C_COMPILER=/nonexistent/cc
            -DCMAKE_CXX_COMPILER=/nonexistent/c++
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "${out}${err}")
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  if(expected STREQUAL "")
    if(text MATCHES "NORVANTA_UPDATE_SERVER_ORIGIN is|NORVANTA_PUBLISHER_THUMBPRINT is")
      message(SEND_ERROR "case ${index} (${origin} / ${thumb}) was rejected:\n${text}")
      math(EXPR failures "${failures} + 1")
    endif()
  else()
    string(FIND "${text}" "${expected}" at)
    if(result EQUAL 0 OR at EQUAL -1)
      message(SEND_ERROR "case ${index} (${origin} / ${thumb}) should fail with \"${expected}\":\n${text}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
  file(REMOVE_RECURSE "${build}")
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} settings case(s) failed")
endif()
