// Settings text → key/value store. No Windows header: this builds natively
// too (sanitizer tests); the file search, logging and reload live in config.cpp.
//
// Syntax, one pair per line:
//   - lines end at CR or LF (CR LF, LF, lone CR and a missing last line end
//     all read the same); the text ends at its first zero byte;
//   - leading white space is skipped; an empty line or one whose first
//     character is '#' is a comment ('#' elsewhere is an ordinary character);
//   - the key runs to the first white space, the value is the rest of the
//     line without its trailing white space; a line with a key alone is ignored;
//   - no quoting, no escapes, no '=' (in "key = x" the value is "= x").
#pragma once
#include <stddef.h>

struct ConfigEntry {
    char *key;   // letter case as first read
    char *value; // trimmed
    int file;    // where the value in force was read: the file's number in its store
    int line;    // and its line, counted from 1
    ConfigEntry *next;
};

// What config_put did with one pair.
enum ConfigPutResult {
    CONFIG_PUT_SAME,      // key present with a value equal but for letter case: untouched
    CONFIG_PUT_UPDATED,   // key present, value replaced
    CONFIG_PUT_NEW,       // new entry at the head of the list
    CONFIG_PUT_INCLUDE,   // key "include" (any case), not stored: the caller reads the file
    CONFIG_PUT_NO_MEMORY, // nothing changed
};

// How a settings file's bytes are encoded, from its byte-order mark. Editors
// save "pixwick.txt" in the ANSI code page (no mark), as UTF-8 with a mark
// (EF BB BF) or as UTF-16 (FF FE little-endian, FE FF big-endian).
enum ConfigEncoding { CONFIG_ANSI, CONFIG_UTF8, CONFIG_UTF16LE, CONFIG_UTF16BE };
// The encoding of bytes[0..size) and the length of its mark (0 for ANSI).
ConfigEncoding config_text_encoding(const unsigned char *bytes, size_t size, size_t *mark_bytes);

// Lists inside a value (slot codes, zone names) are words split at blanks
// and tabs. Returns the next word and its length, and moves *cursor past it;
// returns null at the end of the text.
const char *config_next_word(const char **cursor, int *length);

// ASCII-only case-insensitive compare, like _stricmp in the C locale.
int config_stricmp(const char *a, const char *b);

// The entry whose key equals key without regard to letter case, or null.
ConfigEntry *config_find(ConfigEntry *head, const char *key);

// Stores one pair with the update rules above; key and value are copied.
ConfigPutResult config_put(ConfigEntry **head, const char *key, const char *value);

void config_free_entries(ConfigEntry **head);

// Called for every key/value pair of a text, in reading order, with the line
// it stands on (counted from 1, as an editor counts: CR LF, LF and a lone CR
// each end one line); returns the number of entries it created or changed.
typedef int (*ConfigPairFn)(void *context, const char *key, const char *value, int line);

// Parses text in place (it writes zero bytes into it) and returns the sum of
// the callback's results.
int config_parse_text(char *text, ConfigPairFn pair, void *context);
