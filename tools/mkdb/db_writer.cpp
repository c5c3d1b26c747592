#include "db_writer.h"

#include "jet_writer.h"

#include <sqlite3.h>
#include <unistd.h>
#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace mkdb {
namespace {

bool run(sqlite3* db, const char* sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    error = std::string(sql) + ": " + (msg ? msg : sqlite3_errmsg(db));
    sqlite3_free(msg);
    return false;
}

// Forces the written file to disk before it takes the target's name.
bool syncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

class SqliteWriter : public RowWriter {
  public:
    // The temporary file sits beside the target so that the rename stays on one file system.
    explicit SqliteWriter(std::string path)
        : path_(std::move(path)), tmp_(path_ + ".tmp-" + std::to_string(::getpid())) {}

    ~SqliteWriter() override {
        sqlite3_finalize(ins_);
        sqlite3_close_v2(db_);
        if (!done_) {
            std::error_code ec;
            std::filesystem::remove(tmp_, ec);
        }
    }

    bool start(std::string& error) {
        std::error_code ec;
        std::filesystem::remove(tmp_, ec);
        if (sqlite3_open_v2(tmp_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            error = "cannot create " + tmp_ + ": " + (db_ ? sqlite3_errmsg(db_) : "no memory");
            return false;
        }
        if (!run(db_, "PRAGMA journal_mode=OFF", error) ||
            !run(db_, "PRAGMA synchronous=OFF", error) || !run(db_, "BEGIN", error) ||
            !run(db_,
                 "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL NOT NULL, "
                 "Formula TEXT NOT NULL, Name TEXT, Smiles TEXT NOT NULL)",
                 error))
            return false;
        if (sqlite3_prepare_v2(db_, "INSERT INTO Molecules VALUES(?,?,?,?,?)", -1, &ins_,
                               nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db_);
            return false;
        }
        return true;
    }

    bool add(long long id, const Row& r, std::string& error) override {
        sqlite3_bind_int64(ins_, 1, id);
        sqlite3_bind_double(ins_, 2, r.mass);
        sqlite3_bind_text(ins_, 3, r.formula.data(), int(r.formula.size()), SQLITE_STATIC);
        if (r.name.empty())
            sqlite3_bind_null(ins_, 4);
        else
            sqlite3_bind_text(ins_, 4, r.name.data(), int(r.name.size()), SQLITE_STATIC);
        sqlite3_bind_text(ins_, 5, r.smiles.data(), int(r.smiles.size()), SQLITE_STATIC);
        const bool ok = sqlite3_step(ins_) == SQLITE_DONE;
        if (!ok) error = "insert of row " + std::to_string(id) + ": " + sqlite3_errmsg(db_);
        sqlite3_reset(ins_);
        return ok;
    }

    bool finish(std::string& error) override {
        sqlite3_finalize(ins_);
        ins_ = nullptr;
        if (!run(db_, "CREATE INDEX Molecules_MassMI ON Molecules(MassMI)", error) ||
            !run(db_, "COMMIT", error))
            return false;
        if (sqlite3_close_v2(db_) != SQLITE_OK) {
            error = "cannot close " + tmp_ + ": " + sqlite3_errmsg(db_);
            return false;
        }
        db_ = nullptr;
        if (!syncFile(tmp_)) {
            error = "cannot write " + tmp_ + " to disk";
            return false;
        }
        if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
            error = "cannot rename " + tmp_ + " to " + path_;
            return false;
        }
        done_ = true;
        return true;
    }

  private:
    std::string path_, tmp_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* ins_ = nullptr;
    bool done_ = false;
};

std::string extensionOf(const std::string& path) {
    size_t slash = path.rfind('/'), dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

} // namespace

std::unique_ptr<RowWriter> openSqliteWriter(const std::string& path, std::string& error) {
    auto w = std::make_unique<SqliteWriter>(path);
    if (!w->start(error)) return nullptr;
    return w;
}

bool isKnownOutput(const std::string& path) {
    const std::string ext = extensionOf(path);
    return ext == ".db" || ext == ".mdb";
}

std::unique_ptr<RowWriter> openRowWriter(const std::string& path, std::string& error) {
    const std::string ext = extensionOf(path);
    if (ext == ".db") return openSqliteWriter(path, error);
    if (ext == ".mdb") return openJetWriter(path, error);
    error = "unknown kind of output " + path + " (known: .db, .mdb)";
    return nullptr;
}

bool writeDatabase(const std::string& path, std::vector<Row>& rows, std::string& error) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.mass < b.mass; });
    std::unique_ptr<RowWriter> w = openRowWriter(path, error);
    if (!w) return false;
    long long id = 0;
    for (const Row& r : rows)
        if (!w->add(++id, r, error)) return false;
    return w->finish(error);
}

} // namespace mkdb
