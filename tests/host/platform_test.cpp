// Dynamic strings and settings files.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>
#include <vector>

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

TEST(Profile, WritingKeepsTheModeAndOwnerOfTheFile) {
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/private.ini";
    std::ofstream(ini) << "[Tarvish]\nToken=secret\n";
    ASSERT_EQ(0, ::chmod(ini.c_str(), 0600));
    // Only root can give a file to someone else; anyone else checks that
    // the file stays theirs.
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        uid = 4242;
        gid = 4243;
        ASSERT_EQ(0, ::chown(ini.c_str(), uid, gid));
    }
    ASSERT_TRUE(twprofile::writeString(ini, "Quorvel", "MASS", "301.5"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(ini.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(uid, st.st_uid);
    EXPECT_EQ(gid, st.st_gid);
    ASSERT_EQ(0, ::chmod(ini.c_str(), 0640));
    ASSERT_TRUE(twprofile::writeString(ini, "Quorvel", "MASS", "302"));
    ASSERT_EQ(0, ::stat(ini.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ("[Tarvish]\nToken=secret\n\n[Quorvel]\nMASS=302\n", slurp(ini));
    EXPECT_EQ(1u, std::distance(std::filesystem::directory_iterator(dir.path().toStdString()),
                                std::filesystem::directory_iterator()))
        << "a temporary file was left behind";
}

TEST(Profile, WritingThroughASymlinkUpdatesItsTargetAndKeepsTheLink) {
    namespace fs = std::filesystem;
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    fs::create_directory(root + "/dotfiles");
    std::ofstream(root + "/dotfiles/tarvish.ini") << "[Tarvish]\nLanguage=german\n";
    ASSERT_EQ(0, ::chmod((root + "/dotfiles/tarvish.ini").c_str(), 0600));
    // settings.ini -> dotfiles/tarvish.ini (relative), link.ini -> settings.ini (absolute)
    fs::create_symlink("dotfiles/tarvish.ini", root + "/settings.ini");
    fs::create_symlink(root + "/settings.ini", root + "/link.ini");
    ASSERT_TRUE(twprofile::writeString(root + "/link.ini", "Quorvel", "MASS", "301.5"));
    EXPECT_TRUE(fs::is_symlink(root + "/link.ini"));
    EXPECT_TRUE(fs::is_symlink(root + "/settings.ini"));
    EXPECT_EQ("dotfiles/tarvish.ini", fs::read_symlink(root + "/settings.ini").string());
    EXPECT_EQ("[Tarvish]\nLanguage=german\n\n[Quorvel]\nMASS=301.5\n", slurp(root + "/dotfiles/tarvish.ini"));
    struct stat st {};
    ASSERT_EQ(0, ::stat((root + "/dotfiles/tarvish.ini").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ("301.5", twprofile::readString(root + "/settings.ini", "Quorvel", "MASS", ""));
    EXPECT_EQ(1u, std::distance(fs::directory_iterator(root + "/dotfiles"), fs::directory_iterator()));

    // A link to a file not yet there creates the file; a loop of links is refused.
    fs::create_symlink("dotfiles/later.ini", root + "/later.ini");
    ASSERT_TRUE(twprofile::writeString(root + "/later.ini", "Quorvel", "PPM", "5"));
    EXPECT_TRUE(fs::is_symlink(root + "/later.ini"));
    EXPECT_EQ("[Quorvel]\nPPM=5\n", slurp(root + "/dotfiles/later.ini"));
    fs::create_symlink("loop2.ini", root + "/loop1.ini");
    fs::create_symlink("loop1.ini", root + "/loop2.ini");
    EXPECT_FALSE(twprofile::writeString(root + "/loop1.ini", "Quorvel", "PPM", "5"));
}

TEST(Profile, NamesThatWouldWriteOtherEntriesAreRefused) {
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/t.ini";
    const std::string original = "[Quorvel]\nMASS=1\n[Tarvish]\nLanguage=italian\n";
    std::ofstream(ini) << original;
    const struct {
        const char* section;
        const char* key;
    } bad[] = {
        {"Quorvel", "X\nMASS"},         {"Quorvel", "X\r\n[Tarvish]\r\nLanguage"}, {"Quorvel", "MASS=2\nPPM"},
        {"Quorvel", "a=b"},             {"Quorvel\n[Tarvish]", "Language"},       {"Quorvel]\nMASS=2\n[x", "k"},
        {"Tar\rvish", "Language"},      {"Quorvel", "[Tarvish]"},                 {"Quorvel", "; note"},
        {"Quorvel", "#x"},              {"", "MASS"},                             {"Quorvel", "  "},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(twprofile::writeString(ini, b.section, b.key, "2")) << b.section << " / " << b.key;
        EXPECT_EQ(original, slurp(ini)) << b.section << " / " << b.key;
    }
    EXPECT_EQ("1", twprofile::readString(ini, "Quorvel", "MASS", ""));
    EXPECT_EQ("italian", twprofile::readString(ini, "Tarvish", "Language", ""));
    // Blanks, brackets and other punctuation inside a name are fine.
    ASSERT_TRUE(twprofile::writeString(ini, "My (old) data", "Last file [1]", "a=b"));
    EXPECT_EQ("a=b", twprofile::readString(ini, "my (OLD) data", "last file [1]", ""));
}

// Found by fuzzing: the reader drops blanks around names, so a name written with them was
// written but never found again (and a section " Quorvel" ended up as [Quorvel]).
TEST(Profile, NamesWithBlanksAroundThemAreRefused) {
    QTemporaryDir dir;
    const std::string ini = dir.path().toStdString() + "/t.ini";
    const std::string original = "[Quorvel]\nMASS=1\n";
    std::ofstream(ini) << original;
    for (const auto& [section, key] : std::vector<std::pair<std::string, std::string>>{
             {"Quorvel ", "PPM"}, {" Quorvel", "PPM"}, {"\tQuorvel", "PPM"}, {"Quorvel", "MASS "},
             {"Quorvel", " MASS"}, {"Quorvel", "PPM\t"}}) {
        EXPECT_FALSE(twprofile::writeString(ini, section, key, "2")) << section << " / " << key;
        EXPECT_EQ(original, slurp(ini)) << section << " / " << key;
    }
    ASSERT_TRUE(twprofile::writeString(ini, "Quorvel", "Max results", "7"));
    EXPECT_EQ("7", twprofile::readString(ini, "quorvel", "max RESULTS", ""));
}

} // namespace
