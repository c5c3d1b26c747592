#pragma once
// Helpers of the database tests: temporary folders, small SQLite files, and a reader of the
// engine's answer that cuts it the way the plug-in does (a field ends at ";" or line feed,
// fields taken in cycles of the column count).
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace dbtest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "tvdb-test-XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) ? fs::path(tmpl) : fs::path();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs SQL on a database file (created when missing); fails the test on error.
inline void sql(const std::string& path, const std::string& text) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* msg = nullptr;
    int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &msg);
    std::string err = msg ? msg : "";
    sqlite3_free(msg);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << err;
}

// Rows of a query on a database file, every value as text (NULL as "<null>").
inline std::vector<std::vector<std::string>> query(const std::string& path,
                                                   const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, text.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
                row.push_back(t ? t : "<null>");
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// Cuts an answer as the plug-in does: every ";" or line feed closes a field, leading blanks
// are skipped; rows are the line-feed count, fields grouped by columns.
inline std::vector<std::vector<std::string>> cutAnswer(const std::string& text, size_t columns) {
    std::vector<std::string> fields;
    std::string f;
    bool start = true;
    for (char c : text) {
        if (c == ';' || c == '\n') {
            fields.push_back(f);
            f.clear();
            start = true;
        } else if (!(start && c == ' ')) {
            f += c;
            start = false;
        }
    }
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i + columns <= fields.size(); i += columns)
        rows.emplace_back(fields.begin() + long(i), fields.begin() + long(i + columns));
    return rows;
}

} // namespace dbtest
