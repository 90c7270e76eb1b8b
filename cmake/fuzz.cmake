# libFuzzer targets for the readers of outside bytes, one per file
# tests/fuzz/fuzz_*.cpp, under ASan and UBSan. A tree of its own
# (-DPIXWICK_FUZZ=ON, clang); scripts/fuzz configures, builds and runs it.
set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -g -O2 ${SANITIZE})
add_link_options(${SANITIZE})

add_library(pixwick_bytes STATIC ${BYTE_ONLY_SOURCES})
target_include_directories(pixwick_bytes PUBLIC ${CMAKE_SOURCE_DIR}/src)
# Coverage guides the fuzzer through the readers; the targets' own checks
# stay uninstrumented, so their loops cost no more than they must.
target_compile_options(pixwick_bytes PRIVATE -fsanitize=fuzzer-no-link)

file(GLOB FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
foreach(source ${FUZZ_TARGETS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE pixwick_bytes)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
