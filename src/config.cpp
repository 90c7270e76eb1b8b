// The configuration store: "pixwick.txt" and up to three files it includes,
// searched in the current folder, the executable's folder and
// Documents\Pixwick\, watched by last-write time and rebuilt whole on change.
#include "config.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "lcd.h"
#include "popup.h"
#include "util.h"

Config g_config;
GeneralSettings g_general;

static const char SETTINGS_FILE[] = "pixwick.txt";

// ---- Reading files ---------------------------------------------------------

static HANDLE open_for_reading(const char *path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
}

// A file saved as UTF-8 or UTF-16 with a byte-order mark becomes text in the
// ANSI code page, as a file saved that way reads. 0 when it cannot be had.
static char *text_in_code_page(char *buffer, size_t size)
{
    size_t mark = 0;
    ConfigEncoding encoding = config_text_encoding((const unsigned char *)buffer, size, &mark);
    if (encoding == CONFIG_ANSI)
        return buffer;
    wchar_t *wide = 0;
    int units = 0;
    if (size - mark > 0x3FFFFFFF) { // more than any settings file; the counts are int
        free(buffer);
        return 0;
    }
    if (size == mark) { // the mark alone: an empty file
        buffer[0] = 0;
        return buffer;
    }
    if (encoding == CONFIG_UTF8) {
        units = MultiByteToWideChar(CP_UTF8, 0, buffer + mark, (int)(size - mark), 0, 0);
        wide = units > 0 ? (wchar_t *)malloc((size_t)units * sizeof(wchar_t)) : 0;
        if (wide)
            MultiByteToWideChar(CP_UTF8, 0, buffer + mark, (int)(size - mark), wide, units);
    } else {
        units = (int)((size - mark) / 2);
        wide = (wchar_t *)malloc((size_t)(units ? units : 1) * sizeof(wchar_t));
        for (int i = 0; wide && i < units; i++) {
            const unsigned char *pair = (const unsigned char *)buffer + mark + 2 * i;
            wide[i] = encoding == CONFIG_UTF16LE ? (wchar_t)(pair[0] | pair[1] << 8) : (wchar_t)(pair[1] | pair[0] << 8);
        }
    }
    char *text = 0;
    if (wide) {
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, 0, 0, 0, 0);
        text = (char *)malloc((size_t)(bytes > 0 ? bytes : 0) + 1);
        if (text)
            text[WideCharToMultiByte(CP_ACP, 0, wide, units, text, bytes, 0, 0)] = 0;
    }
    free(wide);
    free(buffer);
    return text;
}

// Reads a whole file into a fresh zero-terminated heap block; the text ends at
// its first zero byte. 0 when it cannot be opened, sized, allocated or read.
static int read_whole_file(const char *path, char **text, FILETIME *last_write)
{
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 0;
    LARGE_INTEGER size;
    char *buffer = 0;
    DWORD read = 0;
    // ReadFile takes a 32-bit count, and size + 1 must not wrap.
    if (GetFileSizeEx(file, &size) && size.QuadPart < 0xFFFFFFFFLL)
        buffer = (char *)malloc((size_t)size.QuadPart + 1);
    if (buffer && ReadFile(file, buffer, (DWORD)size.QuadPart, &read, 0)) {
        buffer[read] = 0;
        if (!GetFileTime(file, 0, 0, last_write))
            memset(last_write, 0, sizeof *last_write);
        *text = text_in_code_page(buffer, read);
        ok = *text != 0;
    } else {
        free(buffer);
    }
    CloseHandle(file);
    return ok;
}

// Tries name as given, then in exe_dir, then in docs_dir. On success path
// holds the place where it was read. A file that is there but cannot be read
// (an editor or a virus scanner holds it) marks the store unreadable, and its
// reason is the last error a failure leaves.
static int find_and_read(Config *config, const char *name, char *path, size_t path_size, char **text,
                         FILETIME *last_write)
{
    const char *folders[] = {"", config->exe_dir, config->docs_dir};
    DWORD error = ERROR_FILE_NOT_FOUND, unreadable_error = 0;
    for (const char *folder : folders) {
        int n = snprintf(path, path_size, "%s%s", folder, name);
        if (n < 0 || (size_t)n >= path_size)
            continue;
        if (read_whole_file(path, text, last_write))
            return 1;
        error = GetLastError();
        if (!unreadable_error && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            config->unreadable = 1;
            unreadable_error = error ? error : ERROR_READ_FAULT;
        }
    }
    SetLastError(unreadable_error ? unreadable_error : error);
    return 0;
}

static int is_recorded(const Config *config, const char *path)
{
    for (int i = 0; i < config->file_count; i++)
        if (config_stricmp(config->file_paths[i], path) == 0)
            return 1;
    return 0;
}

// ---- Store -----------------------------------------------------------------

static int store_pair(void *context, const char *key, const char *value)
{
    Config *config = (Config *)context;
    switch (config_put(&config->entries, key, value)) {
    case CONFIG_PUT_UPDATED:
        log_system(" '%s' = '%s' (updated)\n", config_find(config->entries, key)->key, value);
        return 1;
    case CONFIG_PUT_NEW:
        log_system(" '%s' = '%s'\n", key, value);
        return 1;
    case CONFIG_PUT_INCLUDE:
        return config_load_file(config, value, 0);
    case CONFIG_PUT_SAME:
    case CONFIG_PUT_NO_MEMORY:
        break;
    }
    return 0;
}

int config_load_file(Config *config, const char *name, int report)
{
    char path[sizeof config->file_paths[0]];
    char *text = 0;
    FILETIME last_write;
    if (!find_and_read(config, name, path, sizeof path, &text, &last_write)) {
        if (report) {
            log_error("src/config", __LINE__, GetLastError(), "Can't find the configuration file '%s'\n", name);
            SetLastError(0);
        }
        return 0;
    }
    if (is_recorded(config, path)) { // include loop or double include
        free(text);
        return 0;
    }
    if (config->file_count >= CONFIG_MAX_FILES) {
        if (report) {
            log_error("src/config", __LINE__, GetLastError(), "Too many configuration files used; can't load '%s'\n",
                      path);
            SetLastError(0);
        }
        free(text);
        return 0;
    }
    memcpy(config->file_paths[config->file_count], path, sizeof path);
    config->file_times[config->file_count] = last_write;
    config->file_count++;
    log_system("Reading configuration file: '%s'\n", path);

    int count = config_parse_text(text, store_pair, config);
    free(text);
    return count;
}

const char *config_get(const Config *config, const char *key)
{
    ConfigEntry *entry = config_find(config->entries, key);
    return entry ? entry->value : 0;
}

int config_get_int(const Config *config, const char *key, int default_value)
{
    const char *value = config_get(config, key);
    return value ? (int)strtol(value, 0, 10) : default_value;
}

static void set_general_defaults(GeneralSettings *general)
{
    memset(general, 0, sizeof *general);
    general->animate_start = 1;
    strcpy(general->small_font_name, "Lucida Console");
    general->small_font_size = -8;
    strcpy(general->large_font_name, "Microsoft Sans Serif");
    general->large_font_size = -11;
    general->config_refresh = 10;
    general->linger = 500;
}

void config_clear(Config *config)
{
    config_free_entries(&config->entries);
    config->file_count = 0;
    memset(config->file_paths, 0, sizeof config->file_paths);
    memset(config->file_times, 0, sizeof config->file_times);
    set_general_defaults(&g_general);
}

// ---- Start-up and reload ---------------------------------------------------

static void find_exe_dir(Config *config)
{
    char path[256] = "";
    if (!GetWindowModuleFileNameA(main_window, path, sizeof path))
        GetModuleFileNameA(0, path, sizeof path); // no window yet: same executable
    path[sizeof path - 1] = 0;
    log_system("Executable: '%s'\n", path);

    char *slash = strrchr(path, '\\');
    if (slash)
        slash[1] = 0;
    else if (strlen(path) < sizeof path - 1)
        strcat(path, "\\");
    memcpy(config->exe_dir, path, sizeof config->exe_dir);
}

void config_init(Config *config)
{
    config_clear(config);
    config->exe_dir[0] = 0;
    config->docs_dir[0] = 0;

    find_exe_dir(config);
    if (documents_pixwick_dir(config->docs_dir, sizeof config->docs_dir))
        log_system("Documents path: '%s'\n", config->docs_dir);
    else
        config->docs_dir[0] = 0;

    if (config_load_file(config, SETTINGS_FILE, 1) > 0)
        config_apply_general(config);
    else
        popup(&g_popups, 0, 5000, "Warning: Cannot open settings file '%s'", SETTINGS_FILE);
}

// 1 when the file's last-write time differs from the recorded one (earlier
// or later); a deleted file counts as unchanged. One call, no handle.
static int file_time_changed(const char *path, const FILETIME *recorded)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) &&
           CompareFileTime(&data.ftLastWriteTime, recorded) != 0;
}

// Reads "pixwick.txt" and its includes into a fresh store beside the one in
// force. 0 when the settings file cannot be read, or a file that is there
// cannot be read now: an editor saving by rename or a virus scanner holding
// the file must not cost the user every setting.
static int load_fresh(const Config *config, Config *fresh)
{
    memset(fresh, 0, sizeof *fresh);
    memcpy(fresh->exe_dir, config->exe_dir, sizeof fresh->exe_dir);
    memcpy(fresh->docs_dir, config->docs_dir, sizeof fresh->docs_dir);
    int loaded = config_load_file(fresh, SETTINGS_FILE, 1) > 0 || fresh->file_count > 0;
    if (loaded && !fresh->unreadable)
        return 1;
    config_free_entries(&fresh->entries);
    return 0;
}

int config_check_reload(Config *config)
{
    int changed = 0;
    for (int i = 0; i < config->file_count; i++)
        changed += file_time_changed(config->file_paths[i], &config->file_times[i]);
    if (!changed)
        return 0;

    Config fresh;
    if (!load_fresh(config, &fresh))
        return 0; // the settings in force stay; the next check tries again
    config_free_entries(&config->entries);
    *config = fresh;
    set_general_defaults(&g_general);
    config_apply_general(config);
    g_general.animate_start = 0; // a changed file never restarts the slide-in
    popup(&g_popups, 12, 1000, "Configuration updated");
    lcd_set_small_font(&g_lcd, g_general.small_font_name, g_general.small_font_size);
    lcd_set_large_font(&g_lcd, g_general.large_font_name, g_general.large_font_size);
    return changed;
}

// ---- General settings ------------------------------------------------------

enum GeneralConversion {
    READ_UNSIGNED,     // strtoul, the 32 bits kept as a signed int (-1 stays -1)
    READ_SIGNED,       // strtol
    READ_NOT_NEGATIVE, // strtoul; negative as a signed int becomes 0
    READ_NAME,         // copied, at most 31 characters
};

struct GeneralKey {
    const char *key;
    GeneralConversion conversion;
    size_t offset; // into GeneralSettings
};

static const GeneralKey GENERAL_KEYS[] = {
    {"animate_start", READ_UNSIGNED, offsetof(GeneralSettings, animate_start)},
    {"small_font_name", READ_NAME, offsetof(GeneralSettings, small_font_name)},
    {"small_font_size", READ_SIGNED, offsetof(GeneralSettings, small_font_size)},
    {"large_font_name", READ_NAME, offsetof(GeneralSettings, large_font_name)},
    {"large_font_size", READ_SIGNED, offsetof(GeneralSettings, large_font_size)},
    {"linger", READ_NOT_NEGATIVE, offsetof(GeneralSettings, linger)},
    {"config_refresh", READ_NOT_NEGATIVE, offsetof(GeneralSettings, config_refresh)},
    {"testwindow", READ_UNSIGNED, offsetof(GeneralSettings, testwindow)},
    {"lcdmon_starting", READ_UNSIGNED, offsetof(GeneralSettings, lcdmon_starting)},
    {"use_hid", READ_UNSIGNED, offsetof(GeneralSettings, use_hid)},
};

static int read_unsigned(const char *value)
{
    return (int)(uint32_t)strtoul(value, 0, 10);
}

static void apply_general_key(const GeneralKey *key, const char *value)
{
    char *field = (char *)&g_general + key->offset;
    int number = 0;
    switch (key->conversion) {
    case READ_NAME: {
        enum { NAME_SIZE = sizeof g_general.small_font_name };
        snprintf(field, NAME_SIZE, "%s", value);
        return;
    }
    case READ_UNSIGNED:
        number = read_unsigned(value);
        break;
    case READ_SIGNED:
        number = (int)strtol(value, 0, 10);
        break;
    case READ_NOT_NEGATIVE:
        number = read_unsigned(value);
        if (number < 0)
            number = 0;
        break;
    }
    memcpy(field, &number, sizeof number);
}

void config_apply_general(Config *config)
{
    const char *not_edited = config_get(config, "not_edited");
    if (not_edited && strtoul(not_edited, 0, 10) != 0)
        popup(&g_popups, 0, 5000, "Please edit the 'pixwick.txt' file!");

    for (const GeneralKey &key : GENERAL_KEYS) {
        const char *value = config_get(config, key.key);
        if (value)
            apply_general_key(&key, value);
    }
}
