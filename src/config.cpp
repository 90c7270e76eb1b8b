// The configuration store: "pixwick.txt" and up to three files it includes,
// searched in the current folder, the executable's folder and
// Documents\Pixwick\, watched by last-write time and rebuilt whole on change.
#include "config.h"

#include <stdarg.h>
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
static const uint32_t POPUP_SETTINGS_PROBLEMS = 21;

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
    if (GetFileSizeEx(file, &size) && size.QuadPart > CONFIG_MAX_FILE_BYTES) {
        CloseHandle(file);
        SetLastError(ERROR_FILE_TOO_LARGE);
        return 0;
    }
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
        if (error == ERROR_FILE_TOO_LARGE) { // read, in a way: it is a mistake, not a lock
            unreadable_error = error;
            break;
        }
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

// The file name of a recorded file, for settings mistakes.
static const char *file_name_of(const Config *config, int file)
{
    if (file < 0 || file >= config->file_count)
        return "?";
    const char *path = config->file_paths[file];
    const char *slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

static void note_problem(Config *config, int file, int line, const char *format, ...)
{
    if (config->problem_count < CONFIG_PROBLEM_LINES) {
        char *text = config->problems[config->problem_count];
        int n = snprintf(text, CONFIG_PROBLEM_CHARS, "%s(%d): ", file_name_of(config, file), line);
        va_list args;
        va_start(args, format);
        vsnprintf(text + n, (size_t)(CONFIG_PROBLEM_CHARS - n), format, args);
        va_end(args);
    }
    config->problem_count++;
}

static void set_place(Config *config, const char *key, int line)
{
    ConfigEntry *entry = config_find(config->entries, key);
    if (entry) {
        entry->file = config->reading_file;
        entry->line = line;
    }
}

static int load_include(Config *config, const char *name, int line)
{
    const int including = config->reading_file, files_before = config->file_count;
    const int count = config_load_file(config, name, 0);
    if (config->file_count == files_before) {
        DWORD error = GetLastError();
        note_problem(config, including, line,
                     error == ERROR_FILE_TOO_LARGE        ? "include '%s' is larger than 1 MB: not read"
                     : error == ERROR_ALREADY_EXISTS      ? "include '%s' is read already"
                     : error == ERROR_TOO_MANY_OPEN_FILES ? "include '%s' is a fifth settings file: not read"
                                                          : "include '%s' not found",
                     name);
        SetLastError(0);
    }
    config->reading_file = including;
    return count;
}

static int store_pair(void *context, const char *key, const char *value, int line)
{
    Config *config = (Config *)context;
    if (config->key_count >= CONFIG_MAX_KEYS && !config_find(config->entries, key) &&
        config_stricmp(key, "include") != 0) {
        if (config->key_count++ == CONFIG_MAX_KEYS)
            note_problem(config, config->reading_file, line, "more than %d settings: the rest are not read",
                         CONFIG_MAX_KEYS);
        return 0;
    }
    switch (config_put(&config->entries, key, value)) {
    case CONFIG_PUT_UPDATED:
        log_system(" '%s' = '%s' (updated)\n", config_find(config->entries, key)->key, value);
        set_place(config, key, line);
        return 1;
    case CONFIG_PUT_NEW:
        log_system(" '%s' = '%s'\n", key, value);
        config->key_count++;
        set_place(config, key, line);
        return 1;
    case CONFIG_PUT_INCLUDE:
        return load_include(config, value, line);
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
        SetLastError(ERROR_ALREADY_EXISTS);
        return 0;
    }
    if (config->file_count >= CONFIG_MAX_FILES) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        if (report) {
            log_error("src/config", __LINE__, 0, "Too many configuration files used; can't load '%s'\n", path);
            SetLastError(0);
        }
        free(text);
        return 0;
    }
    memcpy(config->file_paths[config->file_count], path, sizeof path);
    config->file_times[config->file_count] = last_write;
    config->reading_file = config->file_count++;
    log_system("Reading configuration file: '%s'\n", path);

    int count = config_parse_text(text, store_pair, config);
    free(text);
    return count;
}

// Every key some part of the program asks for, over the whole run: the keys
// a settings file may hold.
enum { KNOWN_KEYS = 256, KNOWN_KEY_CHARS = 32 };
static char known_keys[KNOWN_KEYS][KNOWN_KEY_CHARS];
static int known_key_count;

static int is_known_key(const char *key)
{
    for (int i = 0; i < known_key_count; i++)
        if (config_stricmp(known_keys[i], key) == 0)
            return 1;
    return 0;
}

static void learn_key(const char *key)
{
    if (key && known_key_count < KNOWN_KEYS && strlen(key) < KNOWN_KEY_CHARS && !is_known_key(key))
        strcpy(known_keys[known_key_count++], key);
}

const char *config_get(const Config *config, const char *key)
{
    learn_key(key);
    ConfigEntry *entry = config_find(config->entries, key);
    return entry ? entry->value : 0;
}

void config_note_bad_value(const Config *config, const char *key, const char *why)
{
    const ConfigEntry *entry = config_find(config->entries, key);
    if (entry)
        note_problem(const_cast<Config *>(config), entry->file, entry->line, "%s '%s': %s", entry->key,
                     entry->value, why);
}

// Leading blanks, a sign, digits, nothing else: what strtol and strtoul read
// whole.
static int whole_number(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    if (*text == '+' || *text == '-')
        text++;
    if (*text < '0' || *text > '9')
        return 0;
    while (*text >= '0' && *text <= '9')
        text++;
    return *text == 0;
}

int config_get_int(const Config *config, const char *key, int default_value)
{
    const char *value = config_get(config, key);
    if (!value)
        return default_value;
    if (!whole_number(value))
        config_note_bad_value(config, key, "not a whole number");
    return (int)strtol(value, 0, 10);
}

uint32_t config_get_uint(const Config *config, const char *key, uint32_t default_value)
{
    const char *value = config_get(config, key);
    if (!value)
        return default_value;
    if (!whole_number(value))
        config_note_bad_value(config, key, "not a whole number");
    return (uint32_t)strtoul(value, 0, 10);
}

int config_report_problems(Config *config)
{
    for (const ConfigEntry *e = config->entries; e; e = e->next)
        if (!is_known_key(e->key))
            note_problem(config, e->file, e->line, "'%s' is no setting of this program", e->key);
    const int count = config->problem_count;
    const int written = count < CONFIG_PROBLEM_LINES ? count : CONFIG_PROBLEM_LINES;
    // Written whatever was written before: each comes from an edit of the file.
    for (int i = 0; i < written; i++)
        log_error_unfiltered("src/config", __LINE__, 0, "%s", config->problems[i]);
    if (count > written)
        log_error_unfiltered("src/config", __LINE__, 0, "and %d more settings problems", count - written);
    if (count)
        popup(&g_popups, POPUP_SETTINGS_PROBLEMS, 5000, "Settings: %d problems, see errors.txt", count);
    config->problem_count = 0;
    return count;
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
    config->key_count = 0;
    config->reading_file = 0;
    config->unreadable = 0;
    config->problem_count = 0;
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
    if (config_get_uint(config, "not_edited", 0) != 0)
        popup(&g_popups, 0, 5000, "Please edit the 'pixwick.txt' file!");

    for (const GeneralKey &key : GENERAL_KEYS) {
        const char *value = config_get(config, key.key);
        if (!value)
            continue;
        if (key.conversion != READ_NAME && !whole_number(value))
            config_note_bad_value(config, key.key, "not a whole number");
        apply_general_key(&key, value);
    }
}
