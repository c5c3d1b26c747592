#include "sqlite_engine.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "db_answer.h"
#include "db_common.h"

using dbcommon::isBlank;

namespace {

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
    std::vector<std::string> columns;
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(st.s, 1);
            if (name) columns.emplace_back(reinterpret_cast<const char*>(name));
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
    return dbcommon::checkMoleculeColumns(columns, path, error);
}

CommandResult sqliteQueryRows(sqlite3* h, const std::string& sql, DbRowSink& sink);

class SqliteEngine : public DbEngine {
  public:
    explicit SqliteEngine(sqlite3* h) : h_(h) {}
    ~SqliteEngine() override { sqlite3_close_v2(h_); }
    std::string format() const override { return "SQLITE"; }
    CommandResult query(const std::string& sql) override { return sqliteQuery(h_, sql, &hint_); }
    CommandResult queryRows(const std::string& sql, DbRowSink& sink) override {
        return sqliteQueryRows(h_, sql, sink);
    }
    CommandResult molecule(long long id, DbMolecule& out) override {
        return sqliteMolecule(h_, id, out);
    }

  private:
    sqlite3* h_;
    dbanswer::SizeHint hint_;
};

} // namespace

bool sqliteProtect(sqlite3* db) {
    if (sqlite3_exec(db, "PRAGMA query_only=ON", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    return sqlite3_set_authorizer(db, readOnlyAuthorizer, nullptr) == SQLITE_OK;
}

std::unique_ptr<DbEngine> openSqliteEngine(const std::string& path, CommandResult& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = CommandResult::fail(DB_FILE_NOT_FOUND, "Database file not found: " + path);
        return nullptr;
    }
    sqlite3* h = nullptr;
    // One connection is only ever used by the thread that drives this object: no mutex.
    int rc = sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = CommandResult::fail(DB_OPEN_FAILED,
                                    "Cannot open the database " + path + ": " + sqliteMessage(h));
        sqlite3_close_v2(h);
        return nullptr;
    }
    sqlite3_extended_result_codes(h, 1);
    std::string text;
    int code = checkSchema(h, path, text);
    if (code == 0 && !sqliteProtect(h)) {
        text = "Cannot protect the database " + path + ": " + sqliteMessage(h);
        code = DB_OPEN_FAILED;
    }
    if (code != 0) {
        sqlite3_close_v2(h);
        error = CommandResult::fail(code, text);
        return nullptr;
    }
    return std::make_unique<SqliteEngine>(h);
}

// Compiles sql as exactly one reading statement into st: 0, or the failure to answer.
static CommandResult prepareReading(sqlite3* h, const std::string& sql, Statement& st) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), int(sql.size()), &st.s, &tail) != SQLITE_OK) {
        if ((sqlite3_errcode(h) & 0xff) == SQLITE_AUTH)
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
    return CommandResult::ok();
}

CommandResult sqliteQuery(sqlite3* h, const std::string& sql, dbanswer::SizeHint* hint) {
    Statement st;
    CommandResult prepared = prepareReading(h, sql, st);
    if (prepared.code != 0) return prepared;

    const int n = sqlite3_column_count(st.s);
    dbanswer::Builder out(hint ? hint->capacity() : 0);
    dbanswer::FieldWriter w(out);
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
        // Every field is read through sqlite3_column_value: one call into the connection per
        // field instead of two. The value is unprotected, which is safe here because a
        // connection is only used by one thread.
        for (int i = 0; i < n; ++i) {
            sqlite3_value* v = sqlite3_column_value(st.s, i);
            switch (sqlite3_value_type(v)) {
            case SQLITE_INTEGER:
                w.integer(sqlite3_value_int64(v));
                break;
            case SQLITE_FLOAT:
                w.real(sqlite3_value_double(v));
                break;
            case SQLITE_NULL:
                w.null();
                break;
            case SQLITE_BLOB:
                // Raw bytes as hexadecimal digits, so nothing binary reaches the text answer.
                w.hex(static_cast<const unsigned char*>(sqlite3_value_blob(v)),
                      size_t(sqlite3_value_bytes(v)));
                break;
            default: { // SQLITE_TEXT
                const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
                w.text(t, t ? size_t(sqlite3_value_bytes(v)) : 0);
            }
            }
        }
        if (n > 0) w.endRow();
        if (out.size() > dbanswer::kMaxAnswerBytes)
            return CommandResult::fail(DB_ANSWER_TOO_LARGE,
                                       "The answer is too large; narrow the query");
    }
    if (rc != SQLITE_DONE)
        return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(h));
    if (hint) hint->record(out.size());
    return CommandResult::ok(out.take());
}

CommandResult sqliteMolecule(sqlite3* h, long long id, DbMolecule& out) {
    Statement st;
    if (sqlite3_prepare_v2(h, "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE ID = ?",
                           -1, &st.s, nullptr) != SQLITE_OK)
        return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(h));
    sqlite3_bind_int64(st.s, 1, id);
    int rc = sqlite3_step(st.s);
    if (rc == SQLITE_DONE)
        return CommandResult::fail(DB_UNKNOWN_ROW, "No molecule with ID " + std::to_string(id));
    if (rc != SQLITE_ROW) return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(h));

    auto text = [&](int i) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st.s, i));
        return t ? std::string(t, size_t(sqlite3_column_bytes(st.s, i))) : std::string();
    };
    out = DbMolecule{sqlite3_column_int64(st.s, 0), sqlite3_column_double(st.s, 1), text(2),
                     text(3), text(4)};
    return CommandResult::ok();
}

namespace {

// The typed rows of one reading statement (DbEngine::queryRows): the same checks as
// sqliteQuery, the values as SQLite holds them, texts mended as the text answer mends them.
CommandResult sqliteQueryRows(sqlite3* h, const std::string& sql, DbRowSink& sink) {
    Statement st;
    CommandResult prepared = prepareReading(h, sql, st);
    if (prepared.code != 0) return prepared;

    const int n = sqlite3_column_count(st.s);
    std::vector<DbField> fields(size_t(n > 0 ? n : 0));
    std::vector<size_t> at(fields.size()); // offsets of the texts in scratch
    size_t capacity = 4096;
    std::unique_ptr<char[]> scratch(new char[capacity]);
    auto room = [&](size_t used, size_t more) { // room for more bytes after used ones
        if (used + more <= capacity) return;
        const size_t cap = std::max(2 * capacity, used + more);
        std::unique_ptr<char[]> bigger(new char[cap]);
        if (used) std::memcpy(bigger.get(), scratch.get(), used);
        scratch = std::move(bigger);
        capacity = cap;
    };
    int rc;
    while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
        size_t used = 0;
        for (int i = 0; i < n; ++i) {
            DbField& f = fields[size_t(i)];
            sqlite3_value* v = sqlite3_column_value(st.s, i);
            switch (sqlite3_value_type(v)) {
            case SQLITE_INTEGER:
                f.type = DbField::Integer;
                f.integer = sqlite3_value_int64(v);
                break;
            case SQLITE_FLOAT:
                f.type = DbField::Real;
                f.real = sqlite3_value_double(v);
                break;
            case SQLITE_NULL:
                f.type = DbField::Null;
                break;
            case SQLITE_BLOB: {
                static const char digits[] = "0123456789ABCDEF";
                const auto* b = static_cast<const unsigned char*>(sqlite3_value_blob(v));
                const size_t bytes = size_t(sqlite3_value_bytes(v));
                f.type = DbField::Text;
                f.size = 2 * bytes;
                room(used, f.size);
                at[size_t(i)] = used;
                for (size_t k = 0; k < bytes; ++k) {
                    scratch[used++] = digits[b[k] >> 4];
                    scratch[used++] = digits[b[k] & 15];
                }
                break;
            }
            default: { // SQLITE_TEXT
                const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
                f.type = DbField::Text;
                f.size = t ? size_t(sqlite3_value_bytes(v)) : 0;
                room(used, f.size + dbanswer::Builder::kSlack);
                at[size_t(i)] = used;
                dbanswer::Builder::copyText(scratch.get() + used, t, f.size);
                used += f.size;
            }
            }
        }
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].type == DbField::Text) fields[i].text = scratch.get() + at[i];
        sink.row(fields.data(), n);
    }
    if (rc != SQLITE_DONE) return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + sqliteMessage(h));
    return CommandResult::ok();
}

} // namespace
