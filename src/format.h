// Number and time texts shown on the panels. No Windows header here: this
// builds natively too (sanitizer tests).
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    FORMAT_SIZE_BYTES = 5,  // at most four characters and the terminator
    FORMAT_LOAD_BYTES = 8,  // "99.9%", "100%"
};

// A byte count high:low (high * 2^32 + low) as at most four characters with a
// unit letter K, M, G, T, P or E: "0.0K", "1.5K", "20K", "999K", "0.9M",
// "5.0G", "15E". out must hold FORMAT_SIZE_BYTES. Returns out (null when out
// is null).
char *format_size(uint32_t high, uint32_t low, char *out);

// A load in per-mille as "0.5%", "99.9%" or, from 1000 on, "100%"; negative
// loads show as "0.0%". out must hold FORMAT_LOAD_BYTES. Returns out.
char *format_load(int per_mille, char *out);

// "Uptime: 01:02:03", or "Uptime: 2 days, 01:02:03" from one day on.
// Truncated to size (always terminated when size > 0). Returns out.
char *format_uptime(uint64_t seconds, char *out, size_t size);

// Own processor use in hundredths of a percent: processor time (100 ns
// units) spread over `seconds` of running time and `cores` processors.
// 0 when seconds or cores is 0.
uint32_t cpu_usage_hundredths(uint64_t cpu_time_100ns, uint64_t seconds, int cores);

// "Pixwick CPU usage: 1.25%" for 125 hundredths. Returns out.
char *format_cpu_usage(uint32_t hundredths, char *out, size_t size);
