#pragma once
// One run of tarvish-search: read the peaks, open the database, search, score, write.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"

namespace tvsearch {

// The database file for -d: a path to a file, or a name (with or without its extension)
// in dataDir/Databases/, compared ignoring case. False with the reason when there is
// none, or when the name fits several files.
bool resolveDatabase(const std::string& nameOrPath, const std::string& dataDir, std::string& path,
                     std::string& error);

// The database files of dataDir/Databases/ (.db, .mdb, .dsn), sorted ignoring case.
std::vector<std::string> listDatabases(const std::string& dataDir);

// The data directory as the host resolves it: dataDir given, else the host's default;
// ends with '/'.
std::string resolveDataDir(const std::string& dataDir);

struct RunTimes {
    double total = 0, read = 0, queries = 0, scoring = 0, output = 0;
};

// Runs the search; messages and the summary go to err. Returns the exit status.
int runSearch(const SearchOptions& o, FILE* err, RunTimes* times = nullptr);

} // namespace tvsearch
