#include "synthetic_db.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "formula.h"

namespace {

constexpr int kVersion = 1;

struct Row {
    double mass;
    std::string formula, name, smiles;
};

struct Db {
    sqlite3* h = nullptr;
    ~Db() { sqlite3_close_v2(h); }
};

void exec(sqlite3* h, const char* sql) {
    char* msg = nullptr;
    if (sqlite3_exec(h, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        std::string m = std::string(sql) + ": " + (msg ? msg : "?");
        sqlite3_free(msg);
        throw std::runtime_error(m);
    }
}

// True when path holds a database made with these parameters.
bool reusable(const std::string& path, long rows, unsigned seed) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    Db db;
    if (sqlite3_open_v2(path.c_str(), &db.h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return false;
    sqlite3_stmt* st = nullptr;
    bool ok = false;
    if (sqlite3_prepare_v2(db.h, "SELECT rows, seed, version FROM SyntheticInfo", -1, &st,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        ok = sqlite3_column_int64(st, 0) == rows && sqlite3_column_int64(st, 1) == seed &&
             sqlite3_column_int(st, 2) == kVersion;
    sqlite3_finalize(st);
    return ok;
}

const char* const kSyllables[] = {
    "meth", "eth", "prop",  "but",  "pent",    "hex",   "hydroxy", "amino", "oxo", "phenyl",
    "benz", "pyr", "indol", "gluc", "furan",   "thio",  "phospho", "carb",  "ox",  "yl",
    "ate",  "ine", "ol",    "one",  "ic acid", "oside", "amide",   "estr",  "ster"};

// One row: a target mass from the distribution, turned into a formula whose exact mass is
// the row's mass.
Row makeRow(std::mt19937_64& rng, long index) {
    std::lognormal_distribution<double> massDist(std::log(400.0), 0.45);
    double target;
    do
        target = massDist(rng);
    while (target < 50 || target > 2000);

    auto poisson = [&](double mean) { return int(std::poisson_distribution<int>(mean)(rng)); };
    std::uniform_real_distribution<double> u(0, 1);
    int n = poisson(target / 220), o = poisson(target / 75);
    int s = u(rng) < 0.12 ? 1 + poisson(0.3) : 0;
    int p = u(rng) < 0.05 ? 1 : 0;
    double rest = target - 14 * n - 16 * o - 32 * s - 31 * p;
    while (rest < 14 && (o > 0 || n > 0)) {
        if (o > 0)
            --o, rest += 16;
        else
            --n, rest += 14;
    }
    int c = std::max(1, int(rest / 14));
    int dbe = std::min(c, int(u(rng) * (c / 2 + 2))); // rings plus double bonds
    int h = std::max(0, 2 * c + 2 + n + p - 2 * dbe);

    std::string formula = "C" + std::to_string(c);
    if (h) formula += "H" + std::to_string(h);
    if (n) formula += "N" + std::to_string(n);
    if (o) formula += "O" + std::to_string(o);
    if (p) formula += "P" + std::to_string(p);
    if (s) formula += "S" + std::to_string(s);
    tvchem::FormulaResult fr = tvchem::parseFormula(formula);
    if (!fr.ok) throw std::runtime_error("generated formula " + formula + ": " + fr.error);

    Row r;
    r.mass = tvchem::monoisotopicMass(fr.formula);
    r.formula = fr.formula.hill();
    std::uniform_int_distribution<int> syl(0, int(std::size(kSyllables)) - 1);
    const int parts = 2 + int(u(rng) * 4);
    for (int i = 0; i < parts; ++i)
        r.name += kSyllables[syl(rng)];
    r.name[0] = char(std::toupper(static_cast<unsigned char>(r.name[0])));
    r.name += " " + std::to_string(index);
    // A chain of the heavy atoms: valid SMILES of the formula's length.
    r.smiles.reserve(size_t(c + n + o + s + p + 8));
    for (int i = 0; i < c; ++i) {
        r.smiles += 'C';
        if (i < n) r.smiles += 'N';
        if (i < o) r.smiles += 'O';
    }
    for (int i = c; i < n; ++i)
        r.smiles += 'N';
    for (int i = c; i < o; ++i)
        r.smiles += 'O';
    for (int i = 0; i < s; ++i)
        r.smiles += 'S';
    for (int i = 0; i < p; ++i)
        r.smiles += 'P';
    return r;
}

} // namespace

std::string makeSyntheticDb(const std::string& path, long rows, unsigned seed) {
    if (rows <= 0) throw std::runtime_error("makeSyntheticDb: rows must be positive");
    if (reusable(path, rows, seed)) return path;

    std::mt19937_64 rng(seed);
    std::vector<Row> data;
    data.reserve(size_t(rows));
    for (long i = 0; i < rows; ++i)
        data.push_back(makeRow(rng, i + 1));
    std::stable_sort(data.begin(), data.end(),
                     [](const Row& a, const Row& b) { return a.mass < b.mass; });

    const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
    {
        Db db;
        if (sqlite3_open(tmp.c_str(), &db.h) != SQLITE_OK)
            throw std::runtime_error("cannot create " + tmp);
        exec(db.h, "PRAGMA journal_mode=OFF");
        exec(db.h, "PRAGMA synchronous=OFF");
        exec(db.h, "BEGIN");
        exec(db.h, "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL NOT NULL, "
                   "Formula TEXT NOT NULL, Name TEXT, Smiles TEXT NOT NULL)");
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db.h, "INSERT INTO Molecules VALUES(?,?,?,?,?)", -1, &st, nullptr) !=
            SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db.h));
        long long id = 0;
        for (const Row& r : data) {
            sqlite3_bind_int64(st, 1, ++id);
            sqlite3_bind_double(st, 2, r.mass);
            sqlite3_bind_text(st, 3, r.formula.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 4, r.name.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 5, r.smiles.c_str(), -1, SQLITE_STATIC);
            if (sqlite3_step(st) != SQLITE_DONE) {
                std::string m = sqlite3_errmsg(db.h);
                sqlite3_finalize(st);
                throw std::runtime_error("insert: " + m);
            }
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        exec(db.h, "CREATE INDEX Molecules_MassMI ON Molecules(MassMI)");
        exec(db.h, "CREATE TABLE SyntheticInfo(rows INTEGER, seed INTEGER, version INTEGER)");
        const std::string info = "INSERT INTO SyntheticInfo VALUES(" + std::to_string(rows) + "," +
                                 std::to_string(seed) + "," + std::to_string(kVersion) + ")";
        exec(db.h, info.c_str());
        exec(db.h, "COMMIT");
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::filesystem::remove(tmp, ec);
        throw std::runtime_error("cannot rename " + tmp + " to " + path);
    }
    return path;
}

std::string syntheticDbFromArgs(int& argc, char** argv, long& rows) {
    std::string dir = "/tmp";
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0)
            rows = std::atol(argv[i] + 7);
        else if (std::strncmp(argv[i], "--db-dir=", 9) == 0)
            dir = argv[i] + 9;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return makeSyntheticDb(dir + "/tvdb-bench-" + std::to_string(rows) + ".db", rows, 20240601u);
}
