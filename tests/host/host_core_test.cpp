// The interpreter and the loader, without a window.
#include <gtest/gtest.h>

#include <QClipboard>
#include <dlfcn.h>
#include <QGuiApplication>

#include "interpreter.h"
#include "module_loader.h"
#include "qt_host_ui.h"
#include "test_host.h"

namespace {

struct RecordingUi : HostUi {
    std::vector<bool> busy;
    std::vector<std::string> boxes;
    int answer = 1;
    std::string clipboard;
    void setBusy(bool b) override { busy.push_back(b); }
    int messageBox(const std::string& text, const std::string& title, int flags) override {
        boxes.push_back(title + "|" + text + "|" + std::to_string(flags));
        return answer;
    }
    bool copyText(const std::string& t) override {
        clipboard = t;
        return true;
    }
    void showMolecule(const WorkspaceMolecule&) override {}
};

struct InterpreterTest : ::testing::Test {
    RecordingUi ui;
    CommandInterpreter in{{"italian", "/data/tw/", "/opt/tw/"}, &ui};
};

TEST_F(InterpreterTest, AnswersSettingsCaseInsensitively) {
    EXPECT_EQ("italian", in.execute("Get PrfLang").text);
    EXPECT_EQ("/data/tw/", in.execute("get datadir").text);
    EXPECT_EQ(0, in.execute("  GET   PRFLANG  ").code);
    CommandResult r = in.execute("Get Colour");
    EXPECT_NE(0, r.code);
    EXPECT_NE(std::string::npos, r.text.find("Colour"));
}

TEST_F(InterpreterTest, UnknownCommandsAreRefusedWithAReason) {
    for (const char* c : {"Frobnicate", "DbOpenX \"a\"", "Cursor Sideways", "", "CopyText no quotes",
                          "messagebox \"only text\"", "messagebox \"a\" \"b\" sixteen"}) {
        CommandResult r = in.execute(c);
        EXPECT_NE(0, r.code) << c;
        EXPECT_FALSE(r.text.empty()) << c;
    }
    EXPECT_EQ("Unknown command: Frobnicate", in.execute("Frobnicate now").text);
}

TEST_F(InterpreterTest, CursorSwitchesTheUi) {
    EXPECT_EQ(0, in.execute("Cursor Busy").code);
    EXPECT_EQ(0, in.execute("Cursor Default").code);
    EXPECT_EQ((std::vector<bool>{true, false}), ui.busy);
}

TEST_F(InterpreterTest, MessageBoxKeepsQuotesAndLineBreaksOfItsText) {
    ui.answer = 6;
    CommandResult r = in.execute("messagebox \"Say \"yes\"\nor \"no\"\" \"Question\" 36");
    EXPECT_EQ(0, r.code);
    EXPECT_EQ("6", r.text);
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Question|Say \"yes\"\nor \"no\"|36", ui.boxes[0]);
    in.execute("messagebox \"\" \"\" 0");
    EXPECT_EQ("||0", ui.boxes[1]);
}

TEST_F(InterpreterTest, CopyTextTakesEverythingBetweenTheOuterQuotes) {
    EXPECT_EQ(0, in.execute("CopyText \"180.06\t\"glucose\"\r\n181.07\"").code);
    EXPECT_EQ("180.06\t\"glucose\"\r\n181.07", ui.clipboard);
}

TEST(QtHostUi, CopyTextReachesTheSystemClipboard) {
    QtHostUi ui(nullptr);
    ASSERT_TRUE(ui.copyText("C6H12O6\t180,063388 \xC2\xB1"));
    EXPECT_EQ(QString::fromUtf8("C6H12O6\t180,063388 \xC2\xB1"), QGuiApplication::clipboard()->text());
}

TEST(ModuleLoader, ResolvesPortableNames) {
    EXPECT_EQ("locale", ModuleLoader::baseName("locale.dll"));
    EXPECT_EQ("indigo-renderer", ModuleLoader::baseName("Indigo-Renderer.DLL"));
    EXPECT_EQ("locale", ModuleLoader::baseName("C:\\Tarvish\\locale.dll"));
    ModuleLoader l("/opt/tw/");
    auto c = l.candidates("indigo.dll");
    ASSERT_GE(c.size(), 3u);
    EXPECT_EQ("/opt/tw/lib/libindigo.so", c[0]);
    EXPECT_EQ("libindigo.so", c[1]);
    EXPECT_NE(c.end(), std::find(c.begin(), c.end(), "libindigo.so.0d"));
}

int32_t load(ModuleLoader& l, void** h, const char* name, ...) {
    va_list ap;
    va_start(ap, name);
    int32_t r = l.load(h, name, ap);
    va_end(ap);
    return r;
}

TEST(ModuleLoader, FillsEverySlotOrNothing) {
    ModuleLoader l(TestHost::buildDir());
    void* h = nullptr;
    void *open = nullptr, *close = nullptr, *bogus = nullptr;
    ASSERT_EQ(1, load(l, &h, "locale.dll", &open, "LocOpenCat", &close, "LocCloseCat", nullptr))
        << l.lastError();
    EXPECT_NE(nullptr, h);
    EXPECT_NE(nullptr, open);
    EXPECT_NE(nullptr, close);
    dlclose(h);

    void* h2 = nullptr;
    open = close = nullptr;
    EXPECT_EQ(0, load(l, &h2, "locale.dll", &open, "LocOpenCat", &bogus, "NoSuchExport", nullptr));
    EXPECT_EQ(nullptr, h2);
    EXPECT_EQ(nullptr, open);
    EXPECT_NE(std::string::npos, l.lastError().find("NoSuchExport"));

    EXPECT_EQ(0, load(l, &h2, "nosuchlibrary.dll", &open, "x", nullptr));
    l.refuse("LOCALE.DLL");
    EXPECT_EQ(0, load(l, &h2, "locale.dll", &open, "LocOpenCat", nullptr));
    EXPECT_EQ(nullptr, h2);
}

TEST(ModuleLoader, LoadsTheStructureRendererWithItsCore) {
    ModuleLoader l(TestHost::buildDir());
    void *core = nullptr, *renderer = nullptr, *alloc = nullptr, *render = nullptr;
    ASSERT_EQ(1, load(l, &core, "indigo.dll", &alloc, "indigoAllocSessionId", nullptr)) << l.lastError();
    ASSERT_EQ(1, load(l, &renderer, "indigo-renderer.dll", &render, "indigoRender", nullptr))
        << l.lastError();
    EXPECT_NE(nullptr, render);
    dlclose(renderer);
    dlclose(core);
}

} // namespace
