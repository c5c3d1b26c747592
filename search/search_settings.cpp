// The search settings of the main dialog: loading the stored (or default)
// values into the controls, writing them back, and the Default button.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <string>

#include "dlg_main.h"
#include "host_cmd.h"
#include "plugin_state.h"
#include "search_core.h"
#include "settings.h"

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s ? s : "");
}

} // namespace

void TDlgQvMain::ReadSettings(bool defaultsOnly) {
    const int32_t def = defaultsOnly ? 1 : 0;
    // Every read reuses the same buffer: keep the name.
    const std::string database = ReadIniKey(INI_DATABASE, def);

    // An ion mode that is no number 0..2 takes the default mode.
    int32_t mode = 0;
    if (!UserToInt(Utf8(ReadIniKey(INI_MASSMODE, def)), mode) || mode < 0 ||
        mode >= ui.CB_Mass->count())
        UserToInt(Utf8(IniKeys[INI_MASSMODE].Default), mode);
    ui.CB_Mass->setCurrentIndex(mode);

    ui.STR_Mass->setText(Utf8(ReadIniKey(INI_MASS, def)));
    ui.STR_MaxResults->setText(Utf8(ReadIniKey(INI_MAXRESULTS, def)));
    ui.STR_Ppm->setText(Utf8(ReadIniKey(INI_PPM, def)));

    // The stored database among the entries (as the combo box finds a text:
    // ignoring case), else the placeholder. Selecting raises no change event.
    int select = 0;
    for (int i = 0; i < ui.CB_Database->count(); ++i) {
        if (CompareText(ui.CB_Database->itemText(i).toUtf8().toStdString(), database) == 0) {
            select = i;
            break;
        }
    }
    ui.CB_Database->setCurrentIndex(select);
}

void TDlgQvMain::WriteSettings() {
    WriteIniKeyF(INI_MASS, ui.STR_Mass->text().toUtf8().constData());
    WriteIniKeyI(INI_MASSMODE, ui.CB_Mass->currentIndex());
    WriteIniKeyS(INI_MAXRESULTS, ui.STR_MaxResults->text().toUtf8().constData());
    WriteIniKeyF(INI_PPM, ui.STR_Ppm->text().toUtf8().constData());
    const int db = ui.CB_Database->currentIndex();
    WriteIniKeyS(INI_DATABASE, db > 0 ? ui.CB_Database->itemText(db).toUtf8().constData() : "None");
}

void TDlgQvMain::BT_DefaultClick() {
    CursorBusy(1);
    ui.LV_Results->clear();
    ui.ME_ExData->clear();
    // Both peak series go, the chart title hides, the chart menu follows.
    ClearChartSeries();
    ReadSettings(true);
    EnableButtons();
    EnableChartPopup();
    ui.BT_ExUpdate->setEnabled(SerExp || !ui.ME_ExData->toPlainText().isEmpty());
    EnableResPopup();
    PreviewUpdate();
    SaveIni = 1;
    CursorBusy(0);
}
