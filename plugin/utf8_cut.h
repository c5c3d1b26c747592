#pragma once
// Cutting 8-bit (UTF-8) text to a buffer without splitting a character.
#include <cstddef>

// The length of the longest prefix of text[0, length) that is at most max
// bytes and does not end inside a UTF-8 sequence.
inline size_t Utf8CutLength(const char* text, size_t length, size_t max) {
    if (length <= max) return length;
    size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}
