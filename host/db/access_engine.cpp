#include "access_engine.h"

#include <sqlite3.h>
#include <strings.h>

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
        key_ = key.text();
        return CommandResult::ok();
    }

    std::string format() const override { return "ACCESS"; }

    CommandResult query(const std::string& sql) override {
        std::string translated;
        if (int rc = accessdb::translateSql(sql, translated))
            return CommandResult::fail(rc, translated);
        CommandResult r = current();
        if (r.code != 0) return r;
        for (int attempt = 0;; ++attempt) {
            refusal_.table.clear();
            r = sqliteQuery(h_, translated);
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
    // Reads the file again when it changed since the cache was opened.
    CommandResult current() {
        accessdb::SourceKey now;
        int code = 0;
        std::string text;
        if (!accessdb::sourceKey(path_, now, code, text)) return CommandResult::fail(code, text);
        if (now.text() == key_) return CommandResult::ok();
        return load(false);
    }

    std::string path_;
    sqlite3* h_ = nullptr;
    std::string key_;
    Refusal refusal_;
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
