#pragma once
// The main dialog: search options and results on the left, the 2D structure
// and the isotope chart on the right. Its handlers live in the folder of the
// subsystem they belong to (search/, isotope/, preview/).
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "alphaform.h"
#include "common_dialogs.h"
#include "results_view.h"
#include "ui_DlgQvMain.h"

class QMenu;
class QAction;
class QTreeWidgetItem;
class TLineSeries;
class CRender2D;
class TImageList;

class TDlgQvMain : public TAlphaForm {
    Q_OBJECT
public:
    explicit TDlgQvMain(QWidget* owner);
    ~TDlgQvMain() override;

    // Controls, by their form names.
    Ui::DlgQvMain ui;
    QMenu* PM_Results = nullptr;
    QAction *PM_ResShow = nullptr, *PM_ResIsoDist = nullptr, *PM_ResSep3 = nullptr,
            *PM_ResSave = nullptr, *PM_ResSep1 = nullptr, *PM_ResCopy = nullptr,
            *PM_ResCopyRow = nullptr, *PM_ResCopyAll = nullptr, *PM_ResSep2 = nullptr,
            *PM_ResExcel = nullptr;
    QMenu* PM_IsoChart = nullptr;
    QMenu *PM_IC_Edit = nullptr, *PM_IC_Zoom = nullptr;
    QAction *PM_IC_CopyChart = nullptr, *PM_IC_CopyData = nullptr, *PM_IC_EditSep1 = nullptr,
            *PM_IC_SendExp = nullptr, *PM_IC_ZoomIn = nullptr, *PM_IC_ZoomOut = nullptr,
            *PM_IC_ZoomSpc = nullptr, *PM_IC_ZoomReset = nullptr, *PM_IC_MainSep1 = nullptr,
            *PM_IC_Print = nullptr;
    TSaveDialog SD_Results;
    TPrintDialog PD_Print;

    // Settings (written at Free when they changed).
    void ReadSettings(bool defaultsOnly);
    void WriteSettings();

    // --- event handlers -------------------------------------------------
    void OnFormShow() override;
    void OnFormResize() override;
    void OnFormDestroy() override;
    void PC_ViewChange();
    void SB_StatusDrawPanel(QPainter& painter, const QRect& rect);

    // Database and search.
    void ListDatabases();
    void CB_DatabaseChange();
    void CB_MassChange();
    void EnableButtons();
    void BT_SearchClick();
    void BT_DefaultClick();
    void DbClose();
    // Results list.
    void LV_ResultsColumnClick(int column);
    int LV_ResultsCmpMass(const QTreeWidgetItem* a, const QTreeWidgetItem* b) const;
    void LV_ResultsSelectItem();
    void PM_ResultsPopup();
    void EnableResPopup();
    void PreviewUpdate();
    void PM_ResShowClick();
    void PM_ResSaveClick();
    void PM_ResCopyClick();
    void PM_ResCopyRowClick();
    void PM_ResCopyAllClick();
    void PM_ResExcelClick();
    void SD_ResultsShow();
    // Isotopes and chart.
    void PM_ResIsoDistClick();
    void BT_ExUpdateClick();
    void ME_ExDataChange();
    void EnableChartPopup();
    void PM_IC_CopyChartClick();
    void PM_IC_CopyDataClick();
    void PM_IC_SendExpClick();
    void PM_IC_ZoomInClick();
    void PM_IC_ZoomOutClick();
    void PM_IC_ZoomResetClick();
    void PM_IC_PrintClick();
    void PD_PrintShow();

    // --- state ------------------------------------------------------------
    std::string DbName;
    std::string DbFile;
    bool FirstShow = true;
    bool PreviewShown = true;
    CRender2D* Renderer = nullptr;
    int32_t* RowIds = nullptr;
    std::vector<std::string>* RowSmiles = nullptr;
    TLineSeries* SerCalc = nullptr;
    TLineSeries* SerExp = nullptr;
    double SearchMass = 0;
    double SearchPpm = 0;
    int32_t SortColumn = 0;
    int32_t SortDescending = 0;
    int32_t PopupColumn = 0;
    int32_t DesignWidth = 0;
    int32_t DesignResultsWidth = 0;
    int32_t DesignViewLeft = 0;
    int32_t DesignViewWidth = 0;
    std::unique_ptr<TImageList> MenuImages;

    // --- search subsystem (search/): further members ---
    // Query dialect of the open database: 1 when it reported the format
    // "ACCESS" (TOP form), else 0 (LIMIT form).
    int32_t DbFormat = 0;
    // Entries in RowIds (and RowSmiles): rows of the last search that found any.
    int32_t RowCount = 0;
    // File name of entry index of CB_Database: its text and the extension of its tag.
    std::string DbEntryFile(int index) const;
    // The selected row's index into RowIds and RowSmiles, or -1 when no row is selected.
    int SelectedRow() const;
    // Sorts LV_Results by SortColumn and SortDescending, keeping the selection.
    void SortResults();
    // The designed widths of the Mass, Formula and Name columns.
    static constexpr int LV_ColumnWidth[3] = {80, 120, 200};
    // Gives the Mass column its designed width, or the width its masses need
    // as long as the Name column keeps half its designed width in view.
    void FitMassColumn();
    // --- end of search subsystem ---

    // --- isotope subsystem (isotope/): further members ---
    // Peak series of TC_IsoChart (colours as 0x00BBGGRR values).
    TLineSeries* SerNew(uint32_t color);
    void SerAdd(TLineSeries* series, double mass, double prob);
    void SerDelete(TLineSeries* series);
    int SerParse(TLineSeries* series, char16_t* text);
    int SerParse(TLineSeries* series, char* text);
    struct TPeak* SerToPeak(int& count, TLineSeries* series);
    static int SortPeakFnct(const void* a, const void* b);
    void SerCalcToStr(std::string& text);
    // Comparison and experimental data.
    void RmsdCalc();
    void EnableExp();
    void ME_ExDataKeyPress(QObject* sender, QChar& key);
    // Chart read-out and reset.
    void TC_IsoChartMouseMove(QObject* sender, Qt::KeyboardModifiers shift, int x, int y);
    // Removes both series and hides the chart title (the chart part of BT_DefaultClick).
    void ClearChartSeries();
    // Connects ME_ExData's key filter and TC_IsoChart's MouseMove (from the constructor).
    void IsoConnectEvents();
    // The chart read-out: the dialog's hint text and whether hints show.
    QString Hint;
    bool ShowHint = false;
    // --- end of isotope subsystem ---

    // --- export (search/ export files): further members ---
    // --- end of export ---

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitIonModes();
    void BuildMenus();
    void ApplyMenuImages();
    void SetCaptions();
    void ConnectEvents();
};

extern TDlgQvMain* DlgQvMain;
