// Behaviour of the catalog library on catalogs written by the tests.
#include "locale_test_util.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <unistd.h>

using loctest::CatalogHandle;
using loctest::lastErrorText;
using loctest::writeCatalog;

namespace {

const char* const kName = "QUORVEL.catalog";

class LocaleApi : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    std::string dir() const { return (tmp.path() + "/").toStdString(); }
    std::string pathOf(const char* lang) const {
        return (tmp.path() + "/Locale/" + lang + "/" + kName).toStdString();
    }
    void* open(const char* lang, int flags = 0, const char* fallback = nullptr) {
        return LocOpenCat(kName, dir().c_str(), lang, flags, fallback);
    }
    // Opens a catalog that must fail to parse; returns the error text.
    std::string parseError(const QByteArray& bytes) {
        EXPECT_TRUE(writeCatalog(tmp.path(), "bad", bytes));
        void* cat = open("bad");
        EXPECT_EQ(cat, nullptr);
        LocCloseCat(cat);
        EXPECT_EQ(LocGetErr(), LOC_ERR_PARSE);
        return lastErrorText();
    }
    QTemporaryDir tmp;
};

TEST_F(LocaleApi, LooksUpTextsAndDecodesEscapes) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "english",
                             "# header\n"
                             "\n"
                             "   \t\n"
                             "1\tLine\\nbreak\\ttab\\\\back\n"
                             "-7   spaces before, trailing kept \n"
                             "  # indented comment\n"
                             "2147483647\tmax\n"
                             "-2147483648\tmin\n"
                             "12\n"
                             "13\t\n"
                             "14\tcrlf\r\n"
                             "15\t100 % ± ü\n"
                             "16\tlast line without newline"));
    CatalogHandle c(open("english"));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    EXPECT_EQ(LocGetErr(), LOC_ERR_NONE);
    EXPECT_EQ(lastErrorText(), "");

    EXPECT_STREQ(c.get(1), "Line\nbreak\ttab\\back");
    EXPECT_STREQ(c.get(-7), "spaces before, trailing kept ");
    EXPECT_STREQ(c.get(2147483647), "max");
    EXPECT_STREQ(c.get(-2147483648), "min");
    EXPECT_STREQ(c.get(12, "default"), "");
    EXPECT_STREQ(c.get(13, "default"), "");
    EXPECT_STREQ(c.get(14), "crlf");
    EXPECT_STREQ(c.get(15), "100 % \xc2\xb1 \xc3\xbc");
    EXPECT_STREQ(c.get(16), "last line without newline");

    // Missing ids give the default pointer itself, null included.
    const char* def = "built-in";
    EXPECT_EQ(c.get(2, def), def);
    EXPECT_EQ(c.get(0, nullptr), nullptr);

    // The same stable pointer on every lookup.
    const char* first = c.get(1);
    for (int i = 0; i < 100; ++i)
        c.get(i);
    EXPECT_EQ(c.get(1), first);
}

TEST_F(LocaleApi, NullCatalogGivesDefaultAndCloseIsHarmless) {
    const char* def = "built-in";
    EXPECT_EQ(LocGetCatStr(nullptr, 3, def), def);
    EXPECT_EQ(LocGetCatStr(nullptr, 3, nullptr), nullptr);
    LocCloseCat(nullptr);
}

TEST_F(LocaleApi, AClosedCatalogStaysClosed) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "english", "1\tone\n"));
    ASSERT_TRUE(writeCatalog(tmp.path(), "italian", "1\tuno\n"));
    void* first = open("english");
    ASSERT_NE(first, nullptr) << lastErrorText();
    LocCloseCat(first);
    // The catalogs opened next may well take the memory of the one just
    // closed; a second close of the old handle, and lookups through it,
    // must reach none of them.
    std::vector<void*> later;
    for (int i = 0; i < 8; ++i) {
        later.push_back(open(i % 2 ? "english" : "italian"));
        ASSERT_NE(later.back(), nullptr) << lastErrorText();
    }
    LocCloseCat(first);
    EXPECT_STREQ(LocGetCatStr(first, 1, "default"), "default");
    for (int i = 0; i < 8; ++i)
        EXPECT_STREQ(LocGetCatStr(later[i], 1, "default"), i % 2 ? "one" : "uno") << i;
    for (void* c : later) {
        LocCloseCat(c);
        LocCloseCat(c);
        EXPECT_STREQ(LocGetCatStr(c, 1, "default"), "default");
    }
    // A pointer that never was a catalog is no catalog either.
    int notACatalog = 0;
    LocCloseCat(&notACatalog);
    EXPECT_STREQ(LocGetCatStr(&notACatalog, 1, "default"), "default");
}

TEST_F(LocaleApi, LanguageIsCaseInsensitiveAndSeparatorOptional) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "italian", "1\tuno\n"));
    CatalogHandle upper(open("ITALIAN"));
    ASSERT_NE(upper.cat, nullptr) << lastErrorText();
    EXPECT_STREQ(upper.get(1), "uno");

    // Directory without its trailing separator.
    const std::string bare = tmp.path().toStdString();
    CatalogHandle noSep(LocOpenCat(kName, bare.c_str(), "Italian", 0, nullptr));
    ASSERT_NE(noSep.cat, nullptr) << lastErrorText();
    EXPECT_STREQ(noSep.get(1), "uno");
}

TEST_F(LocaleApi, FallsBackOnlyWhenAskedAndNeeded) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "english", "1\tone\n"));
    ASSERT_TRUE(writeCatalog(tmp.path(), "german", "1\teins\n"));

    { // The language's own catalog wins over the fallback.
        CatalogHandle c(open("german", LOC_FLAG_FALLBACK, "english"));
        ASSERT_NE(c.cat, nullptr);
        EXPECT_STREQ(c.get(1), "eins");
    }
    { // Missing language, fallback asked: the fallback, and no error.
        CatalogHandle c(open("italian", LOC_FLAG_FALLBACK, "English"));
        ASSERT_NE(c.cat, nullptr) << lastErrorText();
        EXPECT_EQ(LocGetErr(), LOC_ERR_NONE);
        EXPECT_STREQ(c.get(1), "one");
    }
    // Fallback not asked: flag clear, or no fallback name.
    EXPECT_EQ(open("italian", 0, "english"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
    EXPECT_EQ(open("italian", LOC_FLAG_FALLBACK, ""), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
    EXPECT_EQ(open("italian", LOC_FLAG_FALLBACK, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
    EXPECT_NE(lastErrorText().find(pathOf("italian")), std::string::npos);

    // Neither the language nor the fallback.
    EXPECT_EQ(open("italian", LOC_FLAG_FALLBACK, "french"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_FALLBACK);
    EXPECT_NE(lastErrorText().find(pathOf("french")), std::string::npos);

    // An empty language is one without a catalog.
    CatalogHandle c(open("", LOC_FLAG_FALLBACK, "english"));
    ASSERT_NE(c.cat, nullptr);
    EXPECT_STREQ(c.get(1), "one");
    EXPECT_EQ(open("", 0, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);

    // The whole Locale folder missing is the ordinary case too.
    QTemporaryDir empty;
    const std::string emptyDir = (empty.path() + "/").toStdString();
    EXPECT_EQ(LocOpenCat(kName, emptyDir.c_str(), "english", 1, "english"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_FALLBACK);
}

TEST_F(LocaleApi, SuccessClearsThePreviousError) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "english", "1\tone\n"));
    EXPECT_EQ(open("italian"), nullptr);
    ASSERT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
    CatalogHandle c(open("english"));
    ASSERT_NE(c.cat, nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NONE);
    EXPECT_EQ(lastErrorText(), "");
    // Lookups leave the error state alone.
    EXPECT_EQ(open("italian"), nullptr);
    c.get(1);
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
}

TEST_F(LocaleApi, UnreadableFileIsAFaultNotAFallback) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "english", "1\tone\n"));
    // A folder where the file should be: unreadable for every user, root too.
    ASSERT_TRUE(QDir().mkpath(tmp.path() + "/Locale/italian/" + kName));
    EXPECT_EQ(open("italian", LOC_FLAG_FALLBACK, "english"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_READ);
    const std::string text = lastErrorText();
    EXPECT_EQ(text.rfind(pathOf("italian") + ": ", 0), 0u) << text;
    EXPECT_NE(text.find("folder"), std::string::npos) << text;

    // The fallback's file broken the same way.
    ASSERT_TRUE(QDir().mkpath(tmp.path() + "/Locale/german/" + kName));
    EXPECT_EQ(open("french", LOC_FLAG_FALLBACK, "german"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_READ);
    EXPECT_NE(lastErrorText().find(pathOf("german")), std::string::npos);

    // Permissions stop only ordinary users; root reads anyway.
    if (::geteuid() != 0) {
        ASSERT_TRUE(writeCatalog(tmp.path(), "danish", "1\ten\n"));
        ASSERT_EQ(::chmod(pathOf("danish").c_str(), 0), 0);
        EXPECT_EQ(open("danish", LOC_FLAG_FALLBACK, "english"), nullptr);
        EXPECT_EQ(LocGetErr(), LOC_ERR_READ);
        EXPECT_NE(lastErrorText().find(pathOf("danish")), std::string::npos);
    }
}

TEST_F(LocaleApi, ParseErrorsNameFileAndLine) {
    const std::string bad = pathOf("bad");
    EXPECT_EQ(parseError("# c\n1\tok\n2\tbad \\q escape\n"), bad + ": line 3: unknown escape \\q");
    EXPECT_EQ(parseError("1\ttrailing \\\n"), bad + ": line 1: backslash at the end of the line");
    EXPECT_EQ(parseError("\n\nno id here\n"), bad + ": line 3: missing id");
    EXPECT_EQ(parseError("1\tx\n-\tminus only\n"), bad + ": line 2: missing id");
    EXPECT_EQ(parseError("12abc\n"), bad + ": line 1: expected a tab or space after the id");
    EXPECT_EQ(parseError("+5\tplus\n"), bad + ": line 1: missing id");
    EXPECT_EQ(parseError("2147483648\tbig\n"), bad + ": line 1: id out of range");
    EXPECT_EQ(parseError("-2147483649\tsmall\n"), bad + ": line 1: id out of range");
    EXPECT_EQ(parseError("99999999999999999999\thuge\n"), bad + ": line 1: id out of range");
    EXPECT_EQ(parseError("1\ta\n# x\n2\tb\n1\tagain\n"),
              bad + ": line 4: duplicate id 1 (first on line 1)");
    EXPECT_EQ(parseError("1\tok\r\n2\t\\x\r\n"), bad + ": line 2: unknown escape \\x");
    EXPECT_EQ(parseError("1\t\\\xc3\xbc\n"), bad + ": line 1: unknown escape \\\xc3\xbc");
}

TEST_F(LocaleApi, InvalidUtf8AndNulAreRejected) {
    const std::string bad = pathOf("bad");
    const std::string invalid = ": invalid UTF-8";
    EXPECT_EQ(parseError("1\tok\n2\t\xff\n"), bad + ": line 2" + invalid);
    EXPECT_EQ(parseError("1\t\xc0\xaf overlong\n"), bad + ": line 1" + invalid);
    EXPECT_EQ(parseError("1\t\xe0\x80\xaf overlong\n"), bad + ": line 1" + invalid);
    EXPECT_EQ(parseError("1\t\xed\xa0\x80 surrogate\n"), bad + ": line 1" + invalid);
    EXPECT_EQ(parseError("1\t\xf4\x90\x80\x80 above U+10FFFF\n"), bad + ": line 1" + invalid);
    EXPECT_EQ(parseError("1\tcut \xc3\n2\tx\n"), bad + ": line 1" + invalid);
    EXPECT_EQ(parseError("# comment \x80\n"), bad + ": line 1" + invalid);
    EXPECT_EQ(parseError(QByteArray("1\tok\n2\ta\0b\n", 11)), bad + ": line 2: NUL character");

    // The longest valid forms pass.
    ASSERT_TRUE(writeCatalog(tmp.path(), "good", "1\t\xf4\x8f\xbf\xbf \xef\xbf\xbd \xdf\xbf\n"));
    CatalogHandle c(open("good"));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    EXPECT_STREQ(c.get(1), "\xf4\x8f\xbf\xbf \xef\xbf\xbd \xdf\xbf");
}

TEST_F(LocaleApi, ByteOrderMarkIsSkippedOnlyAtTheStart) {
    ASSERT_TRUE(writeCatalog(tmp.path(), "english",
                             "\xef\xbb\xbf"
                             "1\tone\n2\ttwo\n"));
    CatalogHandle c(open("english"));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    EXPECT_STREQ(c.get(1), "one");
    EXPECT_STREQ(c.get(2), "two");
    EXPECT_EQ(parseError("1\tone\n\xef\xbb\xbf"
                         "2\ttwo\n"),
              pathOf("bad") + ": line 2: missing id");
}

TEST_F(LocaleApi, FileSizeIsLimited) {
    // Exactly the limit: comment lines of 64 bytes.
    QByteArray line(63, 'x');
    line[0] = '#';
    line += '\n';
    QByteArray atLimit = line.repeated(LOC_MAX_FILE_SIZE / line.size());
    ASSERT_EQ(atLimit.size(), LOC_MAX_FILE_SIZE);
    atLimit.replace(0, 8, "1\tfits\n#"); // same size: line 2 stays a comment
    ASSERT_TRUE(writeCatalog(tmp.path(), "english", atLimit));
    CatalogHandle c(open("english"));
    ASSERT_NE(c.cat, nullptr) << lastErrorText();
    EXPECT_STREQ(c.get(1), "fits");

    const std::string text = parseError(atLimit + "\n");
    EXPECT_EQ(text, pathOf("bad") + ": file larger than 4 MiB");
}

TEST_F(LocaleApi, BadArguments) {
    const std::string d = dir();
    EXPECT_EQ(LocOpenCat(nullptr, d.c_str(), "english", 0, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);
    EXPECT_NE(lastErrorText().find("catalog name"), std::string::npos);
    EXPECT_EQ(LocOpenCat(kName, nullptr, "english", 0, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);
    EXPECT_EQ(LocOpenCat(kName, d.c_str(), nullptr, 1, "english"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);

    // Names must stay inside the Locale folder.
    ASSERT_TRUE(writeCatalog(tmp.path(), "english", "1\tone\n"));
    EXPECT_EQ(LocOpenCat("../english/QUORVEL.catalog", d.c_str(), "x", 0, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);
    EXPECT_EQ(LocOpenCat(kName, d.c_str(), "../Locale/english", 0, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);
    EXPECT_EQ(LocOpenCat(kName, d.c_str(), "..", 0, nullptr), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);
    EXPECT_EQ(LocOpenCat(kName, d.c_str(), "italian", 1, "..\\english"), nullptr);
    EXPECT_EQ(LocGetErr(), LOC_ERR_ARGUMENT);
}

TEST_F(LocaleApi, ErrorTextIsTruncatedAndTerminated) {
    // A path with a two-byte character, so truncation can meet its middle.
    QTemporaryDir accented(QDir::tempPath() + "/loc-\xc3\xbc-XXXXXX");
    ASSERT_TRUE(accented.isValid());
    ASSERT_TRUE(writeCatalog(accented.path(), "bad", "1\t\\q\n"));
    const std::string d = (accented.path() + "/").toStdString();
    ASSERT_EQ(LocOpenCat(kName, d.c_str(), "bad", 0, nullptr), nullptr);
    const std::string full = lastErrorText();
    ASSERT_EQ(full, accented.path().toStdString() + "/Locale/bad/" + kName +
                        ": line 1: unknown escape \\q");

    char buf[64];
    std::memset(buf, '#', sizeof buf);
    LocGetErrStr(buf, 5);
    EXPECT_EQ(std::string(buf), full.substr(0, 4));
    EXPECT_EQ(buf[5], '#'); // nothing written past bufferSize

    std::memset(buf, '#', sizeof buf);
    LocGetErrStr(buf, 1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '#');

    std::memset(buf, '#', sizeof buf);
    LocGetErrStr(buf, 0);
    LocGetErrStr(buf, -5);
    EXPECT_EQ(buf[0], '#');
    LocGetErrStr(nullptr, 64);

    // Cut inside "ü": the whole character is dropped.
    const size_t u = full.find("\xc3\xbc");
    ASSERT_NE(u, std::string::npos);
    std::memset(buf, '#', sizeof buf);
    LocGetErrStr(buf, static_cast<int>(u + 2)); // room for u + 1 bytes
    EXPECT_EQ(std::string(buf), full.substr(0, u));
    LocGetErrStr(buf, static_cast<int>(u + 3)); // room for the whole character
    EXPECT_EQ(std::string(buf), full.substr(0, u + 2));

    std::string big(full.size() + 10, '#');
    LocGetErrStr(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(std::string(big.c_str()), full);
}

TEST_F(LocaleApi, ErrorsArePerThread) {
    EXPECT_EQ(open("nowhere"), nullptr);
    ASSERT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
    int otherCode = -1;
    std::string otherText;
    std::thread t([&] {
        otherCode = LocGetErr(); // a fresh thread has no error
        LocOpenCat(nullptr, nullptr, nullptr, 0, nullptr);
        otherText = lastErrorText();
    });
    t.join();
    EXPECT_EQ(otherCode, LOC_ERR_NONE);
    EXPECT_NE(otherText, "");
    EXPECT_EQ(LocGetErr(), LOC_ERR_NO_CATALOG);
}

} // namespace
