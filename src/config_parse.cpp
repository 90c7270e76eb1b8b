#include "config_parse.h"

#include <stdlib.h>
#include <string.h>

static int ascii_lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// The C locale's isspace, without depending on the current locale.
static int is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

static int is_line_end(char c)
{
    return c == '\r' || c == '\n' || c == 0;
}

const char *config_next_word(const char **cursor, int *length)
{
    const char *p = *cursor;
    while (*p == ' ' || *p == '\t')
        p++;
    const char *word = p;
    while (*p && *p != ' ' && *p != '\t')
        p++;
    *cursor = p;
    *length = (int)(p - word);
    return *length ? word : 0;
}

int config_stricmp(const char *a, const char *b)
{
    const unsigned char *p = (const unsigned char *)a;
    const unsigned char *q = (const unsigned char *)b;
    while (*p && ascii_lower(*p) == ascii_lower(*q)) {
        p++;
        q++;
    }
    return ascii_lower(*p) - ascii_lower(*q);
}

ConfigEntry *config_find(ConfigEntry *head, const char *key)
{
    if (!key)
        return 0;
    for (ConfigEntry *e = head; e; e = e->next)
        if (config_stricmp(e->key, key) == 0)
            return e;
    return 0;
}

static char *copy_string(const char *s)
{
    size_t n = strlen(s) + 1;
    char *copy = (char *)malloc(n);
    if (copy)
        memcpy(copy, s, n);
    return copy;
}

ConfigPutResult config_put(ConfigEntry **head, const char *key, const char *value)
{
    ConfigEntry *found = config_find(*head, key);
    if (found) {
        if (config_stricmp(found->value, value) == 0)
            return CONFIG_PUT_SAME;
        char *copy = copy_string(value);
        if (!copy)
            return CONFIG_PUT_NO_MEMORY;
        free(found->value);
        found->value = copy;
        return CONFIG_PUT_UPDATED;
    }
    if (config_stricmp(key, "include") == 0)
        return CONFIG_PUT_INCLUDE;

    ConfigEntry *entry = (ConfigEntry *)malloc(sizeof *entry);
    char *key_copy = copy_string(key);
    char *value_copy = copy_string(value);
    if (!entry || !key_copy || !value_copy) {
        free(entry);
        free(key_copy);
        free(value_copy);
        return CONFIG_PUT_NO_MEMORY;
    }
    entry->key = key_copy;
    entry->value = value_copy;
    entry->file = 0;
    entry->line = 0;
    entry->next = *head;
    *head = entry;
    return CONFIG_PUT_NEW;
}

void config_free_entries(ConfigEntry **head)
{
    ConfigEntry *e = *head;
    while (e) {
        ConfigEntry *next = e->next;
        free(e->key);
        free(e->value);
        free(e);
        e = next;
    }
    *head = 0;
}

// One line, [line, end): line starts with a non-blank character, *end is a
// CR, LF or zero byte. Writes zero bytes after the key and the value; returns
// the callback's result, or 0 for a comment or a key without value.
static int parse_line(char *line, char *end, int number, ConfigPairFn pair, void *context)
{
    char *p = line;
    if (*p == '#')
        return 0;

    char *key = p;
    while (p < end && !is_blank(*p))
        p++;
    if (p == end)
        return 0;
    char *key_end = p;

    while (p < end && is_blank(*p))
        p++;
    if (p == end)
        return 0;
    char *value = p;

    char *value_end = end;
    while (value_end > value && is_blank(value_end[-1]))
        value_end--;

    *key_end = 0;
    *value_end = 0;
    return pair(context, key, value, number);
}

// Whether the character at p ends a line: an LF, or a CR not followed by one.
static int ends_line(const char *p)
{
    return *p == '\n' || (*p == '\r' && p[1] != '\n');
}

int config_parse_text(char *text, ConfigPairFn pair, void *context)
{
    int count = 0, number = 1;
    char *p = text;
    for (;;) {
        // White space after a line end (empty lines, indentation) goes too,
        // so every line starts at its first non-blank character.
        for (; *p && is_blank(*p); p++)
            number += ends_line(p);
        if (!*p)
            return count;
        char *end = p;
        while (!is_line_end(*end))
            end++;
        int more = *end != 0; // read before parse_line may write a zero there
        int ended = more && ends_line(end);
        count += parse_line(p, end, number, pair, context);
        if (!more)
            return count;
        number += ended;
        p = end + 1;
    }
}

ConfigEncoding config_text_encoding(const unsigned char *bytes, size_t size, size_t *mark_bytes)
{
    *mark_bytes = 0;
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        *mark_bytes = 3;
        return CONFIG_UTF8;
    }
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        *mark_bytes = 2;
        return CONFIG_UTF16LE;
    }
    if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        *mark_bytes = 2;
        return CONFIG_UTF16BE;
    }
    return CONFIG_ANSI;
}
