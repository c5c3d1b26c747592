#include "db_engines.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <new>
#include <set>

namespace {

const char* const kColumns[] = {"ID", "MassMI", "Formula", "Name", "Smiles"};

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

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

std::string sqliteMessage(sqlite3* db) {
    const char* m = db ? sqlite3_errmsg(db) : nullptr;
    return m ? m : "unknown SQLite error";
}

// Allows only what a reading statement does; installed once a database has been checked.
int readOnlyAuthorizer(void*, int action, const char*, const char*, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    default:
        return SQLITE_DENY;
    }
}

struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

// Checks that the database has the table Molecules with every needed column. Returns 0 or
// a DbCode with its message in error.
int checkSchema(sqlite3* db, const std::string& path, std::string& error) {
    Statement st;
    int rc = sqlite3_prepare_v2(db, "PRAGMA table_info(Molecules)", -1, &st.s, nullptr);
    std::set<std::string> have;
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(st.s, 1);
            if (name) have.insert(upper(reinterpret_cast<const char*>(name)));
        }
    }
    if (rc != SQLITE_DONE) {
        int ext = sqlite3_extended_errcode(db);
        if ((ext & 0xff) == SQLITE_NOTADB || (ext & 0xff) == SQLITE_CORRUPT) {
            error = "Not a database: " + path + " (" + sqliteMessage(db) + ")";
            return DB_NOT_A_DATABASE;
        }
        error = "Cannot read the database " + path + ": " + sqliteMessage(db);
        return DB_OPEN_FAILED;
    }
    if (have.empty()) {
        error = "The database " + path + " has no table Molecules";
        return DB_NO_MOLECULES;
    }
    std::string missing;
    for (const char* c : kColumns)
        if (!have.count(upper(c))) missing += std::string(missing.empty() ? "" : ", ") + c;
    if (!missing.empty()) {
        error = "The table Molecules of " + path + " lacks the column(s) " + missing;
        return DB_NO_MOLECULES;
    }
    return 0;
}

// Appends the field of column i of the current row.
void appendField(std::string& out, sqlite3_stmt* s, int i, char terminator) {
    switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER: {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, sqlite3_column_int64(s, i));
        out.append(buf, r.ptr);
        out += terminator;
        break;
    }
    case SQLITE_FLOAT:
        DbEngines::appendReal(out, sqlite3_column_double(s, i));
        out += terminator;
        break;
    case SQLITE_NULL:
        out += terminator;
        break;
    case SQLITE_BLOB: {
        // Raw bytes as hexadecimal digits, so nothing binary reaches the text answer.
        const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(s, i));
        int n = sqlite3_column_bytes(s, i);
        static const char hex[] = "0123456789ABCDEF";
        for (int k = 0; k < n; ++k) {
            out += hex[p[k] >> 4];
            out += hex[p[k] & 15];
        }
        out += terminator;
        break;
    }
    default: { // SQLITE_TEXT
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        int n = sqlite3_column_bytes(s, i);
        DbEngines::appendTextField(out, t ? t : "", t ? size_t(n) : 0, terminator);
    }
    }
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

DbEngines::~DbEngines() {
    closeAll();
}

void DbEngines::closeAll() {
    for (auto& [name, db] : dbs_)
        sqlite3_close_v2(db.handle);
    dbs_.clear();
}

void DbEngines::appendTextField(std::string& out, const char* text, size_t size, char terminator) {
    const size_t start = out.size();
    out.resize(start + size + 1);
    char* d = &out[start];
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        d[i] = c == ';' ? ',' : (c == '\n' || c == '\r' || c == '\0') ? ' ' : c;
    }
    d[size] = terminator;
}

void DbEngines::appendReal(std::string& out, double v) {
    // Plain decimals for every magnitude a mass can have; exponent form only for values
    // whose plain form would be very long.
    char buf[64];
    const double a = std::fabs(v);
    const bool plain = std::isfinite(v) && (a == 0 || (a >= 1e-4 && a < 1e15));
    auto r = plain ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed)
                   : std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

DbEngines::Db* DbEngines::find(const std::string& name) {
    auto it = dbs_.find(upper(name));
    return it == dbs_.end() ? nullptr : &it->second;
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

    const std::string ext = extensionOf(path);
    if (ext == ".mdb")
        return CommandResult::fail(DB_NOT_SUPPORTED,
                                   "Access databases (.mdb) are not supported yet: " + path);
    if (ext == ".dsn")
        return CommandResult::fail(DB_NOT_SUPPORTED,
                                   "ODBC data sources (.dsn) are not supported yet: " + path);
    if (ext != ".db")
        return CommandResult::fail(DB_NOT_SUPPORTED, "Unknown kind of database: " + path);

    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return CommandResult::fail(DB_FILE_NOT_FOUND, "Database file not found: " + path);

    sqlite3* h = nullptr;
    // One connection is only ever used by the thread that drives this object: no mutex.
    int rc = sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = "Cannot open the database " + path + ": " + sqliteMessage(h);
        sqlite3_close_v2(h);
        return CommandResult::fail(DB_OPEN_FAILED, msg);
    }
    sqlite3_extended_result_codes(h, 1);
    std::string error;
    int code = checkSchema(h, path, error);
    if (code == 0 &&
        sqlite3_exec(h, "PRAGMA query_only=ON", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = "Cannot protect the database " + path + ": " + sqliteMessage(h);
        code = DB_OPEN_FAILED;
    }
    if (code != 0) {
        sqlite3_close_v2(h);
        return CommandResult::fail(code, error);
    }
    sqlite3_set_authorizer(h, readOnlyAuthorizer, nullptr);

    std::string name = "DB" + std::to_string(next_++);
    dbs_[upper(name)] = Db{h, path};
    return CommandResult::ok(name);
}

CommandResult DbEngines::dbInfo(const std::string& args) {
    return guarded([&] {
        std::string handle, what;
        splitWord(args, handle, what);
        Db* db = find(handle);
        if (!db) return CommandResult::fail(DB_UNKNOWN_HANDLE, "No open database " + handle);
        const std::string key = lower(what);
        if (key == "format") return CommandResult::ok("SQLITE");
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
        sqlite3_close_v2(it->second.handle);
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

    sqlite3* h = db->handle;
    Statement st;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), int(sql.size()), &st.s, &tail) != SQLITE_OK) {
        const int primary = sqlite3_errcode(h) & 0xff;
        if (primary == SQLITE_AUTH)
            return CommandResult::fail(DB_NOT_READ_ONLY,
                                       "Only reading statements are allowed: " + sqliteMessage(h));
        return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(h));
    }
    if (!st.s) return CommandResult::fail(DB_BAD_SYNTAX, "DbSqlExec: no statement");
    for (const char* p = tail; p && *p; ++p)
        if (!isBlank(*p) && *p != ';')
            return CommandResult::fail(DB_NOT_READ_ONLY, "Only one statement is allowed");
    if (!sqlite3_stmt_readonly(st.s))
        return CommandResult::fail(DB_NOT_READ_ONLY, "Only reading statements are allowed");

    const int n = sqlite3_column_count(st.s);
    std::string out;
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i)
            appendField(out, st.s, i, i + 1 < n ? ';' : '\n');
        if (out.size() > kMaxAnswerBytes)
            return CommandResult::fail(DB_ANSWER_TOO_LARGE,
                                       "The answer is too large; narrow the query");
    }
    if (rc != SQLITE_DONE)
        return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(h));
    return CommandResult::ok(std::move(out));
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

    Statement st;
    if (sqlite3_prepare_v2(db->handle,
                           "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE ID = ?",
                           -1, &st.s, nullptr) != SQLITE_OK)
        return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(db->handle));
    sqlite3_bind_int64(st.s, 1, id);
    int rc = sqlite3_step(st.s);
    if (rc == SQLITE_DONE)
        return CommandResult::fail(DB_UNKNOWN_ROW, "No molecule with ID " + idText);
    if (rc != SQLITE_ROW)
        return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(db->handle));

    auto text = [&](int i) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st.s, i));
        return t ? std::string(t, size_t(sqlite3_column_bytes(st.s, i))) : std::string();
    };
    Molecule m{sqlite3_column_int64(st.s, 0), sqlite3_column_double(st.s, 1), text(2), text(3),
               text(4)};
    if (onLoadMolecule) onLoadMolecule(m);
    return CommandResult::ok();
}
