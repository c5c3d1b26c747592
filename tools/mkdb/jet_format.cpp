#include "jet_format.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace mkdb::jet {
namespace {

constexpr uint32_t kTableMagic = 0x0659; // stamped into every table and column definition
constexpr uint16_t kSortGeneral = 0x0409; // the "General" text sort order (1033)

uint16_t fixedSize(ColType t) {
    switch (t) {
    case kByte: return 1;
    case kInt: return 2;
    case kLong:
    case kSingle: return 4;
    case kMoney:
    case kDouble:
    case kDateTime: return 8;
    case kGuid: return 16;
    case kNumeric: return 17;
    default: return 0;
    }
}

bool isFixedType(ColType t) {
    return t != kText && t != kMemo && t != kOle && t != kBinary;
}

// RC4, with which the database header is scrambled.
void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[size_t(i) % keyLen]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (size_t k = 0, i = 0, j = 0; k < len; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

long daysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + long(doe) - 719468;
}

} // namespace

void put16(std::string& b, size_t at, uint32_t v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}

void put32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void append16(std::string& b, uint32_t v) {
    b.push_back(char(v & 0xFF));
    b.push_back(char((v >> 8) & 0xFF));
}

void append32(std::string& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(char((v >> (8 * i)) & 0xFF));
}

std::string doubleBytes(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::string b;
    for (int i = 0; i < 8; ++i)
        b.push_back(char((bits >> (8 * i)) & 0xFF));
    return b;
}

std::u16string utf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        char32_t cp = 0xFFFD;
        size_t len = 1;
        auto cont = [&](size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xE0 && cont(1)) {
            cp = char32_t(((c & 0x1F) << 6) | (p[i + 1] & 0x3F));
            len = 2;
        } else if (c >= 0xE0 && c < 0xF0 && cont(1) && cont(2)) {
            cp = char32_t(((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
        } else if (c >= 0xF0 && c < 0xF5 && cont(1) && cont(2) && cont(3)) {
            cp = char32_t(((c & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) |
                          ((p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F));
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string encodeText(const std::u16string& text, bool compress) {
    std::string plain;
    plain.reserve(text.size() * 2);
    for (char16_t u : text)
        append16(plain, u);
    // A unit whose low byte is zero cannot appear in the compressed form: the reader takes a
    // zero byte as the switch between the modes.
    if (!compress || text.empty() ||
        std::any_of(text.begin(), text.end(), [](char16_t u) { return (u & 0xFF) == 0; }))
        return plain;
    std::string packed = "\xFF\xFE";
    bool narrow = true;
    for (char16_t u : text) {
        const bool wide = (u >> 8) != 0;
        if (wide == narrow) {
            packed.push_back('\0');
            narrow = !wide;
        }
        packed.push_back(char(u & 0xFF));
        if (wide) packed.push_back(char(u >> 8));
    }
    return packed.size() < plain.size() ? packed : plain;
}

std::u16string cutText(const std::u16string& text, size_t max) {
    if (text.size() <= max) return text;
    size_t cut = max;
    if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] < 0xDC00) --cut;
    return text.substr(0, cut);
}

double oleDateNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    const long days = daysFromCivil(tm.tm_year + 1900L, unsigned(tm.tm_mon + 1),
                                    unsigned(tm.tm_mday)) -
                      daysFromCivil(1899, 12, 30);
    return double(days) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

TableDef::TableDef(std::vector<Column> columns) : columns_(std::move(columns)) {
    for (const Column& c : columns_) {
        if (isFixedType(c.type)) {
            fixedOffset_.push_back(fixedSize_);
            varIndex_.push_back(0);
            fixedSize_ = uint16_t(fixedSize_ + fixedSize(c.type));
        } else {
            fixedOffset_.push_back(0);
            varIndex_.push_back(uint16_t(varCount_++));
        }
    }
}

bool TableDef::isFixed(size_t i) const {
    return isFixedType(columns_[i].type);
}

std::string TableDef::encodeRow(const std::vector<Field>& fields) const {
    const size_t n = columns_.size();
    if (fields.size() != n) throw std::logic_error("row of the wrong width");
    std::string row;
    append16(row, uint32_t(n));
    row.append(fixedSize_, '\0');
    for (size_t i = 0; i < n; ++i) {
        if (!isFixed(i) || fields[i].null || columns_[i].type == kBool) continue;
        const std::string& v = fields[i].bytes;
        std::memcpy(&row[2 + fixedOffset_[i]], v.data(),
                    std::min<size_t>(v.size(), fixedSize(columns_[i].type)));
    }
    if (varCount_ > 0) {
        std::vector<uint16_t> offsets(varCount_);
        for (size_t i = 0; i < n; ++i) {
            if (isFixed(i)) continue;
            offsets[varIndex_[i]] = uint16_t(row.size());
            if (!fields[i].null) row += fields[i].bytes;
        }
        append16(row, uint32_t(row.size())); // end of the variable data
        for (size_t v = varCount_; v-- > 0;)
            append16(row, offsets[v]);
        append16(row, uint32_t(varCount_));
    }
    std::string mask((n + 7) / 8, '\0');
    for (size_t i = 0; i < n; ++i) {
        const bool bit = columns_[i].type == kBool ? fields[i].bytes == "\1" : !fields[i].null;
        if (bit) mask[i / 8] = char(mask[i / 8] | (1 << (i % 8)));
    }
    return row + mask;
}

std::string TableDef::tdefPage(uint32_t rows, uint32_t usedMap, uint32_t freeMap,
                               const std::vector<LongValueMaps>& lvalMaps, bool system) const {
    std::string b(63, '\0');
    b[0] = 0x02;
    b[1] = 0x01;
    put32(b, 12, kTableMagic);
    put32(b, 16, rows);
    b[24] = 0x01; // lets autonumbers work in Access
    b[40] = system ? 0x53 : 0x4E;
    const uint32_t n = uint32_t(columns_.size());
    put16(b, 41, n);
    put16(b, 43, uint32_t(varCount_));
    put16(b, 45, n);
    put32(b, 55, usedMap);
    put32(b, 59, freeMap);
    for (uint32_t i = 0; i < n; ++i) {
        const Column& c = columns_[i];
        std::string e(25, '\0');
        e[0] = char(c.type);
        put32(e, 1, kTableMagic);
        put16(e, 5, i);
        put16(e, 7, isFixed(i) ? 0 : varIndex_[i]);
        put16(e, 9, i);
        if (c.type == kNumeric) {
            e[11] = char(c.precision);
            e[12] = char(c.scale);
        } else {
            put16(e, 11, kSortGeneral);
        }
        e[15] = char(0x02 | (isFixed(i) ? 0x01 : 0x00));
        e[16] = c.compressed ? 0x01 : 0x00;
        put16(e, 21, fixedOffset_[i]);
        put16(e, 23, isFixed(i) ? fixedSize(c.type) : c.length);
        b += e;
    }
    for (const Column& c : columns_) {
        const std::string name = encodeText(utf16(c.name), false);
        append16(b, uint32_t(name.size()));
        b += name;
    }
    for (const LongValueMaps& m : lvalMaps) {
        append16(b, m.column);
        append32(b, m.used);
        append32(b, m.free);
    }
    append16(b, 0xFFFF);
    b.append(8, '\0');
    if (b.size() > kPageSize) throw std::logic_error("table definition larger than a page");
    put32(b, 8, uint32_t(b.size() - 8));
    put16(b, 2, uint32_t(kPageSize - b.size()));
    b.resize(kPageSize, '\0');
    return b;
}

PageBuilder::PageBuilder(uint32_t owner, bool lval) : page_(kPageSize, '\0') {
    page_[0] = 0x01;
    page_[1] = 0x01;
    if (lval)
        std::memcpy(&page_[4], "LVAL", 4);
    else
        put32(page_, 4, owner);
    put16(page_, 2, kPageSize - kDataHeader);
}

size_t PageBuilder::room() const {
    const size_t used = kDataHeader + 2 * (rows_ + 1);
    return rows_ >= kMaxRowsPerPage || top_ < used ? 0 : top_ - used;
}

uint32_t PageBuilder::add(const std::string& row) {
    top_ -= uint32_t(row.size());
    std::memcpy(&page_[top_], row.data(), row.size());
    put16(page_, kDataHeader + 2 * rows_, top_);
    ++rows_;
    put16(page_, 12, rows_);
    put16(page_, 2, top_ - (kDataHeader + 2 * rows_));
    return rows_ - 1;
}

const std::string& PageBuilder::bytes() {
    return page_;
}

std::string usageMap(const std::vector<uint32_t>& pages, uint32_t& nextPage,
                     std::vector<MapPage>& mapPages) {
    std::string rec(kMapRecordSize, '\0');
    if (pages.empty()) return rec;
    const uint32_t lo = *std::min_element(pages.begin(), pages.end());
    const uint32_t hi = *std::max_element(pages.begin(), pages.end());
    const uint32_t inlineBits = uint32_t(kMapRecordSize - 5) * 8;
    if (hi - lo < inlineBits) {
        put32(rec, 1, lo);
        for (uint32_t p : pages)
            rec[5 + (p - lo) / 8] = char(rec[5 + (p - lo) / 8] | (1 << ((p - lo) % 8)));
        return rec;
    }
    rec[0] = 0x01;
    const size_t slots = (kMapRecordSize - 1) / 4;
    std::vector<std::string> maps(slots);
    for (uint32_t p : pages) {
        const size_t k = p / kMapPageBits;
        if (k >= slots) throw std::logic_error("page beyond the reach of a usage map");
        std::string& m = maps[k];
        if (m.empty()) {
            m.assign(kPageSize, '\0');
            m[0] = 0x05;
            m[1] = 0x01;
        }
        const uint32_t bit = p % kMapPageBits;
        m[4 + bit / 8] = char(m[4 + bit / 8] | (1 << (bit % 8)));
    }
    for (size_t k = 0; k < slots; ++k) {
        if (maps[k].empty()) continue;
        const uint32_t number = nextPage++;
        put32(rec, 1 + 4 * k, number);
        mapPages.push_back({number, std::move(maps[k])});
    }
    return rec;
}

std::string headerPage(double date) {
    std::string p(kPageSize, '\0');
    p[1] = 0x01;
    std::memcpy(&p[4], "Standard Jet DB", 16);
    p[0x14] = 0x01; // Jet 4
    put16(p, 0x3C, 1252); // code page of the creating system
    // 0x3E: the database key, 0 (not encrypted). 0x42: the 40-byte password, empty, masked
    // with the whole days of the creation date.
    const uint32_t mask = uint32_t(long(date));
    for (size_t i = 0; i < 40; ++i)
        p[0x42 + i] = char((mask >> (8 * (i % 4))) & 0xFF);
    put32(p, 0x6E, kSortGeneral);
    const std::string d = doubleBytes(date);
    std::memcpy(&p[0x72], d.data(), d.size());
    const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4(key, sizeof key, reinterpret_cast<uint8_t*>(&p[0x18]), 128);
    return p;
}

} // namespace mkdb::jet
