#include "db_writer.h"

#include <sqlite3.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace mkdb {
namespace {

struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }
};

struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

bool run(sqlite3* db, const char* sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    error = std::string(sql) + ": " + (msg ? msg : sqlite3_errmsg(db));
    sqlite3_free(msg);
    return false;
}

bool fill(sqlite3* db, const std::vector<Row>& rows, std::string& error) {
    if (!run(db, "PRAGMA journal_mode=OFF", error) || !run(db, "PRAGMA synchronous=OFF", error) ||
        !run(db, "BEGIN", error) ||
        !run(db,
             "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL NOT NULL, "
             "Formula TEXT NOT NULL, Name TEXT, Smiles TEXT NOT NULL)",
             error))
        return false;
    Statement ins;
    if (sqlite3_prepare_v2(db, "INSERT INTO Molecules VALUES(?,?,?,?,?)", -1, &ins.s, nullptr) !=
        SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    long long id = 0;
    for (const Row& r : rows) {
        sqlite3_bind_int64(ins.s, 1, ++id);
        sqlite3_bind_double(ins.s, 2, r.mass);
        sqlite3_bind_text(ins.s, 3, r.formula.data(), int(r.formula.size()), SQLITE_STATIC);
        if (r.name.empty())
            sqlite3_bind_null(ins.s, 4);
        else
            sqlite3_bind_text(ins.s, 4, r.name.data(), int(r.name.size()), SQLITE_STATIC);
        sqlite3_bind_text(ins.s, 5, r.smiles.data(), int(r.smiles.size()), SQLITE_STATIC);
        if (sqlite3_step(ins.s) != SQLITE_DONE) {
            error = "insert of row " + std::to_string(id) + ": " + sqlite3_errmsg(db);
            return false;
        }
        sqlite3_reset(ins.s);
    }
    return run(db, "CREATE INDEX Molecules_MassMI ON Molecules(MassMI)", error) &&
           run(db, "COMMIT", error);
}

// Forces the written file to disk before it takes the target's name.
bool syncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool writeDatabase(const std::string& path, std::vector<Row>& rows, std::string& error) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.mass < b.mass; });

    // The temporary file sits beside the target so that the rename stays on one file system.
    const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
    bool ok = false;
    {
        Connection c;
        if (sqlite3_open_v2(tmp.c_str(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            error = "cannot create " + tmp + ": " + (c.db ? sqlite3_errmsg(c.db) : "no memory");
        else
            ok = fill(c.db, rows, error);
        if (ok && sqlite3_close_v2(c.db) != SQLITE_OK) {
            error = "cannot close " + tmp + ": " + sqlite3_errmsg(c.db);
            ok = false;
        }
        if (ok) c.db = nullptr;
    }
    if (ok && !syncFile(tmp)) {
        error = "cannot write " + tmp + " to disk";
        ok = false;
    }
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + tmp + " to " + path;
        ok = false;
    }
    if (!ok) std::filesystem::remove(tmp, ec);
    return ok;
}

} // namespace mkdb
