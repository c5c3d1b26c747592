#pragma once
// Reads the tables of an Access file (.mdb: Jet 3 and Jet 4; .accdb) with mdbtools' libmdb,
// read-only. libmdb walks the pages, the usage maps and the rows; the values are taken from
// the row bytes here, so that every number comes back exactly (libmdb's own text forms round
// doubles and follow the locale) and every text arrives as UTF-8: Jet 4 texts are UCS-2,
// with or without Access's compression, Jet 3 texts are in the file's code page, which
// libmdb converts.
//
// The file is checked before libmdb sees it (signature, version, length), and every long
// value is read with bounds of its own, so a damaged file ends in an error, not a hang.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace accessdb {

// One value of a row, as it goes into SQLite.
struct Value {
    enum Kind { Null, Integer, Real, Text, Blob } kind = Null;
    int64_t i = 0;
    double d = 0;
    std::string s; // UTF-8 text or raw bytes
};

// The column types of the format (libmdb's MDB_BOOL, MDB_BYTE, ... are the same codes).
enum ColumnType {
    kBool = 0x01, kByte = 0x02, kInt = 0x03, kLong = 0x04, kMoney = 0x05, kSingle = 0x06,
    kDouble = 0x07, kDateTime = 0x08, kBinary = 0x09, kText = 0x0A, kOle = 0x0B, kMemo = 0x0C,
    kGuid = 0x0F, kNumeric = 0x10, kComplex = 0x12,
};

struct ColumnInfo {
    std::string name; // UTF-8
    int type = 0;     // a ColumnType
};

class AccessFile {
  public:
    // Opens path read-only; null with a DbCode and its text on failure.
    static std::unique_ptr<AccessFile> open(const std::string& path, int& code,
                                            std::string& error);
    ~AccessFile();
    AccessFile(const AccessFile&) = delete;
    AccessFile& operator=(const AccessFile&) = delete;

    // "JET3", "JET4" or "ACE" with the version byte of the file.
    std::string version() const;

    // The user tables of the catalog (not the system ones), in catalog order. False with a
    // DbCode and text when the catalog cannot be read.
    bool tables(std::vector<std::string>& names, int& code, std::string& error);

    // Reads the table of that name (any case): its columns, then every row in the order of
    // the file. onRow returns false to stop. False with a DbCode and text when the table is
    // missing (DB_NO_MOLECULES is not assumed: the code is DB_SQL_ERROR) or damaged
    // (DB_NOT_A_DATABASE).
    using RowSink = std::function<bool(const std::vector<Value>&)>;
    bool readTable(const std::string& name, std::vector<ColumnInfo>& columns,
                   const RowSink& onRow, int& code, std::string& error);

    // Just the column names of a table, or false when there is no such table.
    bool columns(const std::string& name, std::vector<ColumnInfo>& columns, int& code,
                 std::string& error);

  private:
    struct Impl;
    explicit AccessFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d_;
};

// The UTF-8 form of a Jet 4 text value: UCS-2LE, or compressed (0xFF 0xFE, then one byte
// per character whose high byte is zero, a zero byte switching between the modes). Unpaired
// surrogates become U+FFFD.
std::string decodeJet4Text(const unsigned char* bytes, size_t size);

// "YYYY-MM-DD HH:MM:SS" of an OLE automation date (days since 1899-12-30).
std::string oleDateText(double days);

} // namespace accessdb
