// Fuzz target: the read-only gate in front of database servers, which sees every statement
// a user or the plug-in sends.
//
// Input: a byte for the dialect, then the statement. Properties:
//  - a refusal says why; a statement that passes is the text itself or the part of it
//    before a final ";", and passes again alone;
//  - SQLite as the oracle for its dialect: what passes and compiles (on a table with a
//    view, an index and a trigger) is one statement that writes nothing and whose
//    compiled program writes nothing either (no "readonly" statement that opens a
//    database or changes a setting).
#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "sql_guard.h"

namespace {

sqlite3* fixture() {
    static sqlite3* db = [] {
        sqlite3* h = nullptr;
        if (sqlite3_open(":memory:", &h) != SQLITE_OK) std::abort();
        const char* setup =
            "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT,"
            " Name TEXT, Smiles TEXT);"
            "CREATE INDEX Molecules_MassMI ON Molecules(MassMI);"
            "CREATE VIEW Light AS SELECT * FROM Molecules WHERE MassMI < 100;"
            "CREATE TABLE Log(ID INTEGER);"
            "CREATE TRIGGER Logged AFTER INSERT ON Molecules BEGIN INSERT INTO Log VALUES"
            " (new.ID); END;"
            "INSERT INTO Molecules VALUES (1, 18.010565, 'H2O', 'Water', 'O');";
        if (sqlite3_exec(h, setup, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
        // No file may be opened by a statement (ATTACH), nor an extension loaded.
        sqlite3_limit(h, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_limit(h, SQLITE_LIMIT_LENGTH, 100000);
        return h;
    }();
    return db;
}

void oracle(const std::string& statement) {
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(fixture(), statement.c_str(), int(statement.size()), &st, &tail) !=
            SQLITE_OK ||
        !st) {
        sqlite3_finalize(st);
        return;
    }
    for (const char* p = tail; p < statement.c_str() + statement.size(); ++p)
        FUZZ_CHECK(std::isspace(static_cast<unsigned char>(*p)) || *p == ';' || *p == '\0',
                   "more than one statement passes: %s", statement.c_str());
    FUZZ_CHECK(sqlite3_stmt_readonly(st), "a writing statement passes: %s", statement.c_str());
    sqlite3_finalize(st);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    FuzzInput in(data, size);
    const auto dialect = in.byte() & 1 ? sqlguard::Dialect::PostgreSql : sqlguard::Dialect::Other;
    const std::string sql = in.rest();

    const sqlguard::Verdict v = sqlguard::checkSelect(sql, dialect);
    if (!v.ok) {
        FUZZ_CHECK(!v.reason.empty(), "refused without a reason");
        return 0;
    }
    FUZZ_CHECK(sql.compare(0, v.statement.size(), v.statement) == 0, "not a part of the text");
    if (v.statement.size() < sql.size()) {
        FUZZ_CHECK(sql[v.statement.size()] == ';', "cut not at a \";\"");
    }
    const sqlguard::Verdict alone = sqlguard::checkSelect(v.statement, dialect);
    FUZZ_CHECK(alone.ok && alone.statement == v.statement, "refused alone: %s",
               alone.reason.c_str());
    // SQLite reads a NUL as the end of the text, as does every C caller.
    if (dialect == sqlguard::Dialect::Other) oracle(v.statement.c_str());
    return 0;
}
