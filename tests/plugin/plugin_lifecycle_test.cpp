// Init, Call and Free with a real locale library and real catalogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <new>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif
#include <vector>

#include "localized.h"
#include "plugin_state.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

namespace {

std::string catalogText(const std::string& language, int id) {
    std::ifstream in(TestHost::buildDir() + "Locale/" + language + "/QUORVEL.catalog");
    EXPECT_TRUE(in.good()) << "no " << language << " catalog in the build tree";
    std::string line;
    const std::string key = std::to_string(id);
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0 && line.size() > key.size() &&
            (line[key.size()] == '\t' || line[key.size()] == ' ')) {
            std::string text = line.substr(key.size());
            text.erase(0, text.find_first_not_of(" \t"));
            return text;
        }
    }
    return {};
}

// A host directory of its own, with a catalog written by the test.
struct TempHostDir {
    QTemporaryDir dir;
    std::string path() const { return dir.path().toStdString() + "/"; }
    void writeCatalog(const std::string& language, const std::string& body) {
        QDir().mkpath(dir.path() + "/Locale/" + QString::fromStdString(language));
        std::ofstream(path() + "Locale/" + language + "/QUORVEL.catalog") << body;
    }
};

bool sentMessageBox(const TestHost& host, const std::string& contains) {
    for (const std::string& c : host.commands)
        if (c.rfind("messagebox", 0) == 0 && c.find(contains) != std::string::npos) return true;
    return false;
}

TEST(PluginLifecycle, InitFillsTheRecordsAndRegistersTheDialog) {
    TestHost host;
    host.answer("Get PrfLang", 0, "english");
    TW_PLUGINFO* info = Init(&host.info);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(2, info->Interface);
    EXPECT_EQ(3, info->FuncCount);
    EXPECT_STREQ("Quorvel", info->Name);
    EXPECT_STREQ("Orlavik", info->Author);
    EXPECT_EQ(nullptr, info->Reserved1);
    EXPECT_EQ(nullptr, info->Reserved2);
    TW_FUNCLIST* f = info->FuncList;
    EXPECT_STREQ("About Quorvel", f[0].Caption);
    EXPECT_EQ(5, f[0].Selector);
    EXPECT_EQ(1, f[0].FuncId);
    EXPECT_STREQ("Mass spectrometry tool", f[1].Caption);
    EXPECT_EQ(4, f[1].Selector);
    EXPECT_EQ(101, f[1].FuncId);
    EXPECT_EQ(nullptr, f[2].Caption);
    EXPECT_EQ(3, f[2].FuncId);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(1, f[i].Value24);
        EXPECT_EQ(255, f[i].Value28);
    }
    EXPECT_NE(nullptr, f[0].Bitmap);
    EXPECT_EQ(f[0].Bitmap, f[1].Bitmap);
    EXPECT_EQ(nullptr, f[2].Bitmap);
    EXPECT_EQ(0, f[3].FuncId);
    ASSERT_EQ(1u, host.dialogs.size());
    EXPECT_EQ("DlgQvMain", host.dialogs[0].name);
    EXPECT_EQ(static_cast<void*>(&DlgQvMain), host.dialogs[0].variable);
    EXPECT_NE(nullptr, Catalog);
    EXPECT_EQ(1, host.countOf("Get PrfLang"));
    EXPECT_EQ(1, Free());
}

TEST(PluginLifecycle, FreeRightAfterInitReleasesEverythingQuietly) {
    TestHost host;
    host.answer("Get PrfLang", 0, "italian");
    Init(&host.info);
    ASSERT_NE(nullptr, Catalog);
    ASSERT_NE(nullptr, hLocale);
    const size_t before = host.commands.size();
    EXPECT_EQ(1, Free());
    EXPECT_EQ(before, host.commands.size()) << "Free sent a command";
    EXPECT_EQ(nullptr, Catalog);
    EXPECT_EQ(nullptr, hLocale);
    EXPECT_EQ(nullptr, MenuBitmap);
    EXPECT_EQ(nullptr, FuncList[0].Bitmap);
    EXPECT_EQ(nullptr, TwInfo);
    EXPECT_EQ(nullptr, CmdBuf);
}

TEST(PluginLifecycle, ItalianCatalogGivesItalianTexts) {
    TestHost host;
    host.answer("Get PrfLang", 0, "italian");
    TW_PLUGINFO* info = Init(&host.info);
    const std::string caption = catalogText("italian", 42);
    ASSERT_FALSE(caption.empty());
    EXPECT_NE("Mass spectrometry tool", caption);
    EXPECT_EQ(caption, info->FuncList[1].Caption);
    EXPECT_EQ(catalogText("italian", 53), info->FuncList[0].Caption);
    EXPECT_EQ(catalogText("italian", 3), GetStr(3));
    // The catalog decides even for an id the built-in table lacks.
    EXPECT_STREQ("Unknown localized string", GetStr(60));
    Free();
}

TEST(PluginLifecycle, UnknownLanguageFallsBackToEnglishSilently) {
    TestHost host;
    host.answer("Get PrfLang", 0, "klingon");
    Init(&host.info);
    EXPECT_NE(nullptr, Catalog);
    EXPECT_STREQ("Mass spectrometry tool", FuncList[1].Caption);
    EXPECT_FALSE(sentMessageBox(host, ""));
    Free();
}

TEST(PluginLifecycle, WithoutTheLocaleLibraryTheBuiltInCaptionsShow) {
    TestHost host;
    host.answer("Get PrfLang", 0, "italian");
    host.loader.refuse("locale.dll");
    TW_PLUGINFO* info = Init(&host.info);
    EXPECT_EQ(nullptr, hLocale);
    EXPECT_EQ(nullptr, Catalog);
    EXPECT_STREQ("About Quorvel", info->FuncList[0].Caption);
    EXPECT_STREQ("Mass spectrometry tool", info->FuncList[1].Caption);
    EXPECT_EQ(0, host.countOf("Get PrfLang"));
    EXPECT_TRUE(host.commands.empty());
    Free();
}

TEST(PluginLifecycle, BrokenCatalogIsReportedAndInitGoesOn) {
    TempHostDir dir;
    dir.writeCatalog("english", "42\tfine\nthis line has no id\n");
    TestHost host(dir.path());
    host.answer("Get PrfLang", 0, "english");
    host.answer("messagebox", 0, "1");
    TW_PLUGINFO* info = Init(&host.info);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(nullptr, Catalog);
    EXPECT_TRUE(sentMessageBox(host, "Locale.dll error:\n"));
    EXPECT_TRUE(sentMessageBox(host, "\" \"Quorvel error:\" 16"));
    EXPECT_STREQ("Mass spectrometry tool", info->FuncList[1].Caption);
    Free();
}

TEST(PluginLifecycle, CatalogFormatsWithOtherConversionsAreNotUsed) {
    // A translation whose conversions differ from the built-in text would
    // make the formatter read arguments never passed (or write through %n).
    TempHostDir dir;
    dir.writeCatalog("english", "51\tErrore:\n52\t%s%s%n\n56\tAiuto %d mancante\n54\tNon posso scrivere\n");
    TestHost host(dir.path());
    host.answer("Get PrfLang", 0, "english");
    host.answer("messagebox", 0, "1");
    Init(&host.info);
    ASSERT_NE(nullptr, Catalog);
    host.commands.clear();
    CatErr(52, "bad things");
    EXPECT_EQ("messagebox \"Locale.dll error:\nbad things\" \"Errore:\" 16", host.commands.at(0));
    CatErr(56);
    EXPECT_EQ("messagebox \"Can't open the help file\" \"Errore:\" 16", host.commands.at(1));
    CatErr(54);  // same conversions (none): the translation is used
    EXPECT_EQ("messagebox \"Non posso scrivere\" \"Errore:\" 16", host.commands.at(2));
    Free();
}

TEST(PluginLifecycle, CatErrCutsLongMessagesToItsBuffer) {
    TestHost host;
    host.loader.refuse("locale.dll");
    host.answer("messagebox", 0, "1");
    Init(&host.info);
    std::string longText(1000, 'y');
    EXPECT_EQ(0, CatErr(52, longText.c_str()));
    const std::string& sent = host.commands.at(0);
    const std::string head = "messagebox \"Locale.dll error:\n";
    ASSERT_EQ(0u, sent.rfind(head, 0));
    const size_t msgLen = sent.find('"', head.size()) - std::string("messagebox \"").size();
    EXPECT_EQ(static_cast<size_t>(CatErrMsgSize - 1), msgLen);
    Free();
}

TEST(PluginLifecycle, CallDispatchesOnTheFunctionId) {
    TestHost host;
    host.loader.refuse("locale.dll");
    host.answer("messagebox", 0, "1");
    Init(&host.info);
    host.commands.clear();
    EXPECT_EQ(1, Call(42));
    EXPECT_EQ(1, Call(0));
    EXPECT_TRUE(host.commands.empty());

    // The main dialog's show lists the databases under the busy cursor.
    EXPECT_EQ(1, Call(101));
    ASSERT_EQ(3u, host.commands.size());
    EXPECT_EQ("Cursor Busy", host.commands[0]);
    EXPECT_EQ("Get DataDir", host.commands[1]);
    EXPECT_EQ("Cursor Default", host.commands[2]);

    // The help page lies under the host directory, joined as it stands.
    std::string opened;
    OpenHelpHook = [&](const std::string& p) {
        opened = p;
        return true;
    };
    host.commands.clear();
    EXPECT_EQ(1, Call(3));
    EXPECT_EQ(TestHost::buildDir() + "Docs/Html/quorvel/index.htm", opened);
    EXPECT_TRUE(host.commands.empty());

    // A failed open is reported.
    OpenHelpHook = [](const std::string&) { return false; };
    EXPECT_EQ(1, Call(3));
    EXPECT_TRUE(sentMessageBox(host, "Can't open the help file"));
    OpenHelpHook = nullptr;
    Free();
}

TEST(PluginLifecycle, TheBusyCursorTakesOffOnlyWhatItPutOn) {
    TestHost host;
    host.loader.refuse("locale.dll");
    Init(&host.info);
    // The host's own cursor, which the plug-in must leave in place.
    QApplication::setOverrideCursor(Qt::CrossCursor);
    EXPECT_EQ(1, Call(101));  // the dialog does not exist yet at the busy call
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::CrossCursor, QApplication::overrideCursor()->shape());
    EXPECT_EQ(1, Call(101));  // now it does: on and off again
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::CrossCursor, QApplication::overrideCursor()->shape());
    EXPECT_EQ(0, CursorState);
    Free();
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::CrossCursor, QApplication::overrideCursor()->shape());
    QApplication::restoreOverrideCursor();
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
}

// A catalog lookup that runs out of memory, as building the dialog fetches its captions.
const char* OutOfMemoryCatStr(void*, int, const char*) { throw std::bad_alloc(); }

TEST(PluginLifecycle, TheBusyStateEndsWhenBuildingTheMainDialogThrows) {
    TestHost host;
    host.loader.refuse("locale.dll");
    Init(&host.info);
    int notACatalog = 0;
    Catalog = &notACatalog;
    TWP_LOC_LocGetCatStr = OutOfMemoryCatStr;
    host.commands.clear();
    {
#ifdef __SANITIZE_ADDRESS__
        // The half-built dialog loses what its constructor allocated before
        // the throw (its list of SMILES); that is not what this test is about.
        __lsan::ScopedDisabler knownLeak;
#endif
        EXPECT_EQ(1, Call(101));
    }
    EXPECT_EQ(nullptr, DlgQvMain);
    EXPECT_EQ((std::vector<std::string>{"Cursor Busy", "Cursor Default"}), host.commands);
    EXPECT_EQ(0, CursorState);
    Catalog = nullptr;
    TWP_LOC_LocGetCatStr = nullptr;
    Free();
}

TEST(PluginLifecycle, MissingHelpPageIsReported) {
    TempHostDir dir;
    TestHost host(dir.path());
    host.loader.refuse("locale.dll");
    host.answer("messagebox", 0, "1");
    Init(&host.info);
    bool called = false;
    OpenHelpHook = [&](const std::string&) { return called = true; };
    Call(3);
    EXPECT_FALSE(called);
    EXPECT_TRUE(sentMessageBox(host, "\"Can't open the help file\" \"Quorvel error:\" 16"));
    OpenHelpHook = nullptr;
    Free();
}

} // namespace
