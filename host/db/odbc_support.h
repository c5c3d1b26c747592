#pragma once
// Pieces of the ODBC engine: handles that free themselves, the driver's diagnostics, the
// mapping of SQLSTATEs and messages to DbCodes, and the reading of a result into an answer.
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "db_answer.h"

namespace odbc {

// An ODBC handle freed at the end of its scope.
class Handle {
  public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &h_))) h_ = SQL_NULL_HANDLE;
    }
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : type_(o.type_), h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            type_ = o.type_;
            h_ = o.h_;
            o.h_ = SQL_NULL_HANDLE;
        }
        return *this;
    }
    void reset() {
        if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, h_);
        h_ = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return h_; }
    SQLSMALLINT type() const { return type_; }
    explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }

  private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE h_ = SQL_NULL_HANDLE;
};

struct Diag {
    std::string state; // SQLSTATE, five characters
    long native = 0;
    std::string message;
};

// Every diagnostic record of a handle.
std::vector<Diag> diagnostics(const Handle& h);
// The messages in one line ("; " between records, line breaks as blanks).
std::string messageOf(const std::vector<Diag>& d);

// The DbCode of a failed SQLDriverConnect: DB_UNKNOWN_DRIVER, DB_SERVER_UNREACHABLE,
// DB_LOGIN_REFUSED or DB_OPEN_FAILED.
int connectFailure(const std::vector<Diag>& d);
// The DbCode of a failed statement: DB_QUERY_TIMEOUT, DB_CONNECTION_LOST, DB_NOT_READ_ONLY or
// DB_SQL_ERROR.
int statementFailure(const std::vector<Diag>& d);

// How one result column is fetched and written.
enum class ColumnKind { Integer, Double, Float, Text, Binary };

// Buffers for block fetches, kept by the engine between statements.
struct FetchBuffers {
    SQLULEN fetched = 0; // rows of the last block (SQL_ATTR_ROWS_FETCHED_PTR)
    std::vector<char> data;
    std::vector<SQLLEN> lengths;
    std::vector<SQLUSMALLINT> status;
};

// Reads every row of the executed statement st into out. Returns 0, or a DbCode with its
// text in error. Blocks of rows are fetched through bound arrays; when a text is longer than
// its bound width the statement is run again and read value by value (sql is for that).
int readResult(const Handle& st, const std::string& sql, FetchBuffers& buffers,
               dbanswer::Builder& out, std::string& error);

// The text of column col of the current row through SQLGetData, whatever its length; false
// with the DbCode in code and its text in error on failure. null is set for SQL NULL.
bool getText(const Handle& st, SQLUSMALLINT col, std::string& value, bool& null, int& code,
             std::string& error);

} // namespace odbc
