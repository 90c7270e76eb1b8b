// The configuration store (pixwick.txt and its includes) and the general settings.
#pragma once
#include <windows.h>
#include "config_parse.h" // ConfigEntry

enum { CONFIG_MAX_FILES = 4 };

struct Config {
    ConfigEntry *entries; // new keys go to the head
    char exe_dir[256];    // ends in '\'
    char docs_dir[256];   // Documents\Pixwick\ .
    int file_count;
    char file_paths[CONFIG_MAX_FILES][512];
    FILETIME file_times[CONFIG_MAX_FILES];
    int unreadable; // the last load met a file that is there but could not be read
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
const char *config_get(const Config *config, const char *key);
int config_get_int(const Config *config, const char *key, int default_value);
int config_load_file(Config *config, const char *name, int report);
int config_check_reload(Config *config);
void config_clear(Config *config);
void config_apply_general(Config *config);
