#pragma once
// The text answer of "DbSqlExec", shared by every engine: one line per row; every field, the
// last one included, is closed by ";" or, for the last, by "\n". Inside a text value ";"
// becomes "," and CR, LF and NUL become a blank, so fields never shift; NULL is an empty
// field; integers are written as integers and reals as the shortest text that reads back to
// the same double, always with the C locale's point.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace dbanswer {

// Answers larger than this are refused rather than built.
constexpr size_t kMaxAnswerBytes = size_t(512) << 20;

// Builds an answer in one buffer that grows geometrically; every field is written straight
// into it, so a row costs no allocation. Engines use it for their answers.
class Builder {
  public:
    Builder() = default;
    explicit Builder(size_t capacity) { buf_.resize(capacity); }

    // One text field closed by terminator, ";" and CR/LF/NUL replaced.
    void text(const char* s, size_t n, char terminator) {
        char* d = room(n + kSlack);
        copyText(d, s, n);
        d[n] = terminator;
        size_ += n + 1;
    }
    // The shortest C-locale text of v that reads back to the same double.
    void real(double v, char terminator);
    // The shortest text of a single-precision value (a REAL column of a server).
    void real(float v, char terminator);
    void integer(int64_t v, char terminator) {
        char* d = room(24);
        char* e = writeInteger(d, v);
        *e = terminator;
        size_ += size_t(e + 1 - d);
    }
    // Raw bytes as upper-case hexadecimal digits.
    void hex(const unsigned char* bytes, size_t n, char terminator);
    // NULL: an empty field.
    void null(char terminator) { *room(1) = terminator, ++size_; }

    size_t size() const { return size_; }
    void clear() { size_ = 0; }
    // The answer so far; the builder is empty afterwards.
    std::string take();

    // Copies n bytes of a text value to d, replacing the bytes that would shift fields; d has
    // room for n + kSlack bytes.
    static void copyText(char* d, const char* s, size_t n);
    static char* writeInteger(char* d, int64_t v);
    static constexpr size_t kSlack = 16;

  private:
    char* room(size_t n) {
        if (buf_.size() - size_ < n) grow(n);
        return &buf_[size_];
    }
    void grow(size_t n);

    std::string buf_; // its size is the capacity; the answer is its first size_ bytes
    size_t size_ = 0;
};

// Appends one text field closed by terminator, ";" and CR/LF/NUL replaced.
void appendText(std::string& out, const char* text, size_t size, char terminator);
// Appends the shortest C-locale text of v that reads back to the same double (no terminator).
void appendReal(std::string& out, double v);
// Appends a decimal integer (no terminator).
void appendInteger(std::string& out, int64_t v);
// Appends raw bytes as upper-case hexadecimal digits (no terminator).
void appendHex(std::string& out, const unsigned char* bytes, size_t size);

// Writes the text appendReal gives for v at out (room for 32 bytes); returns its end.
char* formatReal(char* out, double v);

} // namespace dbanswer
