// tarvish-mkdb's Access (Jet 4) writer, read back by libmdb (the engine's reader) and by
// mdbtools' own programs: every row, every column, texts byte for byte, doubles exact.
#include <cmath>
#include <cstring>
#include <random>

#include "access_file.h"
#include "access_test_util.h"
#include "jet_writer.h"

using namespace dbtest;

namespace {

// Reads every row of a table with the engine's reader.
std::vector<std::vector<accessdb::Value>> readAll(const std::string& path, const std::string& table,
                                                  std::vector<accessdb::ColumnInfo>* columns = nullptr) {
    std::vector<std::vector<accessdb::Value>> rows;
    int code = 0;
    std::string error;
    auto file = accessdb::AccessFile::open(path, code, error);
    EXPECT_TRUE(file) << error;
    if (!file) return rows;
    std::vector<accessdb::ColumnInfo> cols;
    EXPECT_TRUE(file->readTable(table, cols, [&](const std::vector<accessdb::Value>& r) {
        rows.push_back(r);
        return true;
    }, code, error)) << error;
    if (columns) *columns = cols;
    return rows;
}

// printf %.16g in the C locale: how mdbtools prints a double.
std::string g16(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16g", v);
    return buf;
}

std::vector<mkdb::Row> sampleRows() {
    std::mt19937_64 rnd(42);
    std::vector<mkdb::Row> rows;
    const char* names[] = {"D-Glucose", "\xCE\xB2-Alanine",            // β
                           "(\xC2\xB1)-Catechin",                       // ±
                           "S\xC3\xA4ure \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", // Säure äöüß
                           "\xF0\x9F\xA7\xAA test",                     // a surrogate pair
                           "\xD0\x80\xE2\x88\x80 wide",                 // low bytes 0: never compressed
                           "", "sodium; salt", "line\nbreak"};
    double mass = 1.0;
    for (size_t i = 0; i < 40; ++i) {
        mkdb::Row r;
        // Masses with all 52 bits of the fraction in use, ascending.
        mass += 10.0 + double(rnd() >> 12) * 0x1p-52;
        r.mass = mass;
        r.formula = "C" + std::to_string(i + 1) + "H" + std::to_string(2 * i + 2);
        r.name = names[i % (sizeof names / sizeof *names)];
        static const size_t smilesLength[] = {0, 3, 64, 65, 1024, 1025, 4076, 4077, 9000, 20000};
        r.smiles = std::string(smilesLength[i % 10], 'C');
        if (!r.smiles.empty()) r.smiles[0] = char('A' + i % 26); // each value its own
        if (i % 7 == 3) r.smiles += "\xCE\xB1"; // a non-ASCII SMILES text
        rows.push_back(r);
    }
    rows[5].name = std::string(300, 'x'); // cut at 255, the limit of Access
    return rows;
}

TEST(JetWriter, MoleculesReadBackByLibmdbExactly) {
    TempDir dir;
    const std::string path = dir.file("m.mdb");
    const std::vector<mkdb::Row> rows = sampleRows();
    writeMolecules(path, rows);

    std::vector<accessdb::ColumnInfo> cols;
    const auto got = readAll(path, "Molecules", &cols);
    ASSERT_EQ(cols.size(), 5u);
    const char* names[] = {"ID", "MassMI", "Formula", "Name", "Smiles"};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(cols[i].name, names[i]);
    ASSERT_EQ(got.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(got[i][0].i, long(i + 1));
        uint64_t a, b;
        std::memcpy(&a, &got[i][1].d, 8);
        std::memcpy(&b, &rows[i].mass, 8);
        EXPECT_EQ(a, b) << "the mass comes back to the last bit";
        EXPECT_EQ(got[i][2].s, rows[i].formula);
        const std::string name = i == 5 ? std::string(255, 'x') : rows[i].name;
        EXPECT_EQ(got[i][3].s, name);
        EXPECT_EQ(got[i][3].kind, name.empty() ? accessdb::Value::Null : accessdb::Value::Text);
        EXPECT_EQ(got[i][4].s, rows[i].smiles);
    }
}

TEST(JetWriter, MdbToolsSeeTheSameTable) {
    TempDir dir;
    const std::string path = dir.file("m.mdb");
    const std::vector<mkdb::Row> rows = sampleRows();
    writeMolecules(path, rows);

    EXPECT_EQ(runProgram("mdb-ver", {QString::fromStdString(path)}).out, "JET4\n");
    EXPECT_EQ(runProgram("mdb-tables", {"-1", QString::fromStdString(path)}).out, "Molecules\n");
    const std::string schema = runProgram("mdb-schema", {QString::fromStdString(path)}).out;
    for (const char* column : {"[ID]\t\t\tLong Integer", "[MassMI]\t\t\tDouble",
                               "[Formula]\t\t\tText (255)", "[Name]\t\t\tText (255)",
                               "[Smiles]\t\t\tMemo/Hyperlink (255)"})
        EXPECT_NE(schema.find(column), std::string::npos) << column << " in\n" << schema;

    const auto exported = mdbExport(path, "Molecules");
    ASSERT_EQ(exported.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        ASSERT_EQ(exported[i].size(), 5u);
        EXPECT_EQ(exported[i][0], std::to_string(i + 1));
        EXPECT_EQ(exported[i][1], g16(rows[i].mass));
        EXPECT_EQ(exported[i][2], rows[i].formula);
        // mdbtools converts from UCS-2: a character beyond the BMP shows as two "?".
        std::string name = i == 5 ? std::string(255, 'x') : rows[i].name;
        if (name.rfind("\xF0\x9F\xA7\xAA", 0) == 0) name.replace(0, 4, "??");
        EXPECT_EQ(exported[i][3], name);
        EXPECT_EQ(exported[i][4], rows[i].smiles);
    }
}

TEST(JetWriter, ManyRowsNeedUsageMapPages) {
    // More pages than one inline usage map reaches (512): the maps point to map pages.
    TempDir dir;
    const std::string path = dir.file("big.mdb");
    std::vector<mkdb::Row> rows(60000);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = {50.0 + double(i) * 0.01, "C6H12O6", "Name " + std::to_string(i),
                   i % 3 ? "OCC1OC(O)C(O)C(O)C1O" : std::string(100, 'C')};
    writeMolecules(path, rows);
    EXPECT_GT(fs::file_size(path), 600u * 4096);

    size_t n = 0;
    bool inOrder = true;
    int code = 0;
    std::string error;
    auto file = accessdb::AccessFile::open(path, code, error);
    ASSERT_TRUE(file) << error;
    std::vector<accessdb::ColumnInfo> cols;
    ASSERT_TRUE(file->readTable("molecules", cols, [&](const std::vector<accessdb::Value>& r) {
        inOrder = inOrder && r[0].i == long(n + 1) && r[3].s == rows[n].name && r[4].s == rows[n].smiles;
        ++n;
        return true;
    }, code, error)) << error;
    EXPECT_EQ(n, rows.size());
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(mdbExport(path, "Molecules").size(), rows.size());
}

TEST(JetWriter, NothingAppearsUntilFinished) {
    TempDir dir;
    const std::string path = dir.file("m.mdb");
    writeFile(path, "old contents");
    std::string error;
    {
        auto w = mkdb::openRowWriter(path, error);
        ASSERT_TRUE(w) << error;
        ASSERT_TRUE(w->add(1, {1.0, "H", "x", "[H]"}, error));
    } // abandoned
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    auto w = mkdb::openRowWriter(path, error);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->add(5000000000LL, {1.0, "H", "x", "[H]"}, error)); // not an Access Long
    EXPECT_NE(error.find("Long"), std::string::npos);
    EXPECT_FALSE(w->add(1, {1.0, std::string(256, 'C'), "x", "C"}, error)); // never cut
}

// Every column type the engine reads, in a table written with the format's pieces.
TEST(JetWriter, EveryColumnTypeReadsBack) {
    using namespace mkdb::jet;
    TempDir dir;
    const std::string path = dir.file("types.mdb");
    TableDef def({{"B", kByte}, {"I", kInt}, {"L", kLong}, {"C", kMoney}, {"S", kSingle},
                  {"D", kDouble}, {"T", kDateTime}, {"N", kNumeric, 0, false, 18, 4},
                  {"Txt", kText, 100, true}, {"M", kMemo, 0, true}, {"Yes", kBool},
                  {"G", kGuid}, {"Bin", kBinary, 20}, {"O", kOle}});
    mkdb::JetTableWriter w(path, "Types", def);
    std::string error;
    ASSERT_TRUE(w.start(error)) << error;
    auto bytes = [](std::initializer_list<int> b) {
        std::string s;
        for (int c : b)
            s += char(c);
        return s;
    };
    auto le = [](int64_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += char((uint64_t(v) >> (8 * i)) & 0xFF);
        return s;
    };
    float single = 0.1f;
    std::string singleBytes(4, '\0');
    std::memcpy(&singleBytes[0], &single, 4);
    std::string memo, ole;
    ASSERT_TRUE(w.longValue(encodeText(utf16("memo \xC3\xA4"), true), memo, error));
    ASSERT_TRUE(w.longValue(std::string(5000, '\x7F'), ole, error));
    // 2024-01-31 18:00:00 is day 45322.75; Decimal 1234.5678 is 12345678 at scale 4.
    std::vector<TableDef::Field> row = {
        {false, le(200, 1)},     {false, le(-1234, 2)}, {false, le(-7, 4)},
        {false, le(-123456, 8)}, {false, singleBytes},  {false, doubleBytes(-2.5e-300)},
        {false, doubleBytes(45322.75)},
        {false, bytes({0x80}) + le(0, 4) + le(0, 4) + le(0, 4) + le(12345678, 4)},
        {false, encodeText(utf16("\xCE\xB2 text"), true)}, {false, memo}, {false, "\1"},
        {false, bytes({0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8})},
        {false, bytes({0, 1, 2, 0xFF})}, {false, ole}};
    ASSERT_TRUE(w.addRow(row, error)) << error;
    std::vector<TableDef::Field> nulls(row.size()); // every column NULL, the Boolean false
    ASSERT_TRUE(w.addRow(nulls, error)) << error;
    ASSERT_TRUE(w.finish(error)) << error;

    const auto got = readAll(path, "Types");
    ASSERT_EQ(got.size(), 2u);
    const auto& r = got[0];
    EXPECT_EQ(r[0].i, 200);
    EXPECT_EQ(r[1].i, -1234);
    EXPECT_EQ(r[2].i, -7);
    EXPECT_EQ(r[3].d, -12.3456);
    EXPECT_EQ(r[4].d, 0.1); // the Single as Access shows it
    EXPECT_EQ(r[5].d, -2.5e-300);
    EXPECT_EQ(r[6].s, "2024-01-31 18:00:00");
    EXPECT_EQ(r[7].d, -1234.5678);
    EXPECT_EQ(r[8].s, "\xCE\xB2 text");
    EXPECT_EQ(r[9].s, "memo \xC3\xA4");
    EXPECT_EQ(r[10].i, 1);
    EXPECT_EQ(r[11].s, "{12345678-9ABC-DEF0-0102-030405060708}");
    EXPECT_EQ(r[12].s, bytes({0, 1, 2, 0xFF}));
    EXPECT_EQ(r[13].s, std::string(5000, '\x7F'));
    for (size_t i = 0; i < got[1].size(); ++i)
        EXPECT_EQ(got[1][i].kind, i == 10 ? accessdb::Value::Integer : accessdb::Value::Null) << i;
    EXPECT_EQ(got[1][10].i, 0);

    // mdbtools' own reading of the same bytes.
    const auto e = mdbExport(path, "Types", "raw");
    ASSERT_EQ(e.size(), 2u);
    ASSERT_EQ(e[0].size(), row.size());
    EXPECT_EQ(e[0][0], "200");
    EXPECT_EQ(e[0][1], "-1234");
    EXPECT_EQ(e[0][2], "-7");
    EXPECT_EQ(std::stod(e[0][3]), -12.3456);
    EXPECT_EQ(std::stof(e[0][4]), 0.1f);
    EXPECT_EQ(e[0][5], g16(-2.5e-300));
    EXPECT_EQ(e[0][6], "2024-01-31 18:00:00");
    EXPECT_EQ(std::stod(e[0][7]), -1234.5678);
    EXPECT_EQ(e[0][8], "\xCE\xB2 text");
    EXPECT_EQ(e[0][9], "memo \xC3\xA4");
    EXPECT_EQ(e[0][10], "1");
    // libmdb groups the GUID's last 8 bytes as one; Access, and the engine, as 2 and 6.
    EXPECT_EQ(e[0][11], "{12345678-9ABC-DEF0-0102030405060708}");
}

} // namespace
