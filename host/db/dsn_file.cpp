#include "dsn_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "db_common.h"
#include "db_engine.h"

using dbcommon::trim;
using dbcommon::upper;

namespace {

constexpr size_t kMaxDsnBytes = 64 * 1024;

} // namespace

std::string DsnFile::value(const std::string& key) const {
    const std::string k = upper(key);
    for (const auto& kv : keys)
        if (upper(kv.first) == k) return kv.second;
    return {};
}

bool DsnFile::has(const std::string& key) const {
    const std::string k = upper(key);
    for (const auto& kv : keys)
        if (upper(kv.first) == k) return true;
    return false;
}

int readDsnFile(const std::string& path, DsnFile& out, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "Data source file not found: " + path;
        return DB_FILE_NOT_FOUND;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot read the data source " + path + ": " + std::strerror(errno);
        return DB_DSN_UNREADABLE;
    }
    std::string text(kMaxDsnBytes + 1, '\0');
    in.read(&text[0], std::streamsize(text.size()));
    if (in.bad()) {
        error = "Cannot read the data source " + path + ": " + std::strerror(errno);
        return DB_DSN_UNREADABLE;
    }
    text.resize(size_t(in.gcount()));
    if (text.size() > kMaxDsnBytes) {
        error = "Not an ODBC data source (the file is too large): " + path;
        return DB_NOT_A_DATA_SOURCE;
    }
    if (text.find('\0') != std::string::npos) {
        error = "Not an ODBC data source (binary or UTF-16 text; save it as UTF-8): " + path;
        return DB_NOT_A_DATA_SOURCE;
    }
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    out = DsnFile();
    bool inOdbc = false, sawOdbc = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (close == std::string::npos) {
                error = "Not an ODBC data source (a broken section line \"" + line + "\"): " + path;
                return DB_NOT_A_DATA_SOURCE;
            }
            inOdbc = upper(trim(line.substr(1, close - 1))) == "ODBC";
            sawOdbc = sawOdbc || inOdbc;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "Not an ODBC data source (the line \"" + line + "\" is no key=value): " + path;
            return DB_NOT_A_DATA_SOURCE;
        }
        if (inOdbc) out.keys.emplace_back(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
    if (!sawOdbc) {
        error = "Not an ODBC data source (no section [ODBC]): " + path;
        return DB_NOT_A_DATA_SOURCE;
    }
    if (out.value("DRIVER").empty() && out.value("DSN").empty()) {
        error = "Not an ODBC data source (the section [ODBC] names no DRIVER): " + path;
        return DB_NOT_A_DATA_SOURCE;
    }
    for (const char* key : {"LoginTimeout", "QueryTimeout"})
        if (dsnTimeout(out, key, 1) < 0) {
            error = "The data source " + path + " gives " + key + "=" + out.value(key) +
                    ": a whole number of seconds from 1 to 3600 is needed";
            return DB_NOT_A_DATA_SOURCE;
        }
    return 0;
}

int dsnTimeout(const DsnFile& dsn, const std::string& key, int fallback) {
    if (!dsn.has(key)) return fallback;
    const std::string v = dsn.value(key);
    int n = 0;
    auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (v.empty() || ec != std::errc() || p != v.data() + v.size() || n < 1 || n > 3600) return -1;
    return n;
}
