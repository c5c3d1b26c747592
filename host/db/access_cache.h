#pragma once
// The SQLite copy of an Access database's table Molecules that the Access engine queries.
//
// It lives in $XDG_CACHE_HOME/tarvish/ (default ~/.cache/tarvish/), one file per Access file
// (named by a hash of its path), and holds the key of the file it was made from: its path,
// size, modification and change times, inode, and the cache's own format version. A cache is
// used only when its key matches the file as it is now and its rows are all there; otherwise
// (missing, stale, damaged, an older format) it is rebuilt. A build writes a temporary file
// beside it and renames it; concurrent hosts take turns on a lock file, so the second one
// finds the first one's cache. When the cache folder cannot be written, the copy is kept in
// memory for the time the database is open.
//
// The copy: every column of Molecules (texts with the collation ACCESS_TEXT), the rows in
// ascending MassMI (ties in the order of the file), indexes on MassMI and ID.
#include <sqlite3.h>

#include <string>

namespace accessdb {

// What identifies the state of an Access file.
struct SourceKey {
    std::string path; // canonical
    long long size = 0, mtimeNs = 0, ctimeNs = 0, inode = 0;
    std::string text() const;
};

// The key of the file at path now; false with a DbCode and its text when it is not a file.
bool sourceKey(const std::string& path, SourceKey& key, int& code, std::string& error);

// The folder of the caches ($XDG_CACHE_HOME/tarvish, else $HOME/.cache/tarvish); empty
// when neither variable is set.
std::string cacheFolder();

// The cache file of an Access file (canonical path) in folder.
std::string cacheFileOf(const std::string& folder, const std::string& canonicalPath);

// Opens the cache of the Access file at path for reading, building it when it cannot be
// trusted (always when rebuild is set). The connection has the Access SQL functions and
// collation registered; the caller protects it. Null with a DbCode and text on failure (the
// codes and texts of a database that cannot be opened). key receives the file's key.
sqlite3* openCache(const std::string& path, bool rebuild, SourceKey& key, int& code,
                   std::string& error);

} // namespace accessdb
