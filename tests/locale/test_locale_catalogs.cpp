// The catalogs shipped in the build tree: complete, well-formed, and faithful
// to the built-in English texts in every format conversion and accelerator.
#include "locale_test_util.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using loctest::CatalogHandle;
using loctest::lastErrorText;

namespace {

// The built-in English table: ids 0..59, 6 unused.
const std::map<int, std::string> kEnglish = {
    {0, "Translation by Orlavik"},
    {1, "&Default"},
    {2, "&Ok"},
    {3, "&Search"},
    {4, "&Update"},
    {5, "Mass spectrometry plug-in for Tarvish"},
    {7, "About Quorvel"},
    {8, "Choose the database"},
    {9, "Experimental data"},
    {10, "Isotopic distribution"},
    {11, "Search options"},
    {12, "Molecules found"},
    {13, "Database:"},
    {14, "The data must be in mass and probability % format."},
    {15, "Number of molecules:"},
    {16, "Monoisotopic mass:"},
    {17, "Max. results:"},
    {18, "ppm"},
    {19, "Formula"},
    {20, "Mass"},
    {21, "Name"},
    {22, "&Copy chart"},
    {23, "Copy &data"},
    {24, "&Edit"},
    {25, "&Print"},
    {26, "&Send to exp."},
    {27, "&Zoom"},
    {28, "&In"},
    {29, "&Out"},
    {30, "&Reset"},
    {31, "Copy &all"},
    {32, "Copy &SMILES"},
    {33, "Copy &row"},
    {34, "Send to &Excel"},
    {35, "&Isotopic distribution"},
    {36, "&Save as ..."},
    {37, "&Show 3D structure"},
    {38, "Comma Separated Values (*.csv)|*.csv|Data Interchange Format (*.dif)|*.dif"},
    {39, "Save results ..."},
    {40, "Isotopic distribution"},
    {41, "2D structure"},
    {42, "Mass spectrometry tool"},
    {43, "&Copy"},
    {44, "Cu&t"},
    {45, "&Delete"},
    {46, "&Paste"},
    {47, "&Select all"},
    {48, "&Undo"},
    {49, "Mass %.6lf \xc2\xb1 %.3lf ppm"},
    {50, "Excel driver initialization failed"},
    {51, "Quorvel error:"},
    {52, "Locale.dll error:\n%s"},
    {53, "About Quorvel"},
    {54, "Can't write the file"},
    {55, "Out of memory"},
    {56, "Can't open the help file"},
    {57, "Quorvel print job"},
    {58, "No spreadsheet program could open the workbook.\nIt was saved as:\n%s\n\nSave a copy elsewhere?"},
    {59, "Excel workbook (*.xlsx)|*.xlsx"},
};

const char* const kLanguages[] = {"english", "italian", "german"};

// Menus and button rows whose accelerators must differ within each group.
const std::vector<std::vector<int>> kAcceleratorGroups = {
    {1, 3, 4},                    // main dialog buttons
    {37, 35, 36, 43, 33, 31, 34}, // results popup
    {24, 27, 25},                 // chart popup
    {22, 23, 26},                 // chart popup, Edit submenu
    {28, 29, 30},                 // chart popup, Zoom submenu
    {48, 44, 43, 46, 45, 47},     // edit-field popup
    {43, 32, 25},                 // structure preview popup
};

// The printf conversions of a text, in order. A "%" that starts no conversion
// (such as "probability % format", where a space follows) stays a literal "%"
// token, so translations keep it too; "%%" is ignored.
std::vector<std::string> conversions(const std::string& s) {
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') continue;
        if (i + 1 < s.size() && s[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < s.size() && std::strchr("-+#0'", s[j]))
            ++j;
        while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '*'))
            ++j;
        if (j < s.size() && s[j] == '.') {
            ++j;
            while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '*'))
                ++j;
        }
        while (j < s.size() && std::strchr("hlLqjzt", s[j]))
            ++j;
        if (j < s.size() && std::strchr("diouxXeEfFgGaAcspn", s[j])) {
            out.push_back(s.substr(i, j + 1 - i));
            i = j;
        } else {
            out.push_back("%");
        }
    }
    return out;
}

// Accelerator letters ("&x"; "&&" is a literal ampersand), lower-cased.
std::vector<std::string> accelerators(const std::string& s) {
    std::vector<std::string> out;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != '&') continue;
        if (s[i + 1] == '&') {
            ++i;
            continue;
        }
        size_t n = 1;
        unsigned char c = static_cast<unsigned char>(s[i + 1]);
        if (c >= 0xf0) {
            n = 4;
        } else if (c >= 0xe0) {
            n = 3;
        } else if (c >= 0xc0) {
            n = 2;
        }
        std::string letter = s.substr(i + 1, n);
        if (n == 1) letter[0] = static_cast<char>(std::tolower(c));
        out.push_back(letter);
    }
    return out;
}

std::string catalogFile(const char* lang) {
    return std::string(TW_BUILD_DIR) + "/Locale/" + lang + "/QUORVEL.catalog";
}

// The ids a catalog file defines, read without the library.
std::set<int> idsInFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path;
    std::set<int> ids;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("\xef\xbb\xbf#")) continue;
        const int sep = line.indexOf('\t') >= 0 ? line.indexOf('\t') : line.indexOf(' ');
        bool ok = false;
        const int id = line.left(sep).toInt(&ok);
        EXPECT_TRUE(ok) << path << ": " << line.toStdString();
        ids.insert(id);
    }
    return ids;
}

class ShippedCatalog : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedCatalog, HoldsExactlyTheBuiltInIds) {
    const char* lang = GetParam();
    ASSERT_TRUE(QFile::exists(QString::fromStdString(catalogFile(lang)))) << catalogFile(lang);
    std::set<int> expected;
    for (const auto& [id, text] : kEnglish)
        expected.insert(id);
    ASSERT_EQ(expected.size(), 59u);
    EXPECT_EQ(expected.count(6), 0u);
    EXPECT_EQ(idsInFile(catalogFile(lang)), expected);

    CatalogHandle c(LocOpenCat("QUORVEL.catalog", TW_BUILD_DIR "/", lang, 0, nullptr));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    EXPECT_EQ(LocGetErr(), LOC_ERR_NONE);
    const char* missing = "<missing>";
    for (int id = -1; id <= 60; ++id) {
        const bool present = kEnglish.count(id) != 0;
        EXPECT_EQ(c.get(id, missing) != missing, present) << lang << " id " << id;
    }
}

TEST_P(ShippedCatalog, KeepsConversionsAcceleratorsAndNames) {
    const char* lang = GetParam();
    CatalogHandle c(LocOpenCat("QUORVEL.catalog", TW_BUILD_DIR "/", lang, 0, nullptr));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    const char* const names[] = {"Quorvel", "Tarvish", "Excel", "Locale.dll", "SMILES"};
    for (const auto& [id, english] : kEnglish) {
        const char* got = c.get(id);
        ASSERT_NE(got, nullptr) << lang << " id " << id;
        const std::string text = got;
        SCOPED_TRACE(std::string(lang) + " id " + std::to_string(id) + ": " + text);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(conversions(text), conversions(english));
        EXPECT_EQ(accelerators(text).size(), accelerators(english).size());
        EXPECT_LE(accelerators(text).size(), 1u);
        for (const char* name : names) {
            if (english.find(name) != std::string::npos) {
                EXPECT_NE(text.find(name), std::string::npos) << name;
            }
        }
    }
    EXPECT_NE(std::string(c.get(49)).find("\xc2\xb1"), std::string::npos);
    EXPECT_NE(std::string(c.get(52)).find('\n'), std::string::npos);
    EXPECT_NE(std::string(c.get(0)).find("Orlavik"), std::string::npos);

    // File filter: description|pattern pairs with the patterns unchanged.
    const std::string filter = c.get(38);
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        size_t bar = filter.find('|', start);
        fields.push_back(filter.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    ASSERT_EQ(fields.size(), 4u) << filter;
    EXPECT_EQ(fields[1], "*.csv");
    EXPECT_EQ(fields[3], "*.dif");
    EXPECT_NE(fields[0].find("(*.csv)"), std::string::npos);
    EXPECT_NE(fields[2].find("(*.dif)"), std::string::npos);
}

TEST(ShippedCatalogs, EnglishIsTheBuiltInTable) {
    CatalogHandle c(LocOpenCat("QUORVEL.catalog", TW_BUILD_DIR "/", "english", 0, nullptr));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    for (const auto& [id, text] : kEnglish)
        EXPECT_STREQ(c.get(id), text.c_str()) << "id " << id;
}

TEST(ShippedCatalogs, TranslationsAreTranslatedWithDistinctAccelerators) {
    for (const char* lang : {"italian", "german"}) {
        CatalogHandle c(LocOpenCat("QUORVEL.catalog", TW_BUILD_DIR "/", lang, 0, nullptr));
        ASSERT_NE(c.cat, nullptr) << lastErrorText();
        int unchanged = 0;
        for (const auto& [id, text] : kEnglish)
            unchanged += text == c.get(id);
        // Only words both languages share ("ppm", "Name", "&Zoom", ...) may stay.
        EXPECT_LE(unchanged, 6) << lang;
        EXPECT_NE(std::string(c.get(0)), kEnglish.at(0)) << lang;

        // The English table itself repeats "S" in the results popup; the
        // translations do not.
        for (const auto& group : kAcceleratorGroups) {
            std::set<std::string> seen;
            for (int id : group) {
                const auto acc = accelerators(c.get(id));
                ASSERT_EQ(acc.size(), 1u) << lang << " id " << id;
                EXPECT_TRUE(seen.insert(acc[0]).second)
                    << lang << ": accelerator '" << acc[0] << "' of id " << id << " repeats";
            }
        }
    }
}

TEST(ShippedCatalogs, ConversionScannerFindsWhatPrintfWouldUse) {
    using V = std::vector<std::string>;
    EXPECT_EQ(conversions("Mass %.6lf x %.3lf ppm"), (V{"%.6lf", "%.3lf"}));
    EXPECT_EQ(conversions("a %s b %-10d %%"), (V{"%s", "%-10d"}));
    EXPECT_EQ(conversions("probability % format."), (V{"%"}));
    EXPECT_EQ(accelerators("Cu&t && more"), (V{"t"}));
    EXPECT_EQ(accelerators("&L\xc3\xb6schen"), (V{"l"}));
    EXPECT_EQ(accelerators("Ver&gr\xc3\xb6\xc3\x9f"), (V{"g"}));
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedCatalog, ::testing::ValuesIn(kLanguages));

} // namespace
