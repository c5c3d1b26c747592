// Dynamic strings and settings files.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <clocale>
#include <fstream>
#include <sstream>

#include "profile.h"
#include "zenfab.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Zenfab, FormatsLikePrintfAndInsertsStringsWithPercentA) {
    ZF_Str* dir = _ZF_StrNew();
    ZF_Str* s = _ZF_StrNew();
    ASSERT_NE(nullptr, s);
    EXPECT_STREQ("", s->Text);
    EXPECT_EQ(0, s->Length);
    _ZF_StrSetC(dir, "/data/");
    EXPECT_EQ(29, _ZF_StrPrintC(s, "DbOpen \"%aDatabases\\%s\"", dir, "x.db"));
    EXPECT_STREQ("DbOpen \"/data/Databases\\x.db\"", s->Text);
    _ZF_StrPrintC(s, "%5d|%-4s|%.3lf|%x|%lld|%%|%c|%zu|%10a|", 42, "ab", 1.23456, 255, -5ll, 'q',
                  static_cast<size_t>(7), dir);
    EXPECT_STREQ("   42|ab  |1.235|ff|-5|%|q|7|    /data/|", s->Text);
    // A string may take part in its own next value.
    _ZF_StrPrintC(s, "%a%a", s, dir);
    EXPECT_STREQ("   42|ab  |1.235|ff|-5|%|q|7|    /data/|/data/", s->Text);
    std::string big(5000, 'z');
    EXPECT_EQ(5002, _ZF_StrPrintC(s, "<%s>", big.c_str()));
    EXPECT_EQ(5002, s->Length);
    _ZF_StrFree(s);
    _ZF_StrFree(dir);
    _ZF_StrFree(nullptr);
}

TEST(Zenfab, NumbersUseAPointUnderACommaLocale) {
    std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(nullptr, std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        << "the de_DE.UTF-8 locale is needed: localedef -i de_DE -f UTF-8 de_DE.UTF-8";
    ZF_Str* s = _ZF_StrNew();
    _ZF_StrPrintC(s, "%lf %.2e %g", 300.132219, 1234.5, 0.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_STREQ("300.132219 1.23e+03 0.5", s->Text);
    _ZF_StrFree(s);
}

TEST(Zenfab, CompareIgnoresAsciiCaseOnly) {
    ZF_Str* s = _ZF_StrNew();
    _ZF_StrSetC(s, "Access2000");
    EXPECT_EQ(0, _ZF_StriCmpC(s, "ACCESS2000"));
    EXPECT_NE(0, _ZF_StriCmpC(s, "ACCESS"));
    EXPECT_LT(_ZF_StriCmpC(s, "b"), 0);
    EXPECT_NE(0, _ZF_StriCmpC(s, nullptr));
    _ZF_StrSetC(s, nullptr);
    EXPECT_EQ(0, _ZF_StriCmpC(s, ""));
    _ZF_StrFree(s);
}

TEST(Profile, ReadsCaseInsensitivelyWithDefaults) {
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/t.ini";
    EXPECT_EQ("dflt", twprofile::readString(ini, "Quorvel", "MASS", "dflt"));
    std::ofstream(ini) << "; comment\n[Other]\nMASS=1\n[quorvel]\n  mass = 301.5 \nPPM=\"2\"\n";
    EXPECT_EQ("301.5", twprofile::readString(ini, "Quorvel", "MASS", "x"));
    EXPECT_EQ("2", twprofile::readString(ini, "QUORVEL", "ppm", "x"));
    EXPECT_EQ("x", twprofile::readString(ini, "Quorvel", "DATABASE", "x"));
    EXPECT_EQ("x", twprofile::readString(ini, "Missing", "MASS", "x"));
}

TEST(Profile, WritingOneKeyKeepsTheRestOfTheFile) {
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/t.ini";
    const std::string original = "; user's notes\n[Tarvish]\nLanguage=italian\n\n[Quorvel]\nMASS=1\n; keep me\nPPM=2\n\n[Last]\nk=v\n";
    std::ofstream(ini) << original;
    ASSERT_TRUE(twprofile::writeString(ini, "QUORVEL", "mass", "301.5"));
    ASSERT_TRUE(twprofile::writeString(ini, "Quorvel", "DATABASE", "Drugs"));
    ASSERT_TRUE(twprofile::writeString(ini, "New", "A", "line\nbreak"));
    EXPECT_EQ("; user's notes\n[Tarvish]\nLanguage=italian\n\n[Quorvel]\nmass=301.5\n; keep me\nPPM=2\n"
              "DATABASE=Drugs\n\n[Last]\nk=v\n\n[New]\nA=line break\n",
              slurp(ini));
    EXPECT_EQ("Drugs", twprofile::readString(ini, "quorvel", "database", ""));
    // A file that does not exist yet is created.
    const std::string fresh = dir.path().toStdString() + "/new.ini";
    ASSERT_TRUE(twprofile::writeString(fresh, "Quorvel", "PPM", "5"));
    EXPECT_EQ("[Quorvel]\nPPM=5\n", slurp(fresh));
    EXPECT_FALSE(twprofile::writeString(dir.path().toStdString() + "/no/such/dir/x.ini", "a", "b", "c"));
}

} // namespace
