# Native build of the byte-only code, tested under ASan and UBSan.
option(PIXWICK_FUZZ "Build the fuzz targets instead of the tests" OFF)
if(PIXWICK_FUZZ)
    include(${CMAKE_SOURCE_DIR}/cmake/fuzz.cmake)
    return()
endif()
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -g -O1 ${SANITIZE})
add_link_options(${SANITIZE})

add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(pixwick_bytes STATIC ${BYTE_ONLY_SOURCES})
target_include_directories(pixwick_bytes PUBLIC ${CMAKE_SOURCE_DIR}/src)

if(BYTE_ONLY_TESTS)
    add_executable(bytes_tests ${BYTE_ONLY_TESTS})
    target_link_libraries(bytes_tests PRIVATE pixwick_bytes gtest_main)
    target_compile_definitions(bytes_tests PRIVATE PIXWICK_GOLDEN_DIR="${CMAKE_SOURCE_DIR}/tests/golden")
    include(GoogleTest)
    gtest_discover_tests(bytes_tests DISCOVERY_MODE PRE_TEST)
endif()
