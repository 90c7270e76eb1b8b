# Windows build (mingw-w64), 64-bit and 32-bit. With PIXWICK_RUN_TESTS the
# tests run under Wine (the 32-bit ones in WoW64 mode, in the same prefix).
add_compile_options(-Wall -Wextra)
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++)

set(PIXWICK_SYSTEM_LIBS gdi32 user32 shell32 advapi32 kernel32 ole32 oleaut32 uuid
    psapi winmm dsound iphlpapi setupapi version)

if(EXISTS ${CMAKE_SOURCE_DIR}/cmake/hidapi.cmake)
    include(${CMAKE_SOURCE_DIR}/cmake/hidapi.cmake)
endif()

# main.cpp is in the library too, so tests and benchmarks reach the tick;
# the test program never calls its WinMain.
file(GLOB CORE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp)
add_library(pixwick_core STATIC ${CORE_SOURCES})
target_include_directories(pixwick_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(pixwick_core PUBLIC ${PIXWICK_SYSTEM_LIBS})

if(EXISTS ${CMAKE_SOURCE_DIR}/src/main.cpp)
    add_executable(pixwick WIN32 ${CMAKE_SOURCE_DIR}/src/main.cpp)
    target_link_libraries(pixwick PRIVATE pixwick_core)
    if(TARGET hidapi_win)
        target_link_libraries(pixwick PRIVATE hidapi_win)
    endif()
    # Version resource and manifest, with the name and version of PIXWICK_NAME.
    file(STRINGS ${CMAKE_SOURCE_DIR}/src/app.h name_line REGEX "^#define PIXWICK_NAME ")
    if(NOT name_line MATCHES "\"([^ \"]+) (([0-9]+)\\.([0-9]+)\\.([0-9]+))\"")
        message(FATAL_ERROR "src/app.h: PIXWICK_NAME is not \"Name 1.2.3\"")
    endif()
    set(PIXWICK_PRODUCT ${CMAKE_MATCH_1})
    set(PIXWICK_VERSION ${CMAKE_MATCH_2})
    set(PIXWICK_VERSION_COMMAS ${CMAKE_MATCH_3},${CMAKE_MATCH_4},${CMAKE_MATCH_5})
    set(PIXWICK_DESCRIPTION "${PIXWICK_PRODUCT}, live pages on the G13/G15 keyboard display")
    set(PIXWICK_MANIFEST ${CMAKE_BINARY_DIR}/pixwick.manifest)
    configure_file(${CMAKE_SOURCE_DIR}/src/pixwick.manifest.in ${PIXWICK_MANIFEST} @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/src/pixwick.rc.in ${CMAKE_BINARY_DIR}/pixwick.rc @ONLY)
    set_source_files_properties(${CMAKE_BINARY_DIR}/pixwick.rc PROPERTIES OBJECT_DEPENDS ${PIXWICK_MANIFEST})
    target_sources(pixwick PRIVATE ${CMAKE_BINARY_DIR}/pixwick.rc)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/standins/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/standins ${CMAKE_BINARY_DIR}/standins)
endif()

add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Tests: every tests/*.cpp goes into one program; the hidapi functions come
# from the scripted double in tests/, never from the real library.
file(GLOB TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
if(TEST_SOURCES)
    add_executable(pixwick_tests ${TEST_SOURCES})
    target_include_directories(pixwick_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/standins/lcdmon)
    target_link_libraries(pixwick_tests PRIVATE pixwick_core gtest_main)
    # Wine maps the host's root to Z:.
    target_compile_definitions(pixwick_tests PRIVATE PIXWICK_GOLDEN_DIR="Z:${CMAKE_SOURCE_DIR}/tests/golden")
    if(PIXWICK_RUN_TESTS)
        include(GoogleTest)
        gtest_discover_tests(pixwick_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
            PROPERTIES TIMEOUT 120)
    endif()
endif()

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
foreach(bench ${BENCH_SOURCES})
    get_filename_component(name ${bench} NAME_WE)
    add_executable(${name} ${bench})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/standins/lcdmon)
    target_link_libraries(${name} PRIVATE pixwick_core)
    if(TARGET hidapi_win)
        target_link_libraries(${name} PRIVATE hidapi_win)
    endif()
endforeach()

# End-to-end tests of the real program against the LCD Manager stand-in.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt AND TARGET pixwick)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/e2e ${CMAKE_BINARY_DIR}/e2e)
endif()
