# System libraries that are not KnownDLLs are delay-loaded, so that the entry
# point can restrict the DLL search to System32 before any of them is loaded:
# a DLL planted beside the downloader (a Downloads folder) is never used.
#
# norvanta_delay_load(target dll...) links target with the given DLLs
# (names without extension) delay-loaded.

if(MSVC)
  function(norvanta_delay_load target)
    foreach(dll IN LISTS ARGN)
      target_link_libraries(${target} PUBLIC ${dll})
      target_link_options(${target} INTERFACE "/DELAYLOAD:${dll}.dll")
    endforeach()
    target_link_libraries(${target} PUBLIC delayimp)
  endfunction()
  return()
endif()

# mingw-w64: import libraries with delay-load thunks, made with dlltool from
# a definition file that lists what the regular import library exports.
find_program(NORVANTA_NM NAMES ${NORVANTA_MINGW_PREFIX}-nm REQUIRED)
find_program(NORVANTA_DLLTOOL NAMES ${NORVANTA_MINGW_PREFIX}-dlltool REQUIRED)
find_program(NORVANTA_OBJCOPY NAMES ${NORVANTA_MINGW_PREFIX}-objcopy REQUIRED)

function(norvanta_delay_load target)
  set(folder "${CMAKE_BINARY_DIR}/delay-load")
  file(MAKE_DIRECTORY "${folder}")
  foreach(dll IN LISTS ARGN)
    set(import_library "/usr/${NORVANTA_MINGW_PREFIX}/lib/lib${dll}.a")
    if(NOT EXISTS "${import_library}")
      message(FATAL_ERROR "no import library ${import_library}")
    endif()
    execute_process(COMMAND "${NORVANTA_NM}" "${import_library}" OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "nm failed on ${import_library}")
    endif()
    string(REGEX MATCHALL " I __imp_[^\n]+" imports "${symbols}")
    set(definition "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(import IN LISTS imports)
      string(REGEX REPLACE "^ I __imp_" "" name "${import}")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^_" "" name "${name}")  # cdecl/stdcall leading underscore
      endif()
      string(APPEND definition "${name}\n")
    endforeach()
    file(WRITE "${folder}/${dll}.def" "${definition}")
    set(library "${folder}/lib${dll}_delay.a")
    add_custom_command(
      OUTPUT "${library}"
      COMMAND "${NORVANTA_DLLTOOL}" -k -d "${folder}/${dll}.def" -y "${library}"
      # The i386 linker drops the code of an import-library member whose
      # function symbol nobody references by name, as it does for the jump
      # stubs of ordinary import libraries. A call through a dllimport
      # declaration references only the address-table slot, so the slot kept
      # pointing at the discarded lazy-binding stub and held 0. Without the
      # code flag the stubs are not taken for jump stubs; the linker still
      # places them in the image's .text.
      COMMAND "${NORVANTA_OBJCOPY}" "--rename-section" ".text=.text$delay,alloc,load,readonly,contents"
              "${library}"
      DEPENDS "${folder}/${dll}.def"
      VERBATIM)
    add_custom_target(norvanta_delay_${dll} DEPENDS "${library}")
    add_dependencies(${target} norvanta_delay_${dll})
    target_link_libraries(${target} PUBLIC "${library}")
  endforeach()
  target_link_libraries(${target} PUBLIC delayimp)
endfunction()
