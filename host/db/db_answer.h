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

namespace detail {

inline void store8(char* p, uint64_t w) { // the lowest byte first
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &w, 8);
#else
    for (int i = 0; i < 8; ++i)
        p[i] = char(w >> (8 * i));
#endif
}

// The eight digits of v < 10^8 with leading zeros, the first in the lowest byte: both halves
// of four digits, then their pairs, then their digits, side by side in one word.
inline uint64_t eightDigits(uint32_t v) {
    const uint64_t halves = uint64_t(v / 10000) | (uint64_t(v % 10000) << 32);
    const uint64_t high = ((halves * 10486) >> 20) & 0x0000007F0000007Full; // each / 100
    const uint64_t pairs = ((halves - 100 * high) << 16) + high;
    uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;            // each / 10
    tens += (pairs - 10 * tens) << 8;
    return tens | 0x3030303030303030ull;
}

} // namespace detail

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
// into it, so a row costs no allocation. Engines write their rows through a FieldWriter.
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

    // Writing from outside (FieldWriter): the position after the answer so far, the end of
    // the room after it, and the text of the last real written.
    char* cursor() { return buf_.data() + size_; }
    char* limit() { return buf_.data() + buf_.size(); }
    // Keeps what was written before d and returns the new write position, with room for n
    // bytes before limit().
    char* reserve(char* d, size_t n) {
        commit(d);
        return room(n);
    }
    // Keeps what was written before d.
    void commit(char* d) { size_ = size_t(d - buf_.data()); }
    RealText& lastReal() { return lastReal_; }

    // A text field at d (room for n + kSlack bytes), an integer (room for kIntegerRoom).
    static char* putText(char* d, const char* s, size_t n, char terminator) {
        copyText(d, s, n);
        d[n] = terminator;
        return d + n + 1;
    }
    static char* putInteger(char* d, int64_t v, char terminator) {
        char* e;
        if (v > 0 && v < 100000000) { // row IDs: eight digits at most, the leading zeros dropped
            const uint64_t w = detail::eightDigits(uint32_t(v));
            const int lead = __builtin_ctzll(w ^ 0x3030303030303030ull) >> 3;
            detail::store8(d, w >> (8 * lead));
            e = d + 8 - lead;
        } else {
            e = writeInteger(d, v);
        }
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

// Writes the rows of an answer into a builder. The write position and the end of the room are
// the writer's own, so they stay in registers across an engine's calls into its library
// (kept in the builder, every byte written through a char pointer could change them). Every
// field is closed by ";", and endRow() turns the row's last one into a line break.
class FieldWriter {
  public:
    explicit FieldWriter(Builder& out)
        : out_(out), lastReal_(out.lastReal()), d_(out.cursor()), end_(out.limit()) {}

    void text(const char* s, size_t n) {
        ensure(n + Builder::kSlack);
        d_ = Builder::putText(d_, s, n, ';');
    }
    void integer(int64_t v) {
        ensure(Builder::kIntegerRoom);
        d_ = Builder::putInteger(d_, v, ';');
    }
    void real(double v) {
        ensure(kRealRoom);
        d_ = lastReal_.put(d_, v, ';');
    }
    void null() {
        ensure(1);
        *d_++ = ';';
    }
    // The rare kinds, written by the builder itself.
    void real(float v) {
        out_.commit(d_);
        out_.real(v, ';');
        reload();
    }
    void hex(const unsigned char* bytes, size_t n) {
        out_.commit(d_);
        out_.hex(bytes, n, ';');
        reload();
    }
    // Ends a row of at least one field; the builder then holds every row written.
    void endRow() {
        d_[-1] = '\n';
        out_.commit(d_);
    }

  private:
    void ensure(size_t bytes) {
        if (size_t(end_ - d_) < bytes) {
            d_ = out_.reserve(d_, bytes);
            end_ = out_.limit();
        }
    }
    void reload() {
        d_ = out_.cursor();
        end_ = out_.limit();
    }

    Builder& out_;
    RealText& lastReal_;
    char* d_;
    char* end_;
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
