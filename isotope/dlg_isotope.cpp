// The main dialog's peak series, the isotopic distribution request, the experimental peaks
// and their comparison.
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>
#include <cstring>
#include <new>

#include "brisk.h"
#include "dlg_main.h"
#include "host_cmd.h"
#include "localized.h"
#include "peak_series.h"
#include "plugin_state.h"
#include "tchart.h"

namespace {

// Series colours (0x00BBGGRR).
constexpr uint32_t ColorCalc = 0x0000FF; // red
constexpr uint32_t ColorExp = 0xFF0000;  // blue
// String id of "Out of memory".
constexpr int StrOutOfMemory = 55;

} // namespace

TLineSeries* TDlgQvMain::SerNew(uint32_t color) {
    TLineSeries* series = nullptr;
    try {
        series = new TLineSeries(nullptr);
        series->SetActive(true);
        series->SetMarksVisible(false);
        series->SetSeriesColor(ColorFromTColor(color));
        series->SetShowInLegend(false);
        ui.TC_IsoChart->AddSeries(series);
    } catch (...) {
        delete series;
        return nullptr;
    }
    Hint.clear();
    ui.TC_IsoChart->chart()->setToolTip(QString());
    EnableChartPopup();
    return series;
}

void TDlgQvMain::SerAdd(TLineSeries* series, double mass, double prob) {
    PeakSeriesAdd(series, mass, prob);
}

void TDlgQvMain::SerDelete(TLineSeries* series) {
    if (!series) return;
    ui.TC_IsoChart->RemoveSeries(series);
    delete series;
    EnableChartPopup();
}

int TDlgQvMain::SerParse(TLineSeries* series, char16_t* text) {
    return PeakTextParse(series, text, FormatSettings.DecimalSeparator);
}

int TDlgQvMain::SerParse(TLineSeries* series, char* text) {
    return PeakTextParse(series, text);
}

TPeak* TDlgQvMain::SerToPeak(int& count, TLineSeries* series) {
    TPeak* peaks = PeakSeriesToArray(count, series);
    if (!peaks) CatErr(StrOutOfMemory);
    return peaks;
}

int TDlgQvMain::SortPeakFnct(const void* a, const void* b) {
    return ::SortPeakFnct(a, b);
}

void TDlgQvMain::SerCalcToStr(std::string& text) {
    PeakSeriesToText(SerCalc, text, FormatSettings.DecimalSeparator);
}

void TDlgQvMain::RmsdCalc() {
    if (!SerCalc || !SerExp) return;
    int nCalc = 0, nExp = 0;
    TPeak* calc = SerToPeak(nCalc, SerCalc);
    if (!calc) return;
    TPeak* exp = SerToPeak(nExp, SerExp);
    if (!exp) {
        delete[] calc;
        return;
    }
    const double rms = PeakRms(calc, nCalc, exp, nExp);
    ui.TC_IsoChart->SetTitle(QStringLiteral("Rms = ") +
                             FormatFixed(rms, 2, FormatSettings.DecimalSeparator));
    ui.TC_IsoChart->SetTitleVisible(true);
    delete[] calc;
    delete[] exp;
}

void TDlgQvMain::PM_ResIsoDistClick() {
    const QList<QTreeWidgetItem*> selected = ui.LV_Results->selectedItems();
    if (selected.isEmpty() || DbName.empty()) return;
    CursorBusy(1);
    ui.PC_View->setCurrentWidget(ui.TS_IsoChart);
    const std::string formula = selected.first()->text(1).toUtf8().toStdString();
    if (TarvishCmdEx("IsoDist %s", formula.c_str()) != 0) {
        CursorBusy(0);
        return;
    }
    const char* answer = TwInfo && TwInfo->ResultText ? TwInfo->ResultText : "";
    const size_t length = std::strlen(answer);
    char* copy = new (std::nothrow) char[length + 1];
    if (!copy) {
        CatErr(StrOutOfMemory);
        CursorBusy(0);
        return;
    }
    std::memcpy(copy, answer, length + 1);
    SerDelete(SerCalc);
    SerCalc = nullptr;
    SerCalc = SerNew(ColorCalc);
    // An answer without a complete pair leaves an empty calculated series.
    if (SerCalc) SerParse(SerCalc, copy);
    delete[] copy;
    RmsdCalc();
    PM_IC_ZoomResetClick();
    CursorBusy(0);
}

void TDlgQvMain::BT_ExUpdateClick() {
    CursorBusy(1);
    SerDelete(SerExp);
    SerExp = nullptr;
    QString text = ui.ME_ExData->toPlainText();
    if (!text.isEmpty()) {
        BriskDecSepToLoc(text);
        const size_t length = size_t(text.size());
        char16_t* buffer = new (std::nothrow) char16_t[length + 1];
        if (!buffer) {
            CatErr(StrOutOfMemory);
        } else {
            std::memcpy(buffer, text.utf16(), length * sizeof(char16_t));
            buffer[length] = 0;
            SerExp = SerNew(ColorExp);
            if (SerExp) {
                if (SerParse(SerExp, buffer) > 0) {
                    RmsdCalc();
                } else {
                    SerDelete(SerExp);
                    SerExp = nullptr;
                }
            }
            delete[] buffer;
        }
    }
    PM_IC_ZoomResetClick();
    EnableExp();
    CursorBusy(0);
}

void TDlgQvMain::EnableExp() {
    ui.BT_ExUpdate->setEnabled(SerExp != nullptr || !ui.ME_ExData->document()->isEmpty());
}

void TDlgQvMain::ME_ExDataChange() {
    EnableExp();
}

void TDlgQvMain::ME_ExDataKeyPress(QObject*, QChar& key) {
    const char16_t c = PeakMemoKey(key.unicode(), FormatSettings.DecimalSeparator);
    if (c == 0) BriskPlayDefSound();
    key = QChar(c);
}
