// The plug-in's three entry points and its release order.
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <utility>

#include "dialog_shell.h"
#include "host_cmd.h"
#include "plugin_state.h"
#include "localized.h"

#define TW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Nothing may unwind into the host: every entry point runs through here.
template <typename F> auto Guarded(decltype(std::declval<F>()()) fallback, F&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Quorvel: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Quorvel: unexpected failure\n");
    }
    return fallback;
}

void BindLocale() {
    if (!TwInfo->LoadModule) return;
    int32_t ok = TwInfo->LoadModule(&hLocale, "locale.dll", 0,
                                    &TWP_LOC_LocCloseCat, "LocCloseCat",
                                    &TWP_LOC_LocGetCatStr, "LocGetCatStr",
                                    &TWP_LOC_LocGetErr, "LocGetErr",
                                    &TWP_LOC_LocGetErrStr, "LocGetErrStr",
                                    &TWP_LOC_LocOpenCat, "LocOpenCat",
                                    static_cast<void*>(nullptr));
    if (ok != 1) {
        hLocale = nullptr;
        TWP_LOC_LocCloseCat = nullptr;
        TWP_LOC_LocGetCatStr = nullptr;
        TWP_LOC_LocGetErr = nullptr;
        TWP_LOC_LocGetErrStr = nullptr;
        TWP_LOC_LocOpenCat = nullptr;
        return;
    }
    TwInfo->Command("Get PrfLang");
    const std::string language = TwInfo->ResultText ? TwInfo->ResultText : "";
    Catalog = TWP_LOC_LocOpenCat("QUORVEL.catalog", TwInfo->HostDir, language.c_str(), 1, "english");
    if (!Catalog) {
        int err = TWP_LOC_LocGetErr();
        if (err != 0 && err != 8 && err != 9) {
            char text[256] = "";
            TWP_LOC_LocGetErrStr(text, sizeof text);
            text[sizeof text - 1] = '\0';
            CatErr(52, text);
        }
    }
}

QPixmap* LoadMenuBitmap() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    const qreal dpr = qApp->devicePixelRatio();
    QPixmap pm = QIcon(QStringLiteral(":/quorvel/bitmap8001.svg")).pixmap(QSize(16, 16), dpr);
    if (pm.isNull()) return nullptr;
    return new QPixmap(pm);
}

void OpenHelp() {
    // HostDir and the relative path are joined as they stand; both separators
    // are accepted as in every host path.
    std::string path = std::string(TwInfo->HostDir) + "Docs\\Html\\quorvel\\index.htm";
    for (char& c : path)
        if (c == '\\') c = '/';
    bool opened = false;
    if (QFileInfo(QString::fromUtf8(path.c_str())).isFile()) {
        opened = OpenHelpHook ? OpenHelpHook(path)
                              : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromUtf8(path.c_str())));
    }
    if (!opened) CatErr(56);
}

} // namespace

TW_EXPORT TW_PLUGINFO* Init(TW_INFO* info) {
    return Guarded(static_cast<TW_PLUGINFO*>(nullptr), [&] {
        TwInfo = info;
        if (!info) return &PlugInfo;
        AppOwner = static_cast<QWidget*>(info->hAppWnd);
        BindLocale();
        MenuBitmap = LoadMenuBitmap();
        FuncList[1].Bitmap = MenuBitmap;
        FuncList[0].Bitmap = MenuBitmap;
        FuncList[0].Caption = GetStr(53);
        FuncList[1].Caption = GetStr(42);
        if (info->RegisterDialog)
            info->RegisterDialog("DlgQvMain", &DlgQvMain, DlgMain_MyShow);
        return &PlugInfo;
    });
}

TW_EXPORT int32_t Call(int32_t funcId) {
    return Guarded(1, [&] {
        if (!TwInfo) return 1;
        switch (funcId) {
        case FUNC_MAIN: {
            // The busy state ends even when building the dialog throws.
            struct BusyScope {
                BusyScope() { CursorBusy(1); }
                ~BusyScope() {
                    try {
                        CursorBusy(0);
                    } catch (...) {
                    }
                }
            } busy;
            DlgMain_MyShow(0);
            break;
        }
        case FUNC_HELP:
            OpenHelp();
            break;
        case FUNC_ABOUT:
            DlgAbout_MyShow();
            break;
        default:
            break;
        }
        return 1;
    });
}

TW_EXPORT int32_t Free(void) {
    return Guarded(1, [] {
        CursorBusy(0);
        DlgMain_MyClose();
        if (SaveIni) DlgMain_WriteSettings();
        Dialogs_Destroy();
        FuncList[0].Bitmap = FuncList[1].Bitmap = nullptr;
        delete MenuBitmap;
        MenuBitmap = nullptr;
        std::free(CmdBuf);
        CmdBuf = nullptr;
        if (Catalog && TWP_LOC_LocCloseCat) TWP_LOC_LocCloseCat(Catalog);
        Catalog = nullptr;
        // The captions may point into the catalog just closed.
        FuncList[0].Caption = FuncList[1].Caption = nullptr;
        if (hIndigo) dlclose(hIndigo);
        if (hIndigoRenderer) dlclose(hIndigoRenderer);
        if (hLocale) dlclose(hLocale);
        hIndigo = hIndigoRenderer = hLocale = nullptr;
        TWP_LOC_LocOpenCat = nullptr;
        TWP_LOC_LocCloseCat = nullptr;
        TWP_LOC_LocGetCatStr = nullptr;
        TWP_LOC_LocGetErr = nullptr;
        TWP_LOC_LocGetErrStr = nullptr;
        // No deferred delete of ours may outlive the module.
        if (QCoreApplication::instance())
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        CursorState = 0;
        CursorPushed = 0;
        CmdBufSize = 512;
        SaveIni = 0;
        AppOwner = nullptr;
        TwInfo = nullptr;
        return 1;
    });
}
