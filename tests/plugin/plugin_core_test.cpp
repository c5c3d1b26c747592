// The command channel and the string table, linked into the test.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "host_cmd.h"
#include "localized.h"
#include "plugin_state.h"
#include "test_host.h"

namespace {

// Puts the module state back as a fresh load has it.
struct ChannelTest : ::testing::Test {
    TestHost host;
    void SetUp() override {
        TwInfo = &host.info;
        std::free(CmdBuf);
        CmdBuf = nullptr;
        CmdBufSize = 512;
        CursorState = 0;
        Catalog = nullptr;
    }
    void TearDown() override {
        std::free(CmdBuf);
        CmdBuf = nullptr;
        CmdBufSize = 512;
        TwInfo = nullptr;
    }
};

TEST_F(ChannelTest, CommandBufferGrowsToTheLongestCommandAndStays) {
    const std::string fits(511, 'a');
    EXPECT_EQ(0, TarvishCmdEx("%s", fits.c_str()));
    EXPECT_EQ(512, CmdBufSize);
    ASSERT_EQ(1u, host.commands.size());
    EXPECT_EQ(fits, host.commands[0]);

    const std::string grows(512, 'b');
    EXPECT_EQ(0, TarvishCmdEx("%s", grows.c_str()));
    EXPECT_EQ(513, CmdBufSize);
    EXPECT_EQ(grows, host.commands[1]);

    EXPECT_EQ(0, TarvishCmdEx("DbClose %s", "DB1"));
    EXPECT_EQ(513, CmdBufSize);
    EXPECT_EQ("DbClose DB1", host.commands[2]);

    // A distribution copied as text can be long: it is sent whole.
    const std::string huge(100000, 'c');
    TarvishCmdEx("CopyText \"%s\"", huge.c_str());
    EXPECT_EQ(100000 + 12, CmdBufSize);
    EXPECT_EQ("CopyText \"" + huge + "\"", host.commands.back());
}

TEST_F(ChannelTest, ResultCodeComesFromTheHost) {
    host.answer("DbOpen", 7, "no such file");
    EXPECT_EQ(7, TarvishCmdEx("DbOpen \"%s\"", "x.db"));
    EXPECT_STREQ("no such file", TwInfo->ResultText);
}

TEST_F(ChannelTest, WithoutHostRecordNothingIsSent) {
    TwInfo = nullptr;
    EXPECT_EQ(-1, TarvishCmdEx("Get DataDir"));
    ZF_Str* s = _ZF_StrNew();
    EXPECT_EQ(-1, TarvishCmdSafe(s, "Get DataDir"));
    _ZF_StrFree(s);
    EXPECT_TRUE(host.commands.empty());
}

TEST_F(ChannelTest, NumbersInCommandsAlwaysTakeAPoint) {
    // A comma locale must not leak into machine text, whichever channel.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    ASSERT_NE(nullptr, std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        << "the de_DE.UTF-8 locale is needed: localedef -i de_DE -f UTF-8 de_DE.UTF-8";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ("1,5", probe);
    TarvishCmdEx("SELECT MassMI > %lf", 300.132219);
    ZF_Str* s = _ZF_StrNew();
    TarvishCmdSafe(s, "MassMI < %.6lf", 300.135231);
    _ZF_StrFree(s);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ("SELECT MassMI > 300.132219", host.commands[0]);
    EXPECT_EQ("MassMI < 300.135231", host.commands[1]);
}

TEST_F(ChannelTest, StringChannelChainsAnswersThroughPercentA) {
    host.answer("Get DataDir", 0, "/data/");
    host.answer("DbOpen", 0, "DB1");
    ZF_Str* s = _ZF_StrNew();
    EXPECT_EQ(0, TarvishCmdSafe(s, "Get DataDir"));
    EXPECT_STREQ("/data/", s->Text);
    EXPECT_EQ(0, TarvishCmdSafe(s, "DbOpen \"%aDatabases\\%s\"", s, "Drugs.db"));
    EXPECT_EQ("DbOpen \"/data/Databases\\Drugs.db\"", host.commands[1]);
    EXPECT_STREQ("DB1", s->Text);
    EXPECT_EQ(3, s->Length);
    EXPECT_EQ(0, _ZF_StriCmpC(s, "db1"));
    _ZF_StrFree(s);
}

TEST_F(ChannelTest, BusyCursorDoesNotNest) {
    CursorBusy(0);
    EXPECT_TRUE(host.commands.empty());
    CursorBusy(1);
    CursorBusy(1);
    CursorBusy(0);
    CursorBusy(0);
    EXPECT_EQ(1, host.countOf("Cursor Busy"));
    EXPECT_EQ(1, host.countOf("Cursor Default"));
    EXPECT_EQ(2u, host.commands.size());
    EXPECT_EQ(0, CursorState);
}

TEST_F(ChannelTest, MessageBoxAnswerIsTheButtonDigit) {
    host.answer("messagebox", 0, "1");
    EXPECT_EQ(1, TwMessageBox("text", "title", 16));
    EXPECT_EQ("messagebox \"text\" \"title\" 16", host.commands[0]);
    host.clearAnswers();
    host.answer("messagebox", 0, "");
    EXPECT_EQ(-48, TwMessageBox("text", "title", 16));
    host.clearAnswers();
    host.answer("messagebox", 0, "7");
    EXPECT_EQ(7, TwMessageBox("say \"yes\"\nor no", "t", 4));
    EXPECT_EQ("messagebox \"say \"yes\"\nor no\" \"t\" 4", host.commands[2]);
}

TEST_F(ChannelTest, LongMessageIsCutButTheCommandStaysWhole) {
    std::string text(2000, 'x');
    text += "\xC2\xB1";  // a two-byte character at the end of a long text
    std::string title = "Quorvel error:";
    TwMessageBox(text.c_str(), title.c_str(), 16);
    const std::string& sent = host.commands.at(0);
    EXPECT_LE(sent.size(), static_cast<size_t>(MsgBoxCmdSize - 1));
    const std::string tail = "\" \"Quorvel error:\" 16";
    ASSERT_GE(sent.size(), tail.size());
    EXPECT_EQ(tail, sent.substr(sent.size() - tail.size()));
    EXPECT_EQ(0u, sent.rfind("messagebox \"xxx", 0));
}

TEST_F(ChannelTest, LongTitleIsCutBetweenCharacters) {
    // 254 bytes and a two-byte character: the cut at 255 bytes falls inside it.
    const std::string title = std::string(254, 't') + "\xC2\xB1";
    TwMessageBox("text", title.c_str(), 16);
    EXPECT_EQ("messagebox \"text\" \"" + std::string(254, 't') + "\" 16", host.commands.at(0));
    const std::string fits = std::string(253, 't') + "\xC2\xB1";
    TwMessageBox("text", fits.c_str(), 16);
    EXPECT_EQ("messagebox \"text\" \"" + fits + "\" 16", host.commands.at(1));
}

TEST(StringTable, BuiltInTexts) {
    Catalog = nullptr;
    EXPECT_STREQ("Quorvel print job", GetStr(57));
    EXPECT_STREQ("Excel workbook (*.xlsx)|*.xlsx", GetStr(59));
    EXPECT_STREQ("Unknown localized string", GetStr(60));
    EXPECT_STREQ("Unknown localized string", GetStr(-1));
    EXPECT_STREQ("Unknown localized string", GetStr(6));
    EXPECT_STREQ("Translation by Orlavik", GetStr(0));
    EXPECT_STREQ("Mass %.6lf \xC2\xB1 %.3lf ppm", GetStr(49));
    EXPECT_STREQ("Locale.dll error:\n%s", GetStr(52));
    EXPECT_STREQ(GetStr(10), GetStr(40));
    EXPECT_STREQ(GetStr(7), GetStr(53));
    // Ids run 0..59 in order, 6 left out, closed by -1.
    int expected = 0;
    for (int i = 0; i + 1 < QUORVEL_StrCount; ++i, ++expected) {
        if (expected == 6) ++expected;
        EXPECT_EQ(expected, QUORVEL_Str[i].Id);
        ASSERT_NE(nullptr, QUORVEL_Str[i].Text);
    }
    EXPECT_EQ(60, expected);
    EXPECT_EQ(-1, QUORVEL_Str[QUORVEL_StrCount - 1].Id);
}

TEST(StringTable, FormatConversionsCompareWhatTheFormatterReads) {
    char a[64], b[64];
    ASSERT_TRUE(FormatConversions("Mass %.6lf \xC2\xB1 %.3lf ppm", a, sizeof a));
    ASSERT_TRUE(FormatConversions("Massa %.2lf ~ %lf", b, sizeof b));
    EXPECT_STREQ(a, b);
    ASSERT_TRUE(FormatConversions("100%% sure: %s", a, sizeof a));
    EXPECT_STREQ("s|", a);
    EXPECT_FALSE(FormatConversions("%s%s%n", a, sizeof a));
    EXPECT_FALSE(FormatConversions("trailing %", a, sizeof a));
    ASSERT_TRUE(FormatConversions("%*d", a, sizeof a));
    EXPECT_STREQ("*d|", a);
}

} // namespace
