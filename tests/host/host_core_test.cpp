// The interpreter and the loader, without a window.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QProcess>
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

TEST_F(InterpreterTest, MessageBoxTitlesMayHoldQuotes) {
    EXPECT_EQ(0, in.execute("messagebox \"Cannot open \"Demo.db\"\" \"Errore \"Quorvel\":\" 16").code);
    EXPECT_EQ(0, in.execute("messagebox \"x\" \"\"Quorvel\" error:\" 48").code);
    EXPECT_EQ(0, in.execute("messagebox \"Say \"yes\" \"no\"\"   \"Q\" 4").code);
    ASSERT_EQ(3u, ui.boxes.size());
    EXPECT_EQ("Errore \"Quorvel\":|Cannot open \"Demo.db\"|16", ui.boxes[0]);
    EXPECT_EQ("\"Quorvel\" error:|x|48", ui.boxes[1]);
    EXPECT_EQ("Q|Say \"yes\" \"no\"|4", ui.boxes[2]);
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

bool IsLoaded(const std::string& file) {
    void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST(ModuleLoader, LeavesNothingLoadedAfterAFailureNorAfterTheCallerUnloads) {
    const std::string lib = std::string(FAKE_HOST_DIR) + "lib/";
    const std::string core = lib + "libtw_fake_core.so", user = lib + "libtw_fake_user.so";
    ModuleLoader l(FAKE_HOST_DIR);
    l.requireFirst("tw_fake_user", "tw_fake_core");
    l.requireFirst("tw_fake_absent", "tw_fake_core");
    void* h = nullptr;
    void *fn = nullptr, *bogus = nullptr;
    ASSERT_FALSE(IsLoaded(core));

    // A symbol missing, then the library itself: what was loaded for them goes.
    EXPECT_EQ(0, load(l, &h, "tw_fake_user.dll", &fn, "fakeUserValue", &bogus, "noSuchSymbol", nullptr));
    EXPECT_FALSE(IsLoaded(user));
    EXPECT_FALSE(IsLoaded(core));
    EXPECT_EQ(0, load(l, &h, "tw_fake_absent.dll", &fn, "fakeUserValue", nullptr));
    EXPECT_FALSE(IsLoaded(core));
    EXPECT_EQ(nullptr, h);

    // Loaded twice and unloaded by the caller each time: the library works
    // while loaded, and nothing stays loaded after.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(1, load(l, &h, "tw_fake_user.dll", &fn, "fakeUserValue", nullptr)) << l.lastError();
        EXPECT_EQ(43, reinterpret_cast<int (*)()>(fn)());
        EXPECT_TRUE(IsLoaded(core));
        dlclose(h);
        EXPECT_FALSE(IsLoaded(user)) << round;
        EXPECT_FALSE(IsLoaded(core)) << round;
    }
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

#include <QImage>
#include <QTemporaryDir>
#include <sqlite3.h>

#include "structure_view.h"

namespace {

TEST_F(InterpreterTest, ComputesIsotopicDistributions) {
    CommandResult r = in.execute("IsoDist C6H12O6");
    ASSERT_EQ(0, r.code) << r.text;
    EXPECT_EQ(0u, r.text.rfind("180.063388 100.000000\n", 0)) << r.text;
    CommandResult bad = in.execute("IsoDist Xx3");
    EXPECT_NE(0, bad.code);
    EXPECT_FALSE(bad.text.empty());
}

TEST(HostDatabase, OpensQueriesAndLoadsARowIntoTheWorkspace) {
    QTemporaryDir dir;
    const std::string dbDir = dir.path().toStdString() + "/Databases/";
    QDir().mkpath(QString::fromStdString(dbDir));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((dbDir + "Demo.db").c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db,
        "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT, Name TEXT, Smiles TEXT);"
        "INSERT INTO Molecules VALUES(1, 180.063388104, 'C6H12O6', 'glucose; D-', 'OCC1OC(O)C(O)C(O)C1O');"
        "CREATE INDEX m ON Molecules(MassMI);", nullptr, nullptr, nullptr));
    sqlite3_close(db);

    struct Ui : RecordingUi {
        std::vector<WorkspaceMolecule> shown;
        void showMolecule(const WorkspaceMolecule& m) override { shown.push_back(m); }
    } ui;
    CommandInterpreter in({"english", dir.path().toStdString() + "/", "/opt/"}, &ui);
    CommandResult open = in.execute("DbOpen \"" + dir.path().toStdString() + "/Databases\\Demo.db\"");
    ASSERT_EQ(0, open.code) << open.text;
    const std::string h = open.text;
    EXPECT_EQ("SQLITE", in.execute("DbInfo " + h + " Format").text);
    CommandResult rows = in.execute("DbSqlExec " + h +
        " \"SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE MassMI > 180.06 AND MassMI < 180.07\"");
    ASSERT_EQ(0, rows.code) << rows.text;
    EXPECT_EQ("1;180.063388104;C6H12O6;glucose, D-;OCC1OC(O)C(O)C(O)C1O\n", rows.text);
    EXPECT_EQ(0, in.execute("DbGetRowId " + h + " 1 Replace").code);
    ASSERT_EQ(1u, ui.shown.size());
    EXPECT_EQ("glucose; D-", ui.shown[0].name);
    EXPECT_EQ(0, in.execute("DbClose " + h).code);
    EXPECT_NE(0, in.execute("DbSqlExec " + h + " \"SELECT 1\"").code);
}

// Several --exec run in order in one process: a handle from DbOpen works in the next command,
// every command prints its code and text, and the status tells whether all succeeded.
TEST(HostDatabase, SeveralExecShareOneInterpreter) {
    QTemporaryDir dir;
    const std::string dbFile = dir.path().toStdString() + "/Databases/Demo.db";
    QDir().mkpath(dir.path() + "/Databases");
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dbFile.c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db,
        "CREATE TABLE Molecules(ID INTEGER PRIMARY KEY, MassMI REAL, Formula TEXT, Name TEXT, Smiles TEXT);"
        "INSERT INTO Molecules VALUES(4, 180.063388, 'C6H12O6', 'glucose', 'OCC1OC(O)C(O)C(O)C1O');",
        nullptr, nullptr, nullptr));
    sqlite3_close(db);

    auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(TW_TARVISH_PATH, QStringList{"--data-dir", dir.path()} + args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return std::make_pair(p.exitCode(), p.readAllStandardOutput().toStdString());
    };
    auto [status, out] = run({"--exec", QString::fromStdString("DbOpen \"" + dbFile + "\""),
                              "--exec", "DbInfo DB1 Format",
                              "--exec", "DbSqlExec DB1 \"SELECT ID, MassMI, Name FROM Molecules\"",
                              "--exec", "DbClose DB1"});
    EXPECT_EQ(0, status);
    EXPECT_EQ("0\nDB1\n0\nSQLITE\n0\n4;180.063388;glucose\n0\n", out);

    std::tie(status, out) = run({"--exec", "DbClose DB1", "--exec", "Get DataDir"});
    EXPECT_EQ(1, status);
    EXPECT_EQ("26\nNo open database DB1\n0\n" + dir.path().toStdString() + "/\n", out);
}

TEST(StructureView, DrawsAMoleculeAndExplainsAFailure) {
    std::string error;
    QImage img = RenderStructure("OCC1OC(O)C(O)C(O)C1O", QSize(300, 200), &error);
    ASSERT_FALSE(img.isNull()) << error;
    EXPECT_EQ(QSize(300, 200), img.size());
    int dark = 0, red = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            QColor c = img.pixelColor(x, y);
            dark += c.lightness() < 80;
            red += c.red() > 180 && c.green() < 90 && c.blue() < 90;  // oxygen labels
        }
    EXPECT_GT(dark, 100);
    EXPECT_GT(red, 20);
    EXPECT_TRUE(RenderStructure("C1CC(", QSize(300, 200), &error).isNull());
    EXPECT_FALSE(error.empty());
}

} // namespace
