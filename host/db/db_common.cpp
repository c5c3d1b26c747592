#include "db_common.h"

#include <cctype>
#include <set>

#include "db_engine.h"

namespace dbcommon {

const char* const kMoleculeColumns[5] = {"ID", "MassMI", "Formula", "Name", "Smiles"};

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

int checkMoleculeColumns(const std::vector<std::string>& columns, const std::string& path,
                         std::string& error) {
    if (columns.empty()) {
        error = "The database " + path + " has no table Molecules";
        return DB_NO_MOLECULES;
    }
    std::set<std::string> have;
    for (const std::string& c : columns)
        have.insert(upper(c));
    std::string missing;
    for (const char* c : kMoleculeColumns)
        if (!have.count(upper(c))) missing += std::string(missing.empty() ? "" : ", ") + c;
    if (!missing.empty()) {
        error = "The table Molecules of " + path + " lacks the column(s) " + missing;
        return DB_NO_MOLECULES;
    }
    return 0;
}

int loginFailure(const std::string& message) {
    const std::string m = lower(message);
    for (const char* refused : {"authentication", "password", "fatal:", "no pg_hba.conf",
                                "permission denied", "does not exist"})
        if (m.find(refused) != std::string::npos) return DB_LOGIN_REFUSED;
    return DB_SERVER_UNREACHABLE;
}

} // namespace dbcommon
