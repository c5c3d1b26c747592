#include "access_cache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "access_file.h"
#include "access_sql.h"
#include "db_common.h"
#include "db_engine.h"

namespace accessdb {
namespace fs = std::filesystem;
namespace {

// Raised whenever the layout of the cache changes, so that older caches are rebuilt.
constexpr int kCacheFormat = 1;
constexpr const char* kInfoTable = "tarvish_cache_info";

struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

struct Connection {
    sqlite3* h = nullptr;
    ~Connection() { sqlite3_close_v2(h); }
    sqlite3* release() {
        sqlite3* r = h;
        h = nullptr;
        return r;
    }
};

bool exec(sqlite3* h, const std::string& sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
    error = msg ? msg : sqlite3_errmsg(h);
    sqlite3_free(msg);
    return false;
}

bool queryText(sqlite3* h, const std::string& sql, std::string& out) {
    Statement st;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st.s, nullptr) != SQLITE_OK ||
        sqlite3_step(st.s) != SQLITE_ROW)
        return false;
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st.s, 0));
    out = t ? t : "";
    return true;
}

std::string quotedName(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

// The declared type of a column of the copy, by its Access type (libmdb's codes).
std::string declaredType(int type) {
    switch (type) {
    case kBool: case kByte: case kInt: case kLong: case kComplex: return "INTEGER";
    case kMoney: case kSingle: case kDouble: case kNumeric: return "REAL";
    case kText: case kMemo: return "TEXT COLLATE ACCESS_TEXT";
    case kDateTime: case kGuid: return "TEXT";
    case kBinary: case kOle: return "BLOB";
    default: return "";
    }
}

// Orders values as SQLite does: NULL, numbers, texts, blobs.
int compareValues(const Value& a, const Value& b) {
    auto rank = [](const Value& v) {
        switch (v.kind) {
        case Value::Null: return 0;
        case Value::Integer:
        case Value::Real: return 1;
        case Value::Text: return 2;
        default: return 3;
        }
    };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra == 1) {
        const double x = a.kind == Value::Real ? a.d : double(a.i);
        const double y = b.kind == Value::Real ? b.d : double(b.i);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (ra == 0) return 0;
    return a.s.compare(b.s); // only whether they are in order matters here
}

// Copies Molecules of the Access file into the empty database h.
bool build(const std::string& path, sqlite3* h, const SourceKey& key, int& code,
           std::string& error) {
    std::unique_ptr<AccessFile> file = AccessFile::open(path, code, error);
    if (!file) return false;
    std::vector<std::string> tables;
    if (!file->tables(tables, code, error)) return false;
    std::string table;
    for (const std::string& t : tables)
        if (dbcommon::upper(t) == "MOLECULES") table = t;
    std::vector<ColumnInfo> cols;
    if (!table.empty() && !file->columns(table, cols, code, error)) return false;
    std::vector<std::string> names;
    for (const ColumnInfo& c : cols)
        names.push_back(c.name);
    if ((code = dbcommon::checkMoleculeColumns(names, path, error)) != 0) return false;

    code = DB_INTERNAL;
    std::string create = "CREATE TABLE Molecules(", marks;
    size_t mass = 0, id = 0;
    for (size_t i = 0; i < cols.size(); ++i) {
        create += (i ? ", " : "") + quotedName(cols[i].name) + " " + declaredType(cols[i].type);
        marks += i ? ",?" : "?";
        if (dbcommon::upper(cols[i].name) == "MASSMI") mass = i;
        if (dbcommon::upper(cols[i].name) == "ID") id = i;
    }
    create += ")";
    if (!exec(h, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", error) ||
        !exec(h, create, error))
        return false;
    Statement ins;
    if (sqlite3_prepare_v2(h, ("INSERT INTO Molecules VALUES(" + marks + ")").c_str(), -1,
                           &ins.s, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(h);
        return false;
    }
    long long rows = 0;
    bool sorted = true, failed = false;
    Value last;
    const bool read = file->readTable(table, cols, [&](const std::vector<Value>& row) {
        for (size_t i = 0; i < row.size(); ++i) {
            const Value& v = row[i];
            const int p = int(i) + 1;
            switch (v.kind) {
            case Value::Null: sqlite3_bind_null(ins.s, p); break;
            case Value::Integer: sqlite3_bind_int64(ins.s, p, v.i); break;
            case Value::Real: sqlite3_bind_double(ins.s, p, v.d); break;
            case Value::Text:
                sqlite3_bind_text(ins.s, p, v.s.data(), int(v.s.size()), SQLITE_STATIC);
                break;
            case Value::Blob:
                sqlite3_bind_blob(ins.s, p, v.s.data(), int(v.s.size()), SQLITE_STATIC);
                break;
            }
        }
        if (sqlite3_step(ins.s) != SQLITE_DONE) {
            error = sqlite3_errmsg(h);
            failed = true;
            return false;
        }
        sqlite3_reset(ins.s);
        if (rows++ > 0 && compareValues(last, row[mass]) > 0) sorted = false;
        last = row[mass];
        return true;
    }, code, error);
    if (!read) return false;
    code = DB_INTERNAL;
    if (failed) return false;
    if (!sorted) { // a file not written in mass order: the copy is
        const std::string decl = create.substr(std::string("CREATE TABLE Molecules").size());
        if (!exec(h, "CREATE TABLE ByMass" + decl + ";"
                     "INSERT INTO ByMass SELECT * FROM Molecules ORDER BY " +
                         quotedName(cols[mass].name) + ", rowid;"
                         "DROP TABLE Molecules; ALTER TABLE ByMass RENAME TO Molecules",
                  error))
            return false;
    }
    const std::string info = std::string("CREATE TABLE ") + kInfoTable +
                             "(name TEXT PRIMARY KEY, value TEXT);"
                             "INSERT INTO " + kInfoTable + " VALUES('source', ?1), ('rows', ?2), "
                             "('file', ?3)";
    if (!exec(h, "CREATE INDEX Molecules_MassMI ON Molecules(" + quotedName(cols[mass].name) +
                     "); CREATE INDEX Molecules_ID ON Molecules(" + quotedName(cols[id].name) + ")",
              error))
        return false;
    const char* tail = info.c_str();
    while (tail && *tail) { // the CREATE, then the INSERT with its values
        Statement st;
        if (sqlite3_prepare_v2(h, tail, -1, &st.s, &tail) != SQLITE_OK) {
            error = sqlite3_errmsg(h);
            return false;
        }
        if (!st.s) break;
        if (sqlite3_bind_parameter_count(st.s) == 3) {
            const std::string k = key.text(), n = std::to_string(rows), v = file->version();
            sqlite3_bind_text(st.s, 1, k.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st.s, 2, n.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st.s, 3, v.c_str(), -1, SQLITE_TRANSIENT);
        }
        if (sqlite3_step(st.s) != SQLITE_DONE) {
            error = sqlite3_errmsg(h);
            return false;
        }
    }
    if (!exec(h, "COMMIT", error)) return false;
    if (!sorted && !exec(h, "VACUUM", error)) return false;
    code = 0;
    return true;
}

// The cache at file when it belongs to key and is whole; else null.
sqlite3* trusted(const std::string& file, const SourceKey& key) {
    Connection c;
    if (sqlite3_open_v2(file.c_str(), &c.h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK ||
        !registerAccessSql(c.h))
        return nullptr;
    std::string source, rows, count;
    const std::string info = std::string("SELECT value FROM ") + kInfoTable + " WHERE name = ";
    if (!queryText(c.h, info + "'source'", source) || source != key.text() ||
        !queryText(c.h, info + "'rows'", rows) ||
        !queryText(c.h, "SELECT count(*) FROM Molecules", count) || count != rows)
        return nullptr;
    return c.release();
}

std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(now & 0xFFFFFF);
}

// A lock file held while a cache is built, so that two hosts do not build the same one.
class BuildLock {
  public:
    explicit BuildLock(const std::string& file) {
        fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~BuildLock() {
        if (fd_ >= 0) ::close(fd_); // releases the lock
    }

  private:
    int fd_ = -1;
};

sqlite3* buildInMemory(const std::string& path, const SourceKey& key, int& code,
                       std::string& error) {
    Connection c;
    if (sqlite3_open_v2(":memory:", &c.h, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK ||
        !registerAccessSql(c.h)) {
        code = DB_INTERNAL;
        error = "Cannot make the in-memory copy of " + path;
        return nullptr;
    }
    if (!build(path, c.h, key, code, error)) {
        if (code == DB_INTERNAL) error = "Cannot copy the Access database " + path + ": " + error;
        return nullptr;
    }
    return c.release();
}

} // namespace

std::string SourceKey::text() const {
    return "format=" + std::to_string(kCacheFormat) + ";size=" + std::to_string(size) +
           ";mtime=" + std::to_string(mtimeNs) + ";ctime=" + std::to_string(ctimeNs) +
           ";inode=" + std::to_string(inode) + ";path=" + path;
}

bool sourceKey(const std::string& path, SourceKey& key, int& code, std::string& error) {
    struct stat st {};
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    if (ec || ::stat(canonical.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        code = DB_FILE_NOT_FOUND;
        error = "Database file not found: " + path;
        return false;
    }
    key.path = canonical.string();
    key.size = st.st_size;
    key.mtimeNs = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    key.ctimeNs = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    key.inode = (long long)st.st_ino;
    return true;
}

std::string cacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/tarvish";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.cache/tarvish";
    return {};
}

std::string cacheFileOf(const std::string& folder, const std::string& canonicalPath) {
    uint64_t h = 1469598103934665603ULL; // FNV-1a
    for (unsigned char c : canonicalPath) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char name[40];
    std::snprintf(name, sizeof name, "access-%016llx.sqlite", (unsigned long long)h);
    return folder + "/" + name;
}

sqlite3* openCache(const std::string& path, bool rebuild, SourceKey& key, int& code,
                   std::string& error) {
    if (!sourceKey(path, key, code, error)) return nullptr;
    const std::string folder = cacheFolder();
    std::error_code ec;
    if (folder.empty() || (fs::create_directories(folder, ec), ::access(folder.c_str(), W_OK) != 0))
        return buildInMemory(path, key, code, error);
    const std::string file = cacheFileOf(folder, key.path);
    if (!rebuild)
        if (sqlite3* h = trusted(file, key)) return h;

    BuildLock lock(file);
    if (!rebuild) // another host may have built it while this one waited
        if (sqlite3* h = trusted(file, key)) return h;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string tmp = file + ".tmp-" + uniqueSuffix();
        bool ok = false;
        {
            Connection c;
            if (sqlite3_open_v2(tmp.c_str(), &c.h,
                                SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK ||
                !registerAccessSql(c.h)) {
                sqlite3_close_v2(c.release());
                fs::remove(tmp, ec);
                return buildInMemory(path, key, code, error);
            }
            ok = build(path, c.h, key, code, error);
            if (!ok && code == DB_INTERNAL)
                error = "Cannot copy the Access database " + path + ": " + error;
        }
        if (!ok) {
            fs::remove(tmp, ec);
            fs::remove(file, ec); // a cache of this path is stale now
            return nullptr;
        }
        SourceKey after;
        if (!sourceKey(path, after, code, error)) {
            fs::remove(tmp, ec);
            return nullptr;
        }
        if (after.text() != key.text()) { // the file changed while it was read
            fs::remove(tmp, ec);
            key = after;
            continue;
        }
        if (::rename(tmp.c_str(), file.c_str()) != 0) {
            fs::remove(tmp, ec);
            return buildInMemory(path, key, code, error);
        }
        if (sqlite3* h = trusted(file, key)) return h;
        return buildInMemory(path, key, code, error);
    }
    code = DB_OPEN_FAILED;
    error = "The Access database " + path + " changed while it was read; try again";
    return nullptr;
}

} // namespace accessdb
