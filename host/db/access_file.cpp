#include "access_file.h"

#include <mdbtools.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "access_sql.h"
#include "db_common.h"
#include "db_engine.h"

namespace accessdb {

static_assert(int(kBool) == MDB_BOOL && int(kText) == MDB_TEXT && int(kMemo) == MDB_MEMO &&
                  int(kNumeric) == MDB_NUMERIC && int(kGuid) == MDB_REPID &&
                  int(kComplex) == MDB_COMPLEX,
              "the format's type codes");

namespace {

constexpr unsigned kOffsetMask = 0x1FFF;
constexpr unsigned kDeletedRow = 0x8000;  // also the moved row an overflow pointer leads to
constexpr unsigned kOverflowRow = 0x4000; // the row holds a pointer to its moved data
constexpr int kMaxOverflowHops = 4;

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

std::string utf8FromUtf16(const std::u16string& u) {
    std::string out;
    out.reserve(u.size());
    for (size_t i = 0; i < u.size(); ++i) {
        char32_t c = u[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
            u[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string damaged(const std::string& path, const std::string& what) {
    return "The Access database " + path + " is damaged: " + what;
}

// A GUID as Windows writes it: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, the first three
// groups little-endian.
std::string guidText(const unsigned char* b) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(le32(b)),
                  unsigned(le16(b + 4)), unsigned(le16(b + 6)), b[8], b[9], b[10], b[11], b[12],
                  b[13], b[14], b[15]);
    return buf;
}

// The exact value of a Decimal: a sign byte, then four 32-bit little-endian words, the most
// significant first, scaled by 10^-scale. Its shortest double is what the cache can hold.
double decimalValue(const unsigned char* b, int scale) {
    unsigned __int128 v = 0;
    for (int k = 0; k < 4; ++k)
        v = (v << 32) | le32(b + 1 + 4 * k);
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(v % 10)));
        v /= 10;
    } while (v != 0);
    if (scale > 0) {
        if (digits.size() <= size_t(scale)) digits.insert(0, size_t(scale) + 1 - digits.size(), '0');
        digits.insert(digits.size() - size_t(scale), ".");
    }
    if (b[0] & 0x80) digits.insert(0, "-");
    double d = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), d);
    return d;
}

// The shortest decimal of a Single, read back as a double: 0.1f becomes 0.1, as Access
// shows it, not 0.100000001490116.
double singleValue(const unsigned char* b) {
    const uint32_t bits = le32(b);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (!std::isfinite(f)) return double(f);
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    double d = 0;
    std::from_chars(buf, r.ptr, d);
    return d;
}

double doubleValue(const unsigned char* b) {
    uint64_t bits = uint64_t(le32(b)) | uint64_t(le32(b + 4)) << 32;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

int64_t moneyUnits(const unsigned char* b) {
    return int64_t(uint64_t(le32(b)) | uint64_t(le32(b + 4)) << 32);
}

} // namespace

std::string decodeJet4Text(const unsigned char* b, size_t n) {
    std::u16string u;
    u.reserve(n);
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        bool narrow = true;
        for (size_t i = 2; i < n;) {
            if (b[i] == 0) {
                narrow = !narrow;
                ++i;
            } else if (narrow) {
                u.push_back(b[i++]);
            } else if (i + 1 < n) {
                u.push_back(char16_t(b[i] | b[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (size_t i = 0; i + 1 < n; i += 2)
            u.push_back(char16_t(b[i] | b[i + 1] << 8));
    }
    return utf8FromUtf16(u);
}

std::string oleDateText(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6) return {};
    // The whole part counts days from 1899-12-30 (negative before it); the fraction is the
    // time of day whatever the sign.
    long long whole = (long long)(days);
    long long secs = std::llround(std::fabs(days - double(whole)) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        whole += days < 0 ? -1 : 1;
    }
    // Civil date from days since 1970-01-01 (1899-12-30 is day -25569).
    long long z = whole - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = (long long)(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, secs / 3600,
                  (secs / 60) % 60, secs % 60);
    return buf;
}

struct AccessFile::Impl {
    std::string path;
    MdbHandle* mdb = nullptr;
    int version = 0;
    bool catalogRead = false;
    // The tables of the catalog; libmdb keeps a pointer to its entry in each table it reads.
    std::vector<std::unique_ptr<MdbCatalogEntry>> entries;
    std::unique_ptr<MdbCatalogEntry> catalog;

    ~Impl() {
        if (mdb) mdb_close(mdb);
    }

    bool jet3() const { return version == MDB_VER_JET3; }

    std::string text(const unsigned char* b, size_t n) {
        if (!jet3()) return decodeJet4Text(b, n);
        // Jet 3: the file's code page, which libmdb converts to UTF-8.
        std::string out(n * 4 + 8, '\0');
        int len = mdb_unicode2ascii(mdb, reinterpret_cast<const char*>(b), n, &out[0], out.size());
        out.resize(len > 0 ? size_t(len) : 0);
        return out;
    }

    // Reads the column definitions of t: false when libmdb cannot (it then leaves no list
    // of columns, or a shorter one than the table's count).
    static bool columnsRead(MdbTableDef* t) {
        return mdb_read_columns(t) && t->columns && t->columns->len >= t->num_cols;
    }

    // A row of a page as libmdb finds it from the file's offsets.
    bool withinPage(int start, size_t len) const {
        return start >= 0 && size_t(start) + len <= size_t(mdb->fmt->pg_size);
    }

    // The bytes of a long value (Memo, OLE) whose 12-byte field lies at field; false when the
    // value points outside the file or its chain does not add up to its length.
    bool longValue(const unsigned char* field, size_t size, std::string& out, std::string& why) {
        out.clear();
        if (size < MDB_MEMO_OVERHEAD) return size == 0 || (why = "a short long-value field", false);
        const uint32_t head = le32(field);
        const uint32_t len = head & 0x3FFFFFFF;
        if (head & 0x80000000) {
            out.assign(reinterpret_cast<const char*>(field) + MDB_MEMO_OVERHEAD,
                       size - MDB_MEMO_OVERHEAD);
            return true;
        }
        uint32_t at = le32(field + 4);
        void* buf = nullptr;
        int start = 0;
        size_t rowLen = 0;
        if (head & 0x40000000) {
            if (mdb_find_pg_row(mdb, int(at), &buf, &start, &rowLen) != 0 ||
                !withinPage(start, rowLen)) {
                why = "a long value points outside the file";
                return false;
            }
            out.assign(static_cast<const char*>(buf) + start, rowLen);
            return true;
        }
        // A chain of links, each the next link's pointer and a piece; its length bounds it.
        while (at != 0 && out.size() < len) {
            if (mdb_find_pg_row(mdb, int(at), &buf, &start, &rowLen) != 0 || rowLen < 4 ||
                !withinPage(start, rowLen)) {
                why = "a long value points outside the file";
                return false;
            }
            const auto* p = static_cast<const unsigned char*>(buf) + start;
            if (rowLen - 4 == 0) break;
            out.append(reinterpret_cast<const char*>(p) + 4,
                       std::min<size_t>(rowLen - 4, len - out.size()));
            at = le32(p);
        }
        if (out.size() != len) {
            why = "a long value is shorter than it says";
            return false;
        }
        return true;
    }

    bool value(MdbColumn* col, const MdbField& f, Value& v, std::string& why) {
        v = Value{};
        if (col->col_type == MDB_BOOL) {
            v.kind = Value::Integer;
            v.i = f.is_null ? 0 : 1; // the null bit holds the value
            return true;
        }
        if (f.is_null) return true; // its start and size mean nothing then
        const auto* p = mdb->pg_buf + f.start;
        const size_t n = size_t(f.siz);
        auto need = [&](size_t k) { return n >= k || (why = "a value shorter than its type", false); };
        switch (col->col_type) {
        case MDB_BYTE:
            if (!need(1)) return false;
            v.kind = Value::Integer, v.i = p[0];
            break;
        case MDB_INT:
            if (!need(2)) return false;
            v.kind = Value::Integer, v.i = int16_t(le16(p));
            break;
        case MDB_LONGINT:
        case MDB_COMPLEX:
            if (!need(4)) return false;
            v.kind = Value::Integer, v.i = int32_t(le32(p));
            break;
        case MDB_MONEY:
            if (!need(8)) return false;
            v.kind = Value::Real, v.d = double(moneyUnits(p)) / 10000.0;
            break;
        case MDB_FLOAT:
            if (!need(4)) return false;
            v.kind = Value::Real, v.d = singleValue(p);
            break;
        case MDB_DOUBLE:
            if (!need(8)) return false;
            v.kind = Value::Real, v.d = doubleValue(p);
            break;
        case MDB_DATETIME:
            if (!need(8)) return false;
            v.kind = Value::Text, v.s = oleDateText(doubleValue(p));
            if (v.s.empty()) v.kind = Value::Null;
            break;
        case MDB_NUMERIC:
            if (!need(17)) return false;
            // The precision is the column's byte 11 and the scale byte 12, which libmdb reads
            // into col_scale and col_prec, the other way round.
            v.kind = Value::Real, v.d = decimalValue(p, col->col_prec);
            break;
        case MDB_REPID:
            if (!need(16)) return false;
            v.kind = Value::Text, v.s = guidText(p);
            break;
        case MDB_TEXT:
            v.kind = Value::Text, v.s = text(p, n);
            break;
        case MDB_BINARY:
            v.kind = Value::Blob, v.s.assign(reinterpret_cast<const char*>(p), n);
            break;
        case MDB_MEMO:
        case MDB_OLE: {
            std::string bytes;
            if (!longValue(p, n, bytes, why)) return false;
            if (col->col_type == MDB_OLE) {
                v.kind = Value::Blob, v.s = std::move(bytes);
            } else {
                v.kind = Value::Text;
                v.s = text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            }
            break;
        }
        default: // attachments and other kinds the cache does not hold
            break;
        }
        return true;
    }

    // Cracks row `row` of the page in pg_buf and converts its values. Follows an overflow
    // pointer to the moved row (loading its page into pg_buf). Returns 1 for a row, 0 for a
    // deleted one, -1 for damage.
    int readRow(MdbTableDef* t, int row, const std::vector<bool>& wanted,
                std::vector<MdbField>& fields, std::vector<Value>& out, std::string& why) {
        const int rco = mdb->fmt->row_count_offset;
        for (int hop = 0; hop <= kMaxOverflowHops; ++hop) {
            const unsigned raw = le16(mdb->pg_buf + rco + 2 + 2 * row);
            // A moved row carries the deleted flag on its new page, so that a scan of that
            // page passes over it; it is read through its pointer.
            if (hop == 0 && (raw & kDeletedRow)) return 0;
            int start = 0;
            size_t len = 0;
            if (mdb_find_row(mdb, row, &start, &len) != 0) {
                why = "a row lies outside its page";
                return -1;
            }
            start &= int(kOffsetMask);
            if (size_t(start) + len > size_t(mdb->fmt->pg_size)) {
                why = "a row lies outside its page";
                return -1;
            }
            if (raw & kOverflowRow) {
                if (len < 4) {
                    why = "a moved row's pointer is cut short";
                    return -1;
                }
                const uint32_t to = le32(mdb->pg_buf + start);
                if (mdb_read_pg(mdb, to >> 8) != mdb->fmt->pg_size || mdb->pg_buf[0] != 0x01) {
                    why = "a moved row points outside the file";
                    return -1;
                }
                row = int(to & 0xFF);
                if (row >= le16(mdb->pg_buf + rco)) {
                    why = "a moved row points outside its page";
                    return -1;
                }
                continue;
            }
            if (len == 0) return 0;
            for (MdbField& f : fields)
                f = MdbField{}, f.is_null = 1;
            if (mdb_crack_row(t, start, len, fields.data()) < 0) {
                why = "a row cannot be read";
                return -1;
            }
            // The offsets inside a row are the file's: a value must lie within its row.
            for (unsigned i = 0; i < t->num_cols; ++i) {
                const MdbField& f = fields[i];
                if (f.is_null) continue;
                if (f.start < start || f.siz < 0 || size_t(f.start) + size_t(f.siz) >
                                                        size_t(start) + len) {
                    why = "a value lies outside its row";
                    return -1;
                }
            }
            out.resize(t->num_cols);
            for (unsigned i = 0; i < t->num_cols; ++i) {
                auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
                if (!wanted.empty() && !wanted[i])
                    out[i] = Value{};
                else if (!value(col, fields[i], out[i], why))
                    return -1;
            }
            return 1;
        }
        why = "moved rows point in a circle";
        return -1;
    }

    // Every row of a table, in page order; false with the reason when it is damaged.
    // wanted: the columns to read (empty: all; the others come as NULL).
    bool scan(MdbTableDef* t, const std::vector<bool>& wanted, const RowSink& onRow,
              std::string& why) {
        const long owner = long(t->entry->table_pg);
        const ssize_t pageSize = mdb->fmt->pg_size;
        const int rco = mdb->fmt->row_count_offset;
        std::vector<MdbField> fields(t->num_cols ? t->num_cols : 1);
        std::vector<Value> values;
        unsigned long count = 0;
        struct stat st {};
        const unsigned long pages = fstat(fileno(mdb->f->stream), &st) == 0
                                        ? (unsigned long)(st.st_size / pageSize)
                                        : 0;
        // The usage map names the table's pages; an unknown kind of map means reading every
        // page and keeping the table's own.
        long pg = 0;
        const bool known = t->usage_map && t->map_sz > 0 &&
                           (t->usage_map[0] == 0 || t->usage_map[0] == 1);
        for (;;) {
            if (known) {
                const long previous = pg;
                pg = mdb_map_find_next(mdb, t->usage_map, unsigned(t->map_sz), guint32(pg));
                if (pg <= 0) break;
                // A damaged map can name a page again (libmdb then returns it forever).
                if (pg <= previous) {
                    why = "a table's usage map names a page twice";
                    return false;
                }
            } else if (++pg >= long(pages)) {
                break;
            }
            if ((unsigned long)pg >= pages) {
                why = "a table's page lies past the end of the file";
                return false;
            }
            if (mdb_read_pg(mdb, (unsigned long)pg) != pageSize) {
                why = "a page cannot be read";
                return false;
            }
            if (mdb->pg_buf[0] != 0x01 || long(le32(mdb->pg_buf + 4)) != owner) continue;
            const int rows = le16(mdb->pg_buf + rco);
            if (rows > (pageSize - rco) / 2) {
                why = "a page holds more rows than fit";
                return false;
            }
            for (int r = 0; r < rows; ++r) {
                if (mdb->cur_pg != (unsigned long)pg && mdb_read_pg(mdb, (unsigned long)pg) != pageSize) {
                    why = "a page cannot be read";
                    return false;
                }
                const int got = readRow(t, r, wanted, fields, values, why);
                if (got < 0) return false;
                if (got == 0) continue;
                ++count;
                if (!onRow(values)) return true;
            }
        }
        if (count < t->num_rows) {
            why = std::to_string(count) + " of the " + std::to_string(t->num_rows) + " rows of " +
                  t->name + " can be read";
            return false;
        }
        return true;
    }

    bool readCatalog(int& code, std::string& error) {
        if (catalogRead) return true;
        catalog = std::make_unique<MdbCatalogEntry>();
        std::memset(catalog.get(), 0, sizeof(MdbCatalogEntry));
        catalog->mdb = mdb;
        catalog->object_type = MDB_TABLE;
        catalog->table_pg = 2; // MSysObjects
        std::strcpy(catalog->object_name, "MSysObjects");
        MdbTableDef* t = mdb_read_table(catalog.get());
        if (!t) {
            code = DB_NOT_A_DATABASE;
            error = damaged(path, "its catalog cannot be read");
            return false;
        }
        if (!columnsRead(t)) {
            mdb_free_tabledef(t);
            code = DB_NOT_A_DATABASE;
            error = damaged(path, "the columns of its catalog cannot be read");
            return false;
        }
        int id = -1, name = -1, type = -1, flags = -1;
        for (unsigned i = 0; i < t->num_cols; ++i) {
            const char* n = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i))->name;
            if (!strcasecmp(n, "Id")) id = int(i);
            if (!strcasecmp(n, "Name")) name = int(i);
            if (!strcasecmp(n, "Type")) type = int(i);
            if (!strcasecmp(n, "Flags")) flags = int(i);
        }
        std::string why = "its catalog lacks the columns Id, Name, Type and Flags";
        bool ok = id >= 0 && name >= 0 && type >= 0 && flags >= 0;
        if (ok) {
            std::vector<bool> wanted(t->num_cols, false);
            for (int c : {id, name, type, flags})
                wanted[size_t(c)] = true;
            ok = scan(t, wanted, [&](const std::vector<Value>& row) {
                const int64_t kind = row[size_t(type)].i, flag = row[size_t(flags)].i;
                // libmdb keeps a name as a C string of limited length: up to a NUL, cut
                // between characters.
                std::string n = row[size_t(name)].s.substr(0, row[size_t(name)].s.find('\0'));
                size_t fit = std::min(n.size(), sizeof(MdbCatalogEntry::object_name) - 1);
                while (fit < n.size() && (static_cast<unsigned char>(n[fit]) & 0xC0) == 0x80)
                    --fit;
                n.resize(fit);
                if ((kind & 0x7F) != MDB_TABLE || (flag & 0x80000002) || n.empty()) return true;
                auto e = std::make_unique<MdbCatalogEntry>();
                std::memset(e.get(), 0, sizeof(MdbCatalogEntry));
                e->mdb = mdb;
                e->object_type = MDB_TABLE;
                e->table_pg = (unsigned long)(row[size_t(id)].i & 0x00FFFFFF);
                std::snprintf(e->object_name, sizeof e->object_name, "%s", n.c_str());
                entries.push_back(std::move(e));
                return true;
            }, why);
        }
        mdb_free_tabledef(t);
        if (!ok) {
            code = DB_NOT_A_DATABASE;
            error = damaged(path, why);
            return false;
        }
        catalogRead = true;
        return true;
    }

    MdbCatalogEntry* find(const std::string& name) {
        for (auto& e : entries)
            if (dbcommon::upper(e->object_name) == dbcommon::upper(name)) return e.get();
        return nullptr;
    }

    MdbTableDef* openTable(const std::string& name, std::vector<ColumnInfo>& columns, int& code,
                           std::string& error) {
        if (!readCatalog(code, error)) return nullptr;
        MdbCatalogEntry* e = find(name);
        if (!e) {
            code = DB_SQL_ERROR;
            error = "The Access database " + path + " has no table " + name;
            return nullptr;
        }
        MdbTableDef* t = mdb_read_table(e);
        if (!t || !columnsRead(t)) {
            if (t) mdb_free_tabledef(t);
            code = DB_NOT_A_DATABASE;
            error = damaged(path, "the definition of the table " + name + " cannot be read");
            return nullptr;
        }
        columns.clear();
        for (unsigned i = 0; i < t->num_cols; ++i) {
            auto* c = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
            columns.push_back({c->name, c->col_type});
        }
        return t;
    }
};

AccessFile::AccessFile(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}
AccessFile::~AccessFile() = default;

std::unique_ptr<AccessFile> AccessFile::open(const std::string& path, int& code,
                                             std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        code = DB_FILE_NOT_FOUND;
        error = "Database file not found: " + path;
        return nullptr;
    }
    unsigned char head[0x20] = {};
    size_t got = 0;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    } else {
        code = DB_OPEN_FAILED;
        error = "Cannot open the database " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const bool signature = got == sizeof head && head[0] == 0 &&
                           (!std::memcmp(head + 4, "Standard Jet DB", 16) ||
                            !std::memcmp(head + 4, "Standard ACE DB", 16));
    if (!signature || head[0x14] > MDB_VER_ACCDB_2019) {
        code = DB_NOT_A_DATABASE;
        error = "Not an Access database: " + path;
        return nullptr;
    }
    const off_t pageSize = head[0x14] == MDB_VER_JET3 ? 2048 : 4096;
    if (st.st_size < 3 * pageSize) { // the header, the free-page map and the catalog
        code = DB_NOT_A_DATABASE;
        error = damaged(path, "it ends after " + std::to_string(st.st_size) + " bytes");
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->version = head[0x14];
    impl->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!impl->mdb) {
        code = DB_OPEN_FAILED;
        error = "Cannot open the Access database " + path;
        return nullptr;
    }
    const char* target = mdb_target_charset(impl->mdb);
    if (target && strcasecmp(target, "UTF-8") != 0) {
        code = DB_OPEN_FAILED;
        error = "Cannot read the texts of " + path + ": the environment asks libmdb for " +
                target + " (unset MDBICONV)";
        return nullptr;
    }
    return std::unique_ptr<AccessFile>(new AccessFile(std::move(impl)));
}

std::string AccessFile::version() const {
    switch (d_->version) {
    case MDB_VER_JET3: return "JET3";
    case MDB_VER_JET4: return "JET4";
    default: return "ACE" + std::to_string(d_->version);
    }
}

bool AccessFile::tables(std::vector<std::string>& names, int& code, std::string& error) {
    if (!d_->readCatalog(code, error)) return false;
    names.clear();
    for (auto& e : d_->entries)
        names.emplace_back(e->object_name);
    return true;
}

bool AccessFile::columns(const std::string& name, std::vector<ColumnInfo>& columns, int& code,
                         std::string& error) {
    MdbTableDef* t = d_->openTable(name, columns, code, error);
    if (!t) return false;
    mdb_free_tabledef(t);
    return true;
}

bool AccessFile::readTable(const std::string& name, std::vector<ColumnInfo>& columns,
                           const RowSink& onRow, int& code, std::string& error) {
    MdbTableDef* t = d_->openTable(name, columns, code, error);
    if (!t) return false;
    std::string why;
    const bool ok = d_->scan(t, {}, onRow, why);
    mdb_free_tabledef(t);
    if (!ok) {
        code = DB_NOT_A_DATABASE;
        error = damaged(d_->path, why);
    }
    return ok;
}

} // namespace accessdb
