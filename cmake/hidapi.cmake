# hidapi's Windows backend (windows/hid.c) from Debian's source package,
# fetched by scripts/fetch-hidapi, built as the static library hidapi_win.
#
# The program links hidapi_win; the test program links the scripted double
# tests/fake_hidapi.cpp instead. Both need hidapi.h, so its folder is added to
# the include path of every target defined after this file is included.
#
# Nothing beyond kernel32 and the C runtime is linked for it: hidapi loads
# hid.dll and cfgmgr32.dll itself at run time (LoadLibrary/GetProcAddress).
#
# Set HIDAPI_SOURCE_DIR to the unpacked source, or HIDAPI_ROOT to the folder
# that scripts/fetch-hidapi fetched into (default build/third_party).

set(HIDAPI_ROOT "${CMAKE_SOURCE_DIR}/build/third_party" CACHE PATH
    "Folder holding the unpacked hidapi-<version> source")

if(NOT HIDAPI_SOURCE_DIR)
    file(GLOB _hidapi_candidates LIST_DIRECTORIES true "${HIDAPI_ROOT}/hidapi-*")
    foreach(_candidate ${_hidapi_candidates})
        if(EXISTS "${_candidate}/windows/hid.c")
            set(HIDAPI_SOURCE_DIR "${_candidate}")
        endif()
    endforeach()
endif()

if(NOT HIDAPI_SOURCE_DIR OR NOT EXISTS "${HIDAPI_SOURCE_DIR}/windows/hid.c")
    message(FATAL_ERROR "hidapi source not found under '${HIDAPI_ROOT}': "
        "run scripts/fetch-hidapi, or set HIDAPI_SOURCE_DIR")
endif()
set(HIDAPI_SOURCE_DIR "${HIDAPI_SOURCE_DIR}" CACHE PATH "Unpacked hidapi source" FORCE)

include_directories(SYSTEM "${HIDAPI_SOURCE_DIR}/hidapi")

add_library(hidapi_win STATIC "${HIDAPI_SOURCE_DIR}/windows/hid.c")
target_include_directories(hidapi_win SYSTEM PUBLIC "${HIDAPI_SOURCE_DIR}/hidapi")
# Third-party code: our warning flags are not its concern (GCC 12 reports
# false -Warray-bounds in its error-string helper at -O2).
target_compile_options(hidapi_win PRIVATE -w)
target_link_libraries(hidapi_win PUBLIC kernel32)
