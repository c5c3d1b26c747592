#pragma once
// The pieces of a Jet 4 (Access 2000-2003) database file that a writer of plain tables needs:
// 4 KB pages, little-endian numbers, UCS-2 text with Access's "Unicode compression", table
// definition pages, data rows, usage maps and the encrypted database header. The layout
// follows the MDB format documentation (pages, TDEF, rows, usage maps, long values).
#include <cstdint>
#include <string>
#include <vector>

namespace mkdb::jet {

constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kDataHeader = 14;   // data page header up to the row offsets
constexpr uint32_t kMaxRowsPerPage = 255; // a row pointer holds the row in one byte
constexpr uint32_t kMemoInlineMax = 64;   // longer memo values go to long-value pages
constexpr uint32_t kLvalChunkMax = kPageSize - kDataHeader - 2 - 4; // one chain link per page
constexpr uint32_t kMaxPages = uint32_t(1) << 19;   // 2 GB, the limit of an Access file
constexpr uint32_t kMapPageBits = (kPageSize - 4) * 8; // pages one usage-map page covers
constexpr size_t kMapRecordSize = 69;                  // type byte + 4 + 64, as Access writes

// Column types of the format.
enum ColType : uint8_t {
    kBool = 0x01, kByte = 0x02, kInt = 0x03, kLong = 0x04, kMoney = 0x05, kSingle = 0x06,
    kDouble = 0x07, kDateTime = 0x08, kBinary = 0x09, kText = 0x0A, kOle = 0x0B, kMemo = 0x0C,
    kGuid = 0x0F, kNumeric = 0x10,
};

void put16(std::string& b, size_t at, uint32_t v);
void put32(std::string& b, size_t at, uint32_t v);
void append16(std::string& b, uint32_t v);
void append32(std::string& b, uint32_t v);
// The 8 little-endian bytes of a double.
std::string doubleBytes(double v);

// A row pointer: page and row number in one 32-bit value.
inline uint32_t pgRow(uint32_t page, uint32_t row) { return (page << 8) | row; }

// UTF-8 to UTF-16 code units; invalid bytes become U+FFFD.
std::u16string utf16(const std::string& utf8);
// The stored form of a text: compressed (0xFF 0xFE, one byte per character whose high byte
// is zero, a zero byte switching modes) when allowed and shorter, else plain UCS-2LE.
std::string encodeText(const std::u16string& text, bool compress);
// Whole UTF-16 units of text cut to at most max, never inside a surrogate pair.
std::u16string cutText(const std::u16string& text, size_t max);

// An OLE automation date (days since 1899-12-30) of the current local time.
double oleDateNow();

struct Column {
    std::string name;
    ColType type;
    uint16_t length = 0;     // bytes for Text and Binary (2 per character for Text)
    bool compressed = false; // Unicode compression for Text and Memo
    uint8_t precision = 0, scale = 0; // Numeric (Decimal)
};

// A table definition: column numbers, fixed offsets and variable slots follow the order of
// the columns.
class TableDef {
  public:
    explicit TableDef(std::vector<Column> columns);
    const std::vector<Column>& columns() const { return columns_; }
    bool isFixed(size_t i) const;
    size_t varCount() const { return varCount_; }

    // One value of a row: absent (NULL) or its stored bytes. Fixed values are their
    // little-endian bytes; variable ones their text, binary or 12-byte long-value form.
    struct Field {
        bool null = true;
        std::string bytes;
    };
    // The row as it lies on a data page. A Boolean is never NULL: its value (bytes "\1" for
    // true) is the column's bit in the null mask.
    std::string encodeRow(const std::vector<Field>& fields) const;

    // The table definition page: row count, usage maps of the table (row pointers), and the
    // usage maps of long-value columns as (column, used map, free map).
    struct LongValueMaps {
        uint16_t column;
        uint32_t used, free;
    };
    std::string tdefPage(uint32_t rows, uint32_t usedMap, uint32_t freeMap,
                         const std::vector<LongValueMaps>& lvalMaps, bool system) const;

  private:
    std::vector<Column> columns_;
    std::vector<uint16_t> fixedOffset_, varIndex_;
    size_t varCount_ = 0;
    uint16_t fixedSize_ = 0;
};

// A data or long-value page being filled from its end towards its header.
class PageBuilder {
  public:
    // owner: the table definition page; lval: a long-value page ("LVAL" in place of it).
    PageBuilder(uint32_t owner, bool lval);
    // Bytes left for one more row (its offset entry counted).
    size_t room() const;
    bool empty() const { return rows_ == 0; }
    // Adds a row; returns its number on the page. The caller checks room() first.
    uint32_t add(const std::string& row);
    const std::string& bytes();

  private:
    std::string page_;
    uint32_t rows_ = 0, top_ = kPageSize;
};

// A usage map over a set of pages. Small sets are one inline record (type 0, a start page and
// 512 bits); others a record of pointers to map pages (type 1), whose contents are returned in
// mapPages with the page numbers taken from nextPage.
struct MapPage {
    uint32_t number;
    std::string bytes;
};
std::string usageMap(const std::vector<uint32_t>& pages, uint32_t& nextPage,
                     std::vector<MapPage>& mapPages);

// The database definition page (page 0) of a Jet 4 file created at date.
std::string headerPage(double date);

} // namespace mkdb::jet
