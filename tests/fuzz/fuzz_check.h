// What every fuzz input must keep. A broken property stops the run like a
// crash, so libFuzzer keeps the input that broke it.
#pragma once
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz_failed(#condition, __FILE__, __LINE__))

[[noreturn]] static inline void fuzz_failed(const char *what, const char *file, int line)
{
    fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    abort();
}
