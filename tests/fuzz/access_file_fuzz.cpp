// Fuzz target: the reader of Access files (.mdb, .accdb), which users copy into the
// Databases folder from anywhere: a damaged file must end in an error, never in a crash or
// a hang of the host.
//
// Input: the file. Properties:
//  - it opens, or is refused with DB_NOT_A_DATABASE or DB_OPEN_FAILED and a reason;
//  - its catalog reads, or fails with DB_NOT_A_DATABASE and a reason; the table names are
//    not empty and are well-formed UTF-8;
//  - every table reads (or fails with DB_NOT_A_DATABASE and a reason): every row has one
//    value per column, texts are well-formed UTF-8, dates are "YYYY-MM-DD HH:MM:SS";
//  - a file with a table Molecules is copied the way the Access engine copies it (into
//    memory), or refused with a code and a reason; the copy holds that table;
//  - Jet 4 text decoding of the raw bytes gives well-formed UTF-8.
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "access_cache.h"
#include "access_file.h"
#include "db_common.h"
#include "db_engine.h"
#include "fuzz_input.h"

namespace {

bool dateText(const std::string& s) {
    if (s.size() != 19) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char want = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '0';
        if (want == '0' ? !(s[i] >= '0' && s[i] <= '9') : s[i] != want) return false;
    }
    return true;
}

void checkRow(const std::vector<accessdb::Value>& row,
              const std::vector<accessdb::ColumnInfo>& columns) {
    FUZZ_CHECK(row.size() == columns.size(), "%zu values for %zu columns", row.size(),
               columns.size());
    for (size_t i = 0; i < row.size(); ++i) {
        const accessdb::Value& v = row[i];
        if (v.kind != accessdb::Value::Text) continue;
        FUZZ_CHECK(Utf8WellFormed(v.s), "ill-formed UTF-8 in column %s", columns[i].name.c_str());
        if (columns[i].type == accessdb::kDateTime)
            FUZZ_CHECK(dateText(v.s), "date \"%s\"", v.s.c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 262144) return 0;
    static const std::string path = [] {
        // The engine's copy goes into memory: no cache folder.
        setenv("XDG_CACHE_HOME", "", 1);
        setenv("HOME", "", 1);
        unsetenv("MDBICONV");
        return FuzzTempDir() + "/fuzz.mdb";
    }();
    const std::string decoded = accessdb::decodeJet4Text(data, size);
    FUZZ_CHECK(Utf8WellFormed(decoded), "Jet 4 text decoded to ill-formed UTF-8");

    FUZZ_CHECK(FuzzWriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size)));
    int code = 0;
    std::string error;
    std::unique_ptr<accessdb::AccessFile> file = accessdb::AccessFile::open(path, code, error);
    if (!file) {
        FUZZ_CHECK(code == DB_NOT_A_DATABASE || code == DB_OPEN_FAILED, "code %d", code);
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    std::vector<std::string> tables;
    if (!file->tables(tables, code, error)) {
        FUZZ_CHECK(code == DB_NOT_A_DATABASE, "code %d", code);
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    bool molecules = false;
    for (size_t t = 0; t < tables.size() && t < 16; ++t) {
        const std::string& name = tables[t];
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(Utf8WellFormed(name), "ill-formed UTF-8 in a table name");
        molecules = molecules || dbcommon::upper(name) == "MOLECULES";
        std::vector<accessdb::ColumnInfo> columns;
        long rows = 0;
        code = 0;
        error.clear();
        const bool ok = file->readTable(
            name, columns,
            [&](const std::vector<accessdb::Value>& row) {
                checkRow(row, columns);
                return ++rows < 5000;
            },
            code, error);
        if (!ok) {
            // A name the catalog lists twice in other cases is read as the first of them.
            FUZZ_CHECK(code == DB_NOT_A_DATABASE, "table %s: code %d", name.c_str(), code);
            FUZZ_CHECK(!error.empty());
        }
        for (const accessdb::ColumnInfo& c : columns)
            FUZZ_CHECK(Utf8WellFormed(c.name), "ill-formed UTF-8 in a column name");
    }
    file.reset();

    if (!molecules) return 0;
    accessdb::SourceKey key;
    code = 0;
    error.clear();
    sqlite3* copy = accessdb::openCache(path, true, key, code, error);
    if (!copy) {
        FUZZ_CHECK(code != 0 && !error.empty(), "code %d", code);
        return 0;
    }
    sqlite3_stmt* st = nullptr;
    FUZZ_CHECK(sqlite3_prepare_v2(copy, "SELECT COUNT(*), MIN(MassMI) FROM Molecules", -1, &st,
                                  nullptr) == SQLITE_OK,
               "%s", sqlite3_errmsg(copy));
    FUZZ_CHECK(sqlite3_step(st) == SQLITE_ROW);
    sqlite3_finalize(st);
    sqlite3_close_v2(copy);
    return 0;
}
