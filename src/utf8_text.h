// Cutting UTF-8 texts on character boundaries, so that a shortened name never
// ends in part of a character. No Windows header here: this builds natively
// too (sanitizer tests).
#pragma once
#include <stddef.h>

// Length of the longest start of text[0..length) that is at most max bytes
// and does not end inside a character.
size_t utf8_fit(const char *text, size_t length, size_t max);

// Removes the last character of the zero-terminated text (a whole sequence;
// a stray continuation byte counts as one character). Returns the new length.
size_t utf8_drop_last(char *text);
