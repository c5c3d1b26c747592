#pragma once
// ODBC file data sources (.dsn): INI text whose section [ODBC] holds the connection keys,
// as on Windows ("DRIVER=PostgreSQL Unicode", "SERVER=db.lab", "PORT=5432",
// "DATABASE=molecules", "UID=reader", "PWD=..."). Lines starting with ";" or "#" are
// comments; keys are compared ignoring case; a UTF-8 byte order mark is skipped.
//
// Keys of the host's own, which no driver needs:
//   LoginTimeout  seconds to wait for the server when opening (default 10)
//   QueryTimeout  seconds a statement may run (default 30)
//   Client=odbc   a PostgreSQL source read through its ODBC driver, not libpq (pg_engine.h)
#include <string>
#include <utility>
#include <vector>

struct DsnFile {
    std::vector<std::pair<std::string, std::string>> keys; // of [ODBC], in file order

    // The value of key (ignoring case); empty when absent.
    std::string value(const std::string& key) const;
    bool has(const std::string& key) const;
};

constexpr int kDefaultLoginTimeout = 10;
constexpr int kDefaultQueryTimeout = 30;

// Reads and checks a .dsn: 0, or DB_FILE_NOT_FOUND, DB_DSN_UNREADABLE or DB_NOT_A_DATA_SOURCE
// with the text in error. A data source has a section [ODBC] naming a DRIVER (or a DSN).
int readDsnFile(const std::string& path, DsnFile& out, std::string& error);

// The timeout in seconds given by key (1 to 3600), or fallback when absent; -1 when the value
// is not such a number.
int dsnTimeout(const DsnFile& dsn, const std::string& key, int fallback);
