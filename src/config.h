// The configuration store (pixwick.txt and its includes) and the general settings.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "config_parse.h" // ConfigEntry

enum {
    CONFIG_MAX_FILES = 4,
    CONFIG_MAX_FILE_BYTES = 1024 * 1024, // far more than any settings file; a bigger one is a mistake
    CONFIG_MAX_KEYS = 500,               // distinct keys kept; a lookup walks them all
    CONFIG_PROBLEM_LINES = 50,           // settings mistakes kept for errors.txt per load
    CONFIG_PROBLEM_CHARS = 200,
};

struct Config {
    ConfigEntry *entries; // new keys go to the head
    char exe_dir[256];    // ends in '\'
    char docs_dir[256];   // Documents\Pixwick\ .
    int file_count;
    char file_paths[CONFIG_MAX_FILES][512];
    FILETIME file_times[CONFIG_MAX_FILES];
    int unreadable;       // the last load met a file that is there but could not be read
    int key_count;
    int reading_file;     // the file being parsed, for the place of each key
    // Settings mistakes of the last load and of its readers: their count and
    // the first CONFIG_PROBLEM_LINES of them, as lines for errors.txt.
    int problem_count;
    char problems[CONFIG_PROBLEM_LINES][CONFIG_PROBLEM_CHARS];
};

struct GeneralSettings {
    int animate_start;
    char small_font_name[32];
    int small_font_size;
    char large_font_name[32];
    int large_font_size;
    int config_refresh;
    int linger;
    int testwindow;
    int lcdmon_starting;
    int use_hid;
};

extern Config g_config;
extern GeneralSettings g_general;

void config_init(Config *config);
// The value of a key, or null. Every key asked for becomes a known key: a key
// in the file that no part of the program ever asks for is a mistake.
const char *config_get(const Config *config, const char *key);
// Numbers read as strtol and strtoul read them; a value that is not a whole
// decimal number (say "100ms") is noted as a mistake, and read all the same.
int config_get_int(const Config *config, const char *key, int default_value);
uint32_t config_get_uint(const Config *config, const char *key, uint32_t default_value);
// Notes a mistake in the value of key, at the place the value was read.
void config_note_bad_value(const Config *config, const char *key, const char *why);
// After a load and every part's reading of its keys: one line in errors.txt
// for each mistake (unknown keys, bad numbers and values, includes not read),
// with its file and line, and the pop-up "Settings: N problems, see
// errors.txt". Returns N.
int config_report_problems(Config *config);
int config_load_file(Config *config, const char *name, int report);
int config_check_reload(Config *config);
void config_clear(Config *config);
void config_apply_general(Config *config);
