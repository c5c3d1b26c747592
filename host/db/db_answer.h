#pragma once
// The text answer of "DbSqlExec", shared by every engine: one line per row; every field, the
// last one included, is closed by ";" or, for the last, by "\n". Inside a text value ";"
// becomes "," and CR, LF and NUL become a blank, so fields never shift; NULL is an empty
// field; integers are written as integers and reals as the shortest text that reads back to
// the same double, always with the C locale's point.
#include <cstddef>
#include <cstdint>
#include <string>

namespace dbanswer {

// Answers larger than this are refused rather than built.
constexpr size_t kMaxAnswerBytes = size_t(512) << 20;

// Appends one text field closed by terminator, ";" and CR/LF/NUL replaced.
void appendText(std::string& out, const char* text, size_t size, char terminator);
// Appends the shortest C-locale text of v that reads back to the same double (no terminator).
void appendReal(std::string& out, double v);
// Appends a decimal integer (no terminator).
void appendInteger(std::string& out, int64_t v);
// Appends raw bytes as upper-case hexadecimal digits (no terminator).
void appendHex(std::string& out, const unsigned char* bytes, size_t size);

} // namespace dbanswer
