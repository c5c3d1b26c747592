// tarvish: the molecular-modelling host. With --exec it runs text commands without a
// window, in order, and prints each result code and text.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "demo_database_dialog.h"
#include "demo_databases.h"
#include "host_settings.h"
#include "interpreter.h"
#include "main_window.h"
#include "qt_host_ui.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    HostOptions options = parseHostOptions(args);
    if (options.help) {
        std::fputs(hostUsage().c_str(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "tarvish: %s\n%s", options.error.c_str(), hostUsage().c_str());
        return 2;
    }
    if (options.exec && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvish"));
    // The installed desktop entry and icon (packaging/), so that the desktop
    // matches the windows to the entry and shows the icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvel.tarvish"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quorvel.tarvish")));
    options.hostDir = QDir(QCoreApplication::applicationDirPath() + "/..").canonicalPath().toStdString();
    resolveHostOptions(options);

    if (options.exec) {
        ConsoleHostUi ui;
        CommandInterpreter interpreter({options.language, options.dataDir, options.hostDir}, &ui);
        // Every command runs, in order; the status says whether all of them succeeded.
        int status = 0;
        for (const std::string& command : options.execCommands) {
            CommandResult r = interpreter.execute(command);
            std::printf("%d\n%s", r.code, r.text.c_str());
            if (!r.text.empty() && r.text.back() != '\n') std::printf("\n");
            if (r.code != 0) status = 1;
        }
        std::fflush(stdout);
        return status;
    }

    MainWindow window(options);
    window.show();
    // First start: no Databases folder in the default data directory.
    if (shouldOfferDemoDatabases(options))
        QTimer::singleShot(0, &window, [&window, &options] { offerDemoDatabases(&window, options, true); });
    int rc = app.exec();
    window.shutdown();
    return rc;
}
