#include "dlg_about.h"

#include <QIcon>
#include <cstring>

#include "localized.h"

namespace {
QString Str(int id) { return QString::fromUtf8(GetStr(id)); }
} // namespace

TDlgQvAbout::TDlgQvAbout(QWidget* owner) : TAlphaForm(owner, 0x1005) {
    ui.setupUi(this);
    LoadForm();
    // Pictures at the screen's density.
    const qreal dpr = devicePixelRatioF();
    ui.IMG_Logo->setPixmap(QIcon(QStringLiteral(":/quorvel/logo.svg")).pixmap(QSize(128, 128), dpr));
    ui.IMG_LogoText->setPixmap(
        QIcon(QStringLiteral(":/quorvel/logo_text.svg")).pixmap(QSize(250, 34), dpr));
    // Texts, looked up once: the language in force now stays for the box's life.
    ui.LBL_Version->setText(QStringLiteral("2.0"));
    setWindowTitle(Str(7));
    ui.BT_Ok->setText(Str(2));
    ui.LBL_Copyright->setText(QString::fromUtf8("\xC2\xA9 2024\xE2\x80\x93" "2026 Orlavik. GNU GPL v3 or later."));
    ui.LBL_Desc->setText(Str(5));
    // Id 6 is a rights line that only a catalog may supply; the built-in
    // table has none, and "Unknown localized string" is no text to show.
    const char* rights = GetStr(6);
    ui.LBL_Rights->setText(std::strcmp(rights, "Unknown localized string") == 0 ? QString()
                                                                                 : QString::fromUtf8(rights));
    ui.LBL_Translation->setText(Str(0));
    SetButtonModalResult(ui.BT_Ok, MR_OK);
}
