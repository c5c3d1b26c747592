#include "db_engines.h"

#include <malloc.h>

#include <algorithm>
#include <charconv>
#include <mutex>
#include <new>

#include "access_engine.h"
#include "db_common.h"
#include "odbc_engine.h"
#include "sqlite_engine.h"

using dbcommon::isBlank;
using dbcommon::lower;
using dbcommon::trim;
using dbcommon::upper;

namespace {

// The engine of each kind of database file, by extension (lower case).
struct EngineKind {
    const char* extension;
    DbEngineOpener open; // null: recognised, not supported
    const char* what;
};
const EngineKind kEngines[] = {
    {".db", openSqliteEngine, "SQLite databases"},
    {".mdb", openAccessEngine, "Access databases (.mdb)"},
    {".accdb", openAccessEngine, "Access databases (.accdb)"},
    {".dsn", openDsnEngine, "ODBC data sources (.dsn)"},
};

// Splits "WORD rest" at the first blank; rest is trimmed.
void splitWord(const std::string& args, std::string& word, std::string& rest) {
    std::string t = trim(args);
    size_t sp = 0;
    while (sp < t.size() && !isBlank(t[sp]))
        ++sp;
    word = t.substr(0, sp);
    rest = trim(t.substr(sp));
}

// The command language lets both "\" and "/" separate folders.
std::string toPath(std::string p) {
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

std::string extensionOf(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return lower(path.substr(dot));
}

template <class F> CommandResult guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return CommandResult::fail(DB_INTERNAL, "Out of memory");
    } catch (const std::exception& e) {
        return CommandResult::fail(DB_INTERNAL, std::string("Internal error: ") + e.what());
    } catch (...) {
        return CommandResult::fail(DB_INTERNAL, "Internal error");
    }
}

} // namespace

DbEngines::DbEngines() {
    // Every search builds an answer of up to several megabytes (and a server's result as
    // large) and frees it again. glibc hands freed memory at the top of the heap back to the
    // system and faults it in afresh for the next search, which cost as much as formatting a
    // 10,000-row answer; up to 64 MB of freed memory is kept for reuse instead.
    static std::once_flag tuned;
    std::call_once(tuned, [] {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
    });
}

DbEngines::~DbEngines() {
    closeAll();
}

void DbEngines::closeAll() {
    dbs_.clear();
}

DbEngines::Db* DbEngines::find(const std::string& name) {
    auto it = dbs_.find(upper(name));
    return it == dbs_.end() ? nullptr : &it->second;
}

DbEngine* DbEngines::engine(const std::string& handle) {
    Db* db = find(handle);
    return db ? db->engine.get() : nullptr;
}

std::unique_ptr<DbEngine> DbEngines::openFile(const std::string& path, CommandResult& error) {
    const std::string ext = extensionOf(path);
    for (const EngineKind& k : kEngines) {
        if (ext != k.extension) continue;
        if (!k.open) {
            error = CommandResult::fail(DB_NOT_SUPPORTED,
                                        std::string(k.what) + " are not supported yet: " + path);
            return nullptr;
        }
        return k.open(path, error);
    }
    error = CommandResult::fail(DB_NOT_SUPPORTED, "Unknown kind of database: " + path);
    return nullptr;
}

CommandResult DbEngines::dbOpen(const std::string& args) {
    return guarded([&] { return open(args); });
}

CommandResult DbEngines::open(const std::string& args) {
    std::string path = trim(args);
    if (!path.empty() && path.front() == '"') {
        if (path.size() < 2 || path.back() != '"')
            return CommandResult::fail(DB_BAD_SYNTAX, "DbOpen: unbalanced quotes in " + args);
        path = path.substr(1, path.size() - 2);
    }
    path = toPath(path);
    if (path.empty()) return CommandResult::fail(DB_BAD_SYNTAX, "DbOpen: no file given");

    CommandResult error;
    std::unique_ptr<DbEngine> engine = openFile(path, error);
    if (!engine) return error;
    std::string name = "DB" + std::to_string(next_++);
    dbs_[upper(name)] = Db{std::move(engine), path};
    return CommandResult::ok(name);
}

CommandResult DbEngines::dbInfo(const std::string& args) {
    return guarded([&] {
        std::string handle, what;
        splitWord(args, handle, what);
        Db* db = find(handle);
        if (!db) return CommandResult::fail(DB_UNKNOWN_HANDLE, "No open database " + handle);
        const std::string key = lower(what);
        if (key == "format") return CommandResult::ok(db->engine->format());
        if (key == "path") return CommandResult::ok(db->path);
        return CommandResult::fail(DB_BAD_SYNTAX,
                                   "DbInfo: unknown item \"" + what + "\" (known: Format, Path)");
    });
}

CommandResult DbEngines::dbClose(const std::string& args) {
    return guarded([&] {
        const std::string handle = trim(args);
        auto it = dbs_.find(upper(handle));
        if (it == dbs_.end())
            return CommandResult::fail(DB_UNKNOWN_HANDLE, "No open database " + handle);
        dbs_.erase(it);
        return CommandResult::ok();
    });
}

CommandResult DbEngines::dbSqlExec(const std::string& args) {
    return guarded([&] { return exec(args); });
}

CommandResult DbEngines::exec(const std::string& args) {
    std::string handle, sql;
    splitWord(args, handle, sql);
    Db* db = find(handle);
    if (!db) return CommandResult::fail(DB_UNKNOWN_HANDLE, "No open database " + handle);
    if (!sql.empty() && sql.front() == '"') {
        size_t last = sql.rfind('"');
        if (last == 0) return CommandResult::fail(DB_BAD_SYNTAX, "DbSqlExec: unbalanced quotes");
        sql = sql.substr(1, last - 1);
    }
    if (trim(sql).empty()) return CommandResult::fail(DB_BAD_SYNTAX, "DbSqlExec: no statement");
    return db->engine->query(sql);
}

CommandResult DbEngines::dbGetRowId(const std::string& args) {
    return guarded([&] { return getRowId(args); });
}

CommandResult DbEngines::getRowId(const std::string& args) {
    std::string handle, rest, idText, mode;
    splitWord(args, handle, rest);
    splitWord(rest, idText, mode);
    Db* db = find(handle);
    if (!db) return CommandResult::fail(DB_UNKNOWN_HANDLE, "No open database " + handle);
    long long id = 0;
    auto [p, ec] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
    if (idText.empty() || ec != std::errc() || p != idText.data() + idText.size())
        return CommandResult::fail(DB_BAD_SYNTAX, "DbGetRowId: not a row ID: " + idText);
    if (!mode.empty() && lower(mode) != "replace")
        return CommandResult::fail(DB_BAD_SYNTAX, "DbGetRowId: unknown mode " + mode);

    Molecule m;
    CommandResult r = db->engine->molecule(id, m);
    if (r.code != 0) return r;
    if (onLoadMolecule) onLoadMolecule(m);
    return CommandResult::ok();
}
