// The settings text: up to four files, the input's parts between lines
// "%%". Part 0 is "pixwick.txt"; the value of "include N" names part N. As in
// the store's file search, each file is read once and at most four in all, so
// include loops end. A part may be UTF-8 or UTF-16 with a byte-order mark.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "config_parse.h"
#include "fuzz_check.h"
#include "speakers.h"

namespace {

enum { MAX_FILES = 4 }; // CONFIG_MAX_FILES

struct FileLines {
    int last, count;
};

struct Store {
    std::vector<std::string> parts;
    std::vector<FileLines> reading; // the file being read, and those that included it
    std::vector<bool> read;
    int files = 0;
    ConfigEntry *entries = nullptr;
};

bool is_blank(char c) { return strchr(" \t\r\n\v\f", c) && c; }

// UTF-16 becomes one byte a unit here, as a code page would.
std::string text_of(const std::string &bytes)
{
    size_t mark = 0;
    ConfigEncoding encoding = config_text_encoding((const unsigned char *)bytes.data(), bytes.size(), &mark);
    if (encoding != CONFIG_UTF16LE && encoding != CONFIG_UTF16BE)
        return bytes.substr(mark);
    std::string text;
    for (size_t at = mark; at + 1 < bytes.size(); at += 2) {
        unsigned unit = encoding == CONFIG_UTF16LE ? (uint8_t)bytes[at] | (uint8_t)bytes[at + 1] << 8
                                                   : (uint8_t)bytes[at + 1] | (uint8_t)bytes[at] << 8;
        text += unit < 256 ? (char)unit : '?';
    }
    return text;
}

int load(Store *store, const char *name);

// As an editor counts them: CR LF, LF and a lone CR each end a line.
int lines_of(const std::string &text)
{
    int lines = 1;
    for (size_t i = 0; i < text.size() && text[i]; i++)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            lines++;
    return lines;
}

int store_pair(void *context, const char *key, const char *value, int line)
{
    Store *store = (Store *)context;
    FileLines &file = store->reading.back(); // pairs come in reading order, on the file's lines
    FUZZ_CHECK(line > file.last && line <= file.count);
    file.last = line;
    const size_t key_length = strlen(key), value_length = strlen(value);
    FUZZ_CHECK(key_length > 0 && key[0] != '#' && value_length > 0);
    for (const char *p = key; *p; p++)
        FUZZ_CHECK(!is_blank(*p));
    FUZZ_CHECK(!is_blank(value[0]) && !is_blank(value[value_length - 1]) && !strpbrk(value, "\r\n"));

    ConfigPutResult result = config_put(&store->entries, key, value);
    if (result == CONFIG_PUT_INCLUDE)
        return load(store, value);
    const ConfigEntry *entry = config_find(store->entries, key);
    FUZZ_CHECK(entry && config_stricmp(entry->value, value) == 0);
    return result == CONFIG_PUT_NEW || result == CONFIG_PUT_UPDATED;
}

int load(Store *store, const char *name)
{
    char *end = nullptr;
    const unsigned long part = strtoul(name, &end, 10);
    if (*end || part >= store->parts.size() || store->read[part] || store->files >= MAX_FILES)
        return 0;
    store->read[part] = true;
    store->files++;
    const std::string text = text_of(store->parts[part]);
    char *copy = (char *)malloc(text.size() + 1); // exact: ASan sees any read past it
    memcpy(copy, text.c_str(), text.size() + 1);
    store->reading.push_back({0, lines_of(text)});
    const int count = config_parse_text(copy, store_pair, store);
    store->reading.pop_back();
    free(copy);
    return count;
}

// The words of a value, as slot lists and zone names are read.
void check_words(const char *value)
{
    const char *cursor = value;
    int length = 0, total = 0;
    while (const char *word = config_next_word(&cursor, &length)) {
        FUZZ_CHECK(length > 0 && word >= value && cursor == word + length);
        for (int i = 0; i < length; i++)
            FUZZ_CHECK(word[i] != ' ' && word[i] != '\t' && word[i]);
        total += length;
        const int setup = speaker_setup_from_word(std::string(word, (size_t)length).c_str());
        FUZZ_CHECK(setup >= 0 && setup <= SPEAKER_SETUP_MAX);
    }
    FUZZ_CHECK(*cursor == 0 && total <= (int)strlen(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Store store;
    const std::string input((const char *)data, size);
    static const std::string SEPARATOR = "\n%%\n";
    for (size_t at = 0; store.parts.size() < MAX_FILES + 1;) {
        size_t end = input.find(SEPARATOR, at);
        store.parts.push_back(input.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos)
            break;
        at = end + SEPARATOR.size();
    }
    store.read.assign(store.parts.size(), false);
    load(&store, "0");

    for (const ConfigEntry *e = store.entries; e; e = e->next) {
        FUZZ_CHECK(config_find(store.entries, e->key) == e); // keys are unique
        FUZZ_CHECK(config_stricmp(e->key, "include") != 0);
        if (e->next) {
            const int a = config_stricmp(e->key, e->next->key), b = config_stricmp(e->next->key, e->key);
            FUZZ_CHECK(a != 0 && (a < 0) == (b > 0));
        }
        check_words(e->value);
    }
    config_free_entries(&store.entries);
    return 0;
}
