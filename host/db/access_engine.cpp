#include "access_engine.h"

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "access_cache.h"
#include "access_sql.h"
#include "sqlite_engine.h"

namespace {

// What the authorizer of a cache connection refused last: a table other than Molecules.
struct Refusal {
    std::string table;
};

// Lets statements read the table Molecules and nothing else (not the cache's own table, not
// SQLite's schema); called by SQLite, so nothing may be thrown out of it.
int moleculesOnly(void* data, int action, const char* a, const char*, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_READ:
        if (a && strcasecmp(a, "Molecules") == 0) return SQLITE_OK;
        try {
            auto* r = static_cast<Refusal*>(data);
            if (r->table.empty() && a) r->table = a;
        } catch (...) {
        }
        return SQLITE_DENY;
    default:
        return SQLITE_DENY;
    }
}

bool cacheDamaged(sqlite3* h) {
    const int rc = sqlite3_extended_errcode(h) & 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB || rc == SQLITE_IOERR;
}

// The rows of a text answer: its line breaks, found with memchr (std::count looks at one byte
// at a time).
long long lineCount(const std::string& answer) {
    long long lines = 0;
    const char* p = answer.data();
    const char* end = p + answer.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)))) != nullptr) {
        ++lines;
        ++p;
    }
    return lines;
}

class AccessEngine : public DbEngine {
  public:
    explicit AccessEngine(std::string path) : path_(std::move(path)) {}
    ~AccessEngine() override { sqlite3_close_v2(h_); }

    // Opens (or re-opens) the cache; 0 or a DbCode with its text.
    CommandResult load(bool rebuild) {
        int code = 0;
        std::string text;
        accessdb::SourceKey key;
        sqlite3* h = accessdb::openCache(path_, rebuild, key, code, text);
        if (!h) return CommandResult::fail(code, text);
        if (!sqliteProtect(h) || sqlite3_set_authorizer(h, moleculesOnly, &refusal_) != SQLITE_OK) {
            sqlite3_close_v2(h);
            return CommandResult::fail(DB_OPEN_FAILED, "Cannot protect the copy of " + path_);
        }
        sqlite3_close_v2(h_);
        h_ = h;
        key_ = key;
        return CommandResult::ok();
    }

    std::string format() const override { return "ACCESS"; }

    CommandResult query(const std::string& sql) override {
        accessdb::TopForm top;
        const bool plugin = accessdb::matchTopForm(sql, top);
        std::string translated;
        if (int rc = plugin ? 0 : accessdb::translateSql(sql, translated))
            return CommandResult::fail(rc, translated);
        CommandResult r = current();
        if (r.code != 0) return r;
        for (int attempt = 0;; ++attempt) {
            refusal_.table.clear();
            r = plugin ? topForm(top) : sqliteQuery(h_, translated, &hint_);
            if (r.code == DB_NOT_READ_ONLY && !refusal_.table.empty())
                return CommandResult::fail(DB_SQL_ERROR, "SQL error: no such table: " + refusal_.table);
            if (r.code != DB_SQL_ERROR || attempt > 0 || !cacheDamaged(h_)) return r;
            CommandResult again = load(true);
            if (again.code != 0) return again;
        }
    }

    CommandResult molecule(long long id, DbMolecule& out) override {
        CommandResult r = current();
        if (r.code != 0) return r;
        return sqliteMolecule(h_, id, out);
    }

  private:
    // The plug-in's TOP form. The copy lies in MassMI order (ties in the order of the file),
    // which the index on MassMI gives: when the window holds no more than n rows, they are
    // all the answer, read in that order like the LIMIT form; otherwise the first n by name
    // are picked by their rowids, and the window is read again keeping those. No whole row
    // is sorted. Rows of equal mass come in the order of the file.
    CommandResult topForm(const accessdb::TopForm& f) {
        const std::string from = " FROM Molecules WHERE (" + f.where + ")";
        const std::string order = " ORDER BY MassMI, rowid";
        const long long n = std::min(f.n, 1000000000000LL);
        CommandResult all = sqliteQuery(h_, "SELECT " + f.columns + from + order + " LIMIT " +
                                                std::to_string(n + 1), &hint_);
        if (all.code != 0 || lineCount(all.text) <= n) return all;
        return sqliteQuery(h_, "SELECT " + f.columns + from + " AND rowid IN (SELECT rowid" + from +
                                   " ORDER BY " + f.nameKey + ", rowid LIMIT " + std::to_string(n) +
                                   ")" + order);
    }

    // Reads the file again when it changed since the cache was opened.
    CommandResult current() {
        struct stat st {};
        if (::stat(key_.path.c_str(), &st) == 0 && st.st_size == key_.size &&
            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec == key_.mtimeNs &&
            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec == key_.ctimeNs &&
            (long long)st.st_ino == key_.inode)
            return CommandResult::ok();
        return load(false);
    }

    std::string path_;
    sqlite3* h_ = nullptr;
    accessdb::SourceKey key_; // of the file the copy was made from
    Refusal refusal_;
    dbanswer::SizeHint hint_;
};

} // namespace

std::unique_ptr<DbEngine> openAccessEngine(const std::string& path, CommandResult& error) {
    auto engine = std::make_unique<AccessEngine>(path);
    CommandResult r = engine->load(false);
    if (r.code != 0) {
        error = r;
        return nullptr;
    }
    return engine;
}
