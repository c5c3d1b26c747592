#pragma once
// Small helpers shared by the database engines and the handle table.
#include <string>
#include <vector>

namespace dbcommon {

// The columns every molecule table has, in the plug-in's order.
extern const char* const kMoleculeColumns[5];

std::string upper(std::string s); // ASCII only
std::string lower(std::string s); // ASCII only
bool isBlank(char c);             // blank, tab, CR or LF
std::string trim(const std::string& s);

// Checks the column names of the table Molecules (any case; empty when there is no such
// table). Returns 0, or DB_NO_MOLECULES with the text every engine gives in error.
int checkMoleculeColumns(const std::vector<std::string>& columns, const std::string& path,
                         std::string& error);

// The code of a failed login to a server from its message: DB_LOGIN_REFUSED when the server
// answered and refused (password, user, database, access rules), else DB_SERVER_UNREACHABLE
// (down, no answer within the timeout, unknown host).
int loginFailure(const std::string& message);

} // namespace dbcommon
