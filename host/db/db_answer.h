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

// Room formatReal needs at out: the text is shorter, the bytes past it are scratch.
constexpr size_t kRealRoom = 48;
// Writes the text appendReal gives for v at out (room for kRealRoom bytes); returns its end.
char* formatReal(char* out, double v);

// The text of the last double written, reused when the next one is equal: rows sorted by mass
// repeat a mass once per isomer.
class RealText {
  public:
    // Writes v and terminator at d (room for kRealRoom bytes); returns the end.
    char* put(char* d, double v, char terminator) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        if (bits != bits_) {
            char* e = formatReal(d, v);
            size_ = unsigned(e - d); // at most 24 characters
            std::memcpy(text_, d, sizeof text_);
            bits_ = bits;
            *e = terminator;
            return e + 1;
        }
        std::memcpy(d, text_, sizeof text_);
        d[size_] = terminator;
        return d + size_ + 1;
    }

  private:
    // The last double written and its text; at first a NaN with its text, so that nothing
    // unwritten is ever reused.
    uint64_t bits_ = ~uint64_t(0);
    unsigned size_ = 4;
    char text_[32] = "-nan";
};

// Builds an answer in one buffer that grows geometrically; every field is written straight
// into it, so a row costs no allocation. Engines use it for their answers.
//
// A loop over many fields may instead keep the write position itself: cursor() and limit()
// give the free room, the static put functions write a field at a position and return the
// next one, reserve() makes room for more and commit() ends the loop's writing.
class Builder {
  public:
    Builder() = default;
    explicit Builder(size_t capacity) { buf_.resize(capacity); }

    // One text field closed by terminator, ";" and CR/LF/NUL replaced.
    void text(const char* s, size_t n, char terminator) {
        size_ = size_t(putText(room(n + kSlack), s, n, terminator) - buf_.data());
    }
    // The shortest C-locale text of v that reads back to the same double.
    void real(double v, char terminator) {
        size_ = size_t(lastReal_.put(room(kRealRoom), v, terminator) - buf_.data());
    }
    // The shortest text of a single-precision value (a REAL column of a server).
    void real(float v, char terminator);
    void integer(int64_t v, char terminator) {
        size_ = size_t(putInteger(room(kIntegerRoom), v, terminator) - buf_.data());
    }
    // Raw bytes as upper-case hexadecimal digits.
    void hex(const unsigned char* bytes, size_t n, char terminator);
    // NULL: an empty field.
    void null(char terminator) { *room(1) = terminator, ++size_; }

    size_t size() const { return size_; }
    void clear() { size_ = 0; }
    // The answer so far; the builder is empty afterwards.
    std::string take();

    // The loop's write position and the end of the room after it.
    char* cursor() { return buf_.data() + size_; }
    char* limit() { return buf_.data() + buf_.size(); }
    // Keeps what was written before d and returns the new write position, with room for n
    // bytes before limit().
    char* reserve(char* d, size_t n) {
        commit(d);
        return room(n);
    }
    void commit(char* d) { size_ = size_t(d - buf_.data()); }
    RealText& lastReal() { return lastReal_; }

    // A text field at d (room for n + kSlack bytes), an integer (room for kIntegerRoom).
    static char* putText(char* d, const char* s, size_t n, char terminator) {
        copyText(d, s, n);
        d[n] = terminator;
        return d + n + 1;
    }
    static char* putInteger(char* d, int64_t v, char terminator) {
        char* e = writeInteger(d, v);
        *e = terminator;
        return e + 1;
    }

    // Copies n bytes of a text value to d, replacing the bytes that would shift fields; d has
    // room for n + kSlack bytes.
    static void copyText(char* d, const char* s, size_t n);
    static char* writeInteger(char* d, int64_t v);
    static constexpr size_t kSlack = 16;
    static constexpr size_t kIntegerRoom = 24;

  private:
    char* room(size_t n) {
        if (buf_.size() - size_ < n) grow(n);
        return buf_.data() + size_;
    }
    void grow(size_t n);

    std::string buf_; // its size is the capacity; the answer is its first size_ bytes
    size_t size_ = 0;
    RealText lastReal_;
};

// The size of an engine's last answer: the next one, usually a similar search, is built in a
// buffer of about the right size from the start instead of growing into it.
class SizeHint {
  public:
    size_t capacity() const {
        const size_t c = last_ + last_ / 8 + 256;
        return last_ == 0 ? 0 : c < kLargest ? c : kLargest;
    }
    void record(size_t answerBytes) { last_ = answerBytes; }

  private:
    static constexpr size_t kLargest = size_t(8) << 20; // larger answers grow from here
    size_t last_ = 0;
};

// Appends one text field closed by terminator, ";" and CR/LF/NUL replaced.
void appendText(std::string& out, const char* text, size_t size, char terminator);
// Appends the shortest C-locale text of v that reads back to the same double (no terminator).
void appendReal(std::string& out, double v);
// Appends a decimal integer (no terminator).
void appendInteger(std::string& out, int64_t v);
// Appends raw bytes as upper-case hexadecimal digits (no terminator).
void appendHex(std::string& out, const unsigned char* bytes, size_t size);

} // namespace dbanswer
