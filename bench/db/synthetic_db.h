#pragma once
// A synthetic molecule database for benchmarks: rows masses drawn from a log-normal
// distribution centred near 400 Da (50-2000 Da), each mass the exact monoisotopic mass of a
// plausible CHNOSP formula, with names and SMILES-like strings of realistic length. Written
// as the project's databases are: table Molecules in ascending MassMI order (IDs 1..n),
// index on MassMI.
#include <string>

// Creates the database at path, or reuses it when a previous call with the same rows and
// seed made it. Returns path; throws std::runtime_error on failure.
std::string makeSyntheticDb(const std::string& path, long rows, unsigned seed);

// The benchmarks' own options, "--rows=N" and "--db-dir=DIR", taken out of argv (argc
// shrinks); the shared database of that many rows is made or reused in that folder
// (default /tmp) and its path returned. Throws std::runtime_error on failure.
std::string syntheticDbFromArgs(int& argc, char** argv, long& rows);
