// The engine's reader on real Access files nobody here wrote (Jet 3 and Access 2007), checked
// against mdbtools' own mdb-export of the same tables.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "access_file.h"
#include "access_test_util.h"
#include "db_engine.h"

using namespace dbtest;
using accessdb::Value;

namespace {

struct Table {
    std::vector<accessdb::ColumnInfo> columns;
    std::vector<std::vector<Value>> rows;
};

Table load(const std::string& path, const std::string& name) {
    Table t;
    int code = 0;
    std::string error;
    auto file = accessdb::AccessFile::open(path, code, error);
    EXPECT_TRUE(file) << error;
    if (file) {
        EXPECT_TRUE(file->readTable(name, t.columns, [&](const std::vector<Value>& r) {
            t.rows.push_back(r);
            return true;
        }, code, error)) << error;
    }
    return t;
}

// Compares every value with mdb-export's text of it.
void expectSameAsMdbExport(const std::string& path, const std::string& name) {
    SCOPED_TRACE(name);
    const Table t = load(path, name);
    const auto e = mdbExport(path, name);
    ASSERT_EQ(t.rows.size(), e.size());
    for (size_t r = 0; r < e.size(); ++r) {
        ASSERT_EQ(e[r].size(), t.columns.size()) << "row " << r;
        for (size_t c = 0; c < t.columns.size(); ++c) {
            const Value& v = t.rows[r][c];
            const std::string& x = e[r][c];
            SCOPED_TRACE("row " + std::to_string(r) + " column " + t.columns[c].name + ": " + x);
            switch (t.columns[c].type) {
            case accessdb::kBinary:
            case accessdb::kOle:
                break; // left out of the export
            case accessdb::kMoney:
            case accessdb::kDouble:
                if (v.kind == Value::Null) EXPECT_EQ(x, "");
                else EXPECT_NEAR(std::stod(x), v.d, std::fabs(v.d) * 1e-15);
                break;
            case accessdb::kSingle:
                if (v.kind == Value::Null) EXPECT_EQ(x, "");
                else EXPECT_EQ(std::stof(x), float(v.d));
                break;
            default:
                EXPECT_EQ(v.kind == Value::Integer ? std::to_string(v.i) : v.s, x);
            }
        }
    }
}

TEST(AccessFile, Jet3ProductsWithCurrency) {
    const std::string nwind = testData("nwind.mdb");
    int code = 0;
    std::string error;
    auto file = accessdb::AccessFile::open(nwind, code, error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->version(), "JET3");
    std::vector<std::string> tables;
    ASSERT_TRUE(file->tables(tables, code, error)) << error;
    const std::vector<std::string> want = {"Categories", "Customers", "Employees",
                                           "Order Details", "Orders", "Products",
                                           "Shippers", "Suppliers", "Ums\xC3\xA4tze"};
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, want); // system tables are not listed; the code page's ä arrives as UTF-8

    const Table p = load(nwind, "products"); // any case
    ASSERT_EQ(p.rows.size(), 77u);
    ASSERT_EQ(p.columns[5].name, "UnitPrice");
    EXPECT_EQ(p.columns[5].type, accessdb::kMoney);
    EXPECT_EQ(p.rows[0][1].s, "Chai");
    EXPECT_EQ(p.rows[0][5].d, 18.0);
    double sum = 0;
    for (const auto& r : p.rows)
        sum += r[5].d;
    EXPECT_NEAR(sum, 2222.71, 1e-9); // the prices of the Northwind sample add up to this
    expectSameAsMdbExport(nwind, "Products");
}

TEST(AccessFile, Jet3TablesMatchMdbExport) {
    const std::string nwind = testData("nwind.mdb");
    for (const char* t : {"Ums\xC3\xA4tze", "Order Details", "Orders", "Shippers", "Customers",
                          "Employees", "Suppliers", "Categories"})
        expectSameAsMdbExport(nwind, t);
}

TEST(AccessFile, Access2007Table) {
    const std::string accdb = testData("ASampleDatabase.accdb");
    int code = 0;
    std::string error;
    auto file = accessdb::AccessFile::open(accdb, code, error);
    ASSERT_TRUE(file) << error;
    std::vector<std::string> tables;
    ASSERT_TRUE(file->tables(tables, code, error));
    EXPECT_EQ(tables, std::vector<std::string>{"Asset Items"});
    const Table t = load(accdb, "Asset Items");
    ASSERT_FALSE(t.rows.empty());
    EXPECT_EQ(t.columns[7].type, accessdb::kDateTime);
    EXPECT_EQ(t.columns[12].type, accessdb::kMemo);
    expectSameAsMdbExport(accdb, "Asset Items");

    std::vector<accessdb::ColumnInfo> cols;
    EXPECT_FALSE(file->columns("Molecules", cols, code, error));
    EXPECT_EQ(code, DB_SQL_ERROR);
}

TEST(AccessFile, TextForms) {
    // Compressed and plain UCS-2, mode switches, a surrogate pair, an unpaired one.
    const unsigned char packed[] = {0xFF, 0xFE, 'a', 0, 0xB2, 0x03, 0, 'b'};
    EXPECT_EQ(accessdb::decodeJet4Text(packed, sizeof packed), "a\xCE\xB2" "b");
    const unsigned char plain[] = {'x', 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xDC};
    EXPECT_EQ(accessdb::decodeJet4Text(plain, sizeof plain), "x\xF0\x9F\x98\x80\xEF\xBF\xBD");
    EXPECT_EQ(accessdb::oleDateText(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(accessdb::oleDateText(45322.75), "2024-01-31 18:00:00");
    EXPECT_EQ(accessdb::oleDateText(-1.25), "1899-12-29 06:00:00"); // days back, time forward
    EXPECT_EQ(accessdb::oleDateText(36526.99999999), "2000-01-02 00:00:00");
}

TEST(AccessFile, DamagedFilesFoundByFuzzing) {
    // The files of the fuzz corpus that once crashed the reader (regress-*): each ends in
    // rows of one value per column or in "damaged" with DB_NOT_A_DATABASE (also under
    // ASan/UBSan, where a null value's offset outside the page once showed); the tables
    // listed have names.
    const std::filesystem::path dir =
        std::filesystem::path(TW_SOURCE_DIR) / "tests/fuzz/corpus/access_file";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind("regress-", 0) != 0) continue;
        ++files;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        int code = 0;
        std::string error;
        auto file = accessdb::AccessFile::open(path, code, error);
        if (!file) {
            EXPECT_EQ(code, DB_NOT_A_DATABASE);
            continue;
        }
        std::vector<std::string> tables;
        if (!file->tables(tables, code, error)) {
            EXPECT_EQ(code, DB_NOT_A_DATABASE);
            EXPECT_NE(error.find("is damaged"), std::string::npos) << error;
            continue;
        }
        for (const std::string& t : tables) {
            EXPECT_FALSE(t.empty()) << "a table without a name"; // a name starting with NUL
            std::vector<accessdb::ColumnInfo> cols;
            if (!file->readTable(t, cols, [&](const std::vector<Value>& row) {
                    EXPECT_EQ(row.size(), cols.size());
                    return true;
                }, code, error)) {
                EXPECT_EQ(code, DB_NOT_A_DATABASE) << t;
                EXPECT_NE(error.find("is damaged"), std::string::npos) << error;
            }
        }
    }
    EXPECT_GT(files, 0) << "no regress-* files in " << dir;
}

} // namespace
