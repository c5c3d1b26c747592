// The fast paths of a large run against the plain ones they replace: typed rows from SQLite
// against the text answer, the quoting of CSV and TSV fields against a byte-by-byte oracle,
// the packed ordering of ranked hits against the plain comparison, and large results written
// past the page cache against the bytes handed over.
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db_answer.h"
#include "db_engines.h"
#include "db_test_util.h"
#include "mass_search.h"
#include "output_file.h"
#include "ranking.h"
#include "result_writer.h"

namespace {

using namespace tvsearch;

// An engine that gives only the text answer: queryRows is the default, which cuts it.
class TextOnlyEngine : public DbEngine {
  public:
    explicit TextOnlyEngine(DbEngine& inner) : inner_(inner) {}
    std::string format() const override { return inner_.format(); }
    CommandResult query(const std::string& sql) override { return inner_.query(sql); }
    CommandResult molecule(long long id, DbMolecule& out) override {
        return inner_.molecule(id, out);
    }

  private:
    DbEngine& inner_;
};

// Each row as the text answer writes it.
class AnswerText : public DbRowSink {
  public:
    void row(const DbField* f, int n) override {
        for (int i = 0; i < n; ++i) {
            char buf[dbanswer::kRealRoom];
            switch (f[i].type) {
            case DbField::Integer:
                text.append(buf, dbanswer::Builder::writeInteger(buf, f[i].integer));
                break;
            case DbField::Real:
                text.append(buf, dbanswer::formatReal(buf, f[i].real));
                break;
            case DbField::Text:
                text.append(f[i].text, f[i].size);
                break;
            case DbField::Null:
                break;
            }
            text += i + 1 < n ? ';' : '\n';
        }
    }
    std::string text;
};

// Molecules with every kind of value SQLite holds, in the columns a search reads.
std::string oddValuesDb(const dbtest::TempDir& tmp) {
    const std::string path = tmp.file("Odd.db");
    dbtest::sql(path,
                "CREATE TABLE Molecules(ID, MassMI, Formula, Name, Smiles);"
                "INSERT INTO Molecules VALUES(1, 180.063388, 'C6H12O6', 'Glucose; D-', 'OCC1OC(O)C(O)C(O)C1O');"
                "INSERT INTO Molecules VALUES(2, 180.0634, 'C6H12O6', '  blanks first', NULL);"
                "INSERT INTO Molecules VALUES('A-7', '180.06339 ', 'C6H12O6', 'line' || char(10) || 'break' || char(13), x'00FF10');"
                "INSERT INTO Molecules VALUES(7.5, 180, 42, 3.25, -0.0);"
                "INSERT INTO Molecules VALUES(' 9', 180.06338, NULL, x'414243', 'tab\there');"
                "INSERT INTO Molecules VALUES(10, NULL, 'C6H12O6', 'no mass', '');"
                "INSERT INTO Molecules VALUES(11, 'not a mass', 'C6H12O6', 'text mass', '');"
                "INSERT INTO Molecules VALUES(12, 1e300, 'C', 'huge', '');"
                "INSERT INTO Molecules VALUES(13, 180.0633880000001, 'C6H12O6', 'long digits', 'Ã©€𝄞');"
                "INSERT INTO Molecules VALUES(9223372036854775807, 180.06339, 'C6H12O6', 'max id', '');"
                "INSERT INTO Molecules VALUES(-5, 180.063389, 'C6H12O6', 'negative id', '');");
    // A NUL inside a text value (SQL literals cannot hold one).
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Molecules VALUES(14, 180.06338, 'C6H12O6', ?, 'x')", -1, &st,
                       nullptr);
    static const char kWithNul[] = "nul\0inside;too";
    sqlite3_bind_text(st, 1, kWithNul, int(sizeof kWithNul - 1), SQLITE_STATIC);
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(st));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return path;
}

TEST(FastPaths, TypedRowsAreTheTextAnswer) {
    dbtest::TempDir tmp;
    const std::string path = oddValuesDb(tmp);
    CommandResult error;
    std::unique_ptr<DbEngine> db = DbEngines::openFile(path, error);
    ASSERT_TRUE(db) << error.text;
    TextOnlyEngine textOnly(*db);
    const std::string sql = "SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules ORDER BY rowid";
    const CommandResult answer = db->query(sql);
    ASSERT_EQ(0, answer.code) << answer.text;

    AnswerText typed, cut;
    ASSERT_EQ(0, db->queryRows(sql, typed).code);
    ASSERT_EQ(0, textOnly.queryRows(sql, cut).code);
    EXPECT_EQ(answer.text, typed.text);
    EXPECT_EQ(answer.text, cut.text);
    EXPECT_NE(std::string::npos, typed.text.find("nul inside,too")); // mended like the answer
    EXPECT_NE(std::string::npos, typed.text.find("00FF10"));         // raw bytes as hex digits

    // Both refuse what the text answer refuses, with its code.
    AnswerText none;
    EXPECT_EQ(DB_NOT_READ_ONLY, db->queryRows("DELETE FROM Molecules", none).code);
    EXPECT_EQ(DB_NOT_READ_ONLY, db->queryRows("SELECT 1; SELECT 2", none).code);
    EXPECT_EQ(DB_SQL_ERROR, db->queryRows("SELECT nothing FROM nowhere", none).code);
    EXPECT_EQ(DB_SQL_ERROR, textOnly.queryRows("SELECT nothing FROM nowhere", none).code);
    EXPECT_TRUE(none.text.empty());
}

TEST(FastPaths, SearchFindsTheSameOnTypedRowsAndOnTheTextAnswer) {
    dbtest::TempDir tmp;
    const std::string path = oddValuesDb(tmp);
    CommandResult error;
    std::unique_ptr<DbEngine> db = DbEngines::openFile(path, error);
    ASSERT_TRUE(db) << error.text;
    TextOnlyEngine textOnly(*db);
    std::vector<PeakRecord> peaks(2);
    peaks[0].mz = 181.0707; // [M+H]+ of glucose
    peaks[1].mz = 203.0526; // [M+Na]+
    std::vector<Ion> ions{parseIon("[M+H]+").ion, parseIon("[M+Na]+").ion};
    const Tolerance tol{false, 0.1}; // wide enough for the whole-number mass

    auto run = [&](DbEngine& e, std::string& dump, QueryStats& qs) {
        HitList hits;
        HitStore store;
        std::string err;
        ASSERT_TRUE(searchDatabase(e, peaks, ions, tol, hits, store, qs, err)) << err;
        for (size_t k = 0; k < hits.size(); ++k) {
            const HitStore::Row& r = store.row(hits[k].row);
            char mass[dbanswer::kRealRoom];
            dump += std::to_string(hits[k].peak) + "/" + std::to_string(hits[k].ion) + " [" +
                    std::string(store.id(r)) + "|" + std::to_string(r.idKey) + "|" +
                    std::string(mass, dbanswer::formatReal(mass, r.mass)) + "|" +
                    store.formula(r) + "|" + std::string(store.name(r)) + "|" +
                    std::string(store.smiles(r)) + "]\n";
        }
    };
    std::string a, b;
    QueryStats qa, qb;
    run(*db, a, qa);
    run(textOnly, b, qb);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qa.rowsFetched, qb.rowsFetched);
    // Each peak as its own ion finds the eight rows near 180 with a number for a mass.
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 16) << a;
    EXPECT_NE(std::string::npos, a.find("0/0 [7.5|" + std::to_string(LLONG_MAX) + "|180|42|3.25|-0]"));
    EXPECT_NE(std::string::npos, a.find("[9|9|180.06338||414243|tab\there]"));
    EXPECT_NE(std::string::npos, a.find("|blanks first|]"));
    EXPECT_NE(std::string::npos, a.find("[9223372036854775807|9223372036854775807|"));
    EXPECT_NE(std::string::npos, a.find("|nul inside,too|x]"));
}

// The quoting of a field, one byte at a time (the oracle).
std::string csvOracle(const std::string& v, char d) {
    bool quote = !v.empty() && (v.front() == ' ' || v.back() == ' ');
    for (char c : v)
        quote = quote || c == d || c == '"' || c == '\n' || c == '\r';
    if (!quote) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string tsvOracle(std::string v) {
    for (char& c : v)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return v;
}

TEST(FastPaths, FieldQuotingAgreesWithTheOracle) {
    std::mt19937 rng(7);
    const std::string alphabet = std::string("abcXYZ019 ,;\"\t\n\r\xC3\xA9", 19) + std::string(1, '\0');
    std::vector<char> buf(1024);
    for (int n = 0; n < 20000; ++n) {
        const size_t len = rng() % 70;
        // Mostly plain letters, so that long values without a special byte are common too.
        std::string v;
        for (size_t i = 0; i < len; ++i)
            v += rng() % 4 ? char('a' + rng() % 26) : alphabet[rng() % alphabet.size()];
        for (char d : {',', ';', '\t'}) {
            const std::string want = csvOracle(v, d);
            ASSERT_EQ(want, std::string(buf.data(), writeCsvField(buf.data(), v, d))) << v;
            std::string appended = "x";
            appendCsvField(appended, v, d);
            ASSERT_EQ("x" + want, appended);
        }
        ASSERT_EQ(tsvOracle(v), std::string(buf.data(), writeTsvField(buf.data(), v))) << v;
    }
    // A special byte only in the last, overlapping block of sixteen.
    for (size_t len = 16; len < 40; ++len) {
        std::string v(len, 'a');
        v.back() = '"';
        EXPECT_EQ(csvOracle(v, ','), std::string(buf.data(), writeCsvField(buf.data(), v, ',')));
        v.back() = '\t';
        EXPECT_EQ(tsvOracle(v), std::string(buf.data(), writeTsvField(buf.data(), v)));
    }
}

TEST(FastPaths, PackedOrderingIsThePlainOne) {
    std::mt19937_64 rng(11);
    std::vector<std::string> ids = {"1", "2", "10", "A-7", "b", "", "9"};
    auto idOf = [&](uint32_t hit) { return std::string_view(ids[hit % ids.size()]); };
    std::vector<RankedKey> keys;
    std::vector<RankedHit> scratch;
    for (int round = 0; round < 400; ++round) {
        const size_t n = rng() % 300;
        std::vector<RankedHit> hits;
        for (uint32_t i = 0; i < n; ++i) {
            RankedHit r{};
            r.hit = i * 3 + uint32_t(rng() % 3); // ascending, as the hits of a peak come
            r.ion = uint32_t(rng() % 4);
            r.idKey = rng() % 5 == 0 ? LLONG_MAX : (long long)(rng() % 6) - 1;
            r.rank = rng() % 3 == 0 ? -1 : double(995 + rng() % 6);
            r.order = double(rng() % 5) * (round % 7 == 0 ? 1e13 : 1.0); // past 2^42 at times
            hits.push_back(r);
        }
        // The oracle: the order written out, ties by hit index.
        std::vector<RankedHit> want = hits;
        std::stable_sort(want.begin(), want.end(), [&](const RankedHit& a, const RankedHit& b) {
            if (a.rank != b.rank) return a.rank > b.rank;
            if (a.order != b.order) return a.order < b.order;
            if (a.ion != b.ion) return a.ion < b.ion;
            if (a.idKey != b.idKey) return a.idKey < b.idKey;
            return idOf(a.hit) < idOf(b.hit);
        });
        for (size_t keep : {n, size_t(10), size_t(1)}) {
            for (bool packed : {true, false}) {
                std::vector<RankedHit> got = hits;
                orderRankedHits(got, keep, idOf, keys, scratch, packed);
                ASSERT_EQ(std::min(keep, n), got.size());
                for (size_t i = 0; i < got.size(); ++i)
                    ASSERT_EQ(want[i].hit, got[i].hit) << "round " << round << " at " << i;
            }
        }
    }
}

// Bytes with a position mark, so that a lost or doubled block shows.
std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    std::mt19937 rng(seed);
    for (size_t i = 0; i < n; ++i)
        s[i] = char('a' + rng() % 26);
    return s;
}

TEST(FastPaths, LargeResultsArriveWhole) {
    dbtest::TempDir tmp;
    const std::string target = tmp.file("large.csv");
    // Larger than a few blocks, not a multiple of the alignment, written in uneven pieces.
    const std::string data = pattern((size_t(13) << 20) + 12345, 1);
    {
        OutputFile out;
        std::string error;
        ASSERT_TRUE(out.open(target, false, error)) << error;
        std::mt19937 rng(3);
        for (size_t at = 0; at < data.size();) {
            const size_t n = std::min(data.size() - at, size_t(rng() % (3 << 20)) + 1);
            ASSERT_TRUE(out.write(data.data() + at, n));
            at += n;
        }
        ASSERT_TRUE(out.commit(error)) << error;
    }
    EXPECT_EQ(data, dbtest::readFile(target));
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"large.csv"}, names); // no temporary file left

    // A start through the stream that leaves the file unaligned, then large writes.
    const std::string head = "peak_id,mz\r\n";
    {
        OutputFile out;
        std::string error;
        ASSERT_TRUE(out.open(target, false, error)) << error;
        std::fputs(head.c_str(), out.stream());
        ASSERT_TRUE(out.write(data.data(), data.size()));
        ASSERT_TRUE(out.commit(error)) << error;
    }
    EXPECT_EQ(head + data, dbtest::readFile(target));

    // Given up half way: the old file stays as it was.
    {
        OutputFile out;
        std::string error;
        ASSERT_TRUE(out.open(target, false, error)) << error;
        ASSERT_TRUE(out.write(data.data(), size_t(9) << 20));
        out.abandon();
    }
    EXPECT_EQ(head + data, dbtest::readFile(target));
}

} // namespace
