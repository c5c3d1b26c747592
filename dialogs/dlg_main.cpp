// The main dialog's construction, show, resize and destroy behaviour.
#include "dlg_main.h"

#include <QAbstractItemView>
#include <QFontDatabase>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QStatusBar>
#include <QTreeWidget>
#include <algorithm>

#include "brisk.h"
#include "edit_popup.h"
#include "localized.h"
#include "plugin_state.h"
#include "render2d.h"

namespace {

QString Str(int id) { return QString::fromUtf8(GetStr(id)); }

// The owner-drawn panel of the status bar.
constexpr const char* StatusPanelName = "SB_StatusPanel";

} // namespace

TDlgQvMain::TDlgQvMain(QWidget* owner) : TAlphaForm(owner, 0x130B) {
    // 1. The form as designed.
    ui.setupUi(this);
    LoadForm();
    // 2. No database yet.
    DbFile.clear();
    DbName.clear();
    // 3. The form may grow, never shrink below its design width, and lose at
    //    most 80 pixels of its height.
    SetMinSize(width(), height() - 80);
    // 4.
    FirstShow = true;
    // 5.
    setWindowIcon(QIcon(QStringLiteral(":/quorvel/icon8100.svg")));
    ui.IMG_Logo->setPixmap(
        QIcon(QStringLiteral(":/quorvel/logo.svg")).pixmap(QSize(128, 128), devicePixelRatioF()));
    // 6.
    Renderer = nullptr;
    RowIds = nullptr;
    SerExp = nullptr;
    SerCalc = nullptr;
    PreviewShown = true;
    RowSmiles = new std::vector<std::string>();
    // 7. The design geometry that OnFormResize shares out.
    DesignWidth = width();
    DesignResultsWidth = ui.GRP_Results->width();
    DesignViewLeft = ui.PC_View->x();
    DesignViewWidth = ui.PC_View->width();
    // 8.
    BuildMenus();
    SetCaptions();
    // 9. Ion modes; their indices are the stored MASSMODE.
    ui.CB_Mass->clear();
    ui.CB_Mass->addItem(QStringLiteral("[M+H]+"));
    ui.CB_Mass->addItem(Str(16));
    ui.CB_Mass->addItem(QStringLiteral("[M-H]-"));
    FitIonModes();
    // The experimental peaks line up in columns.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(ui.ME_ExData->font().pointSizeF());
    ui.ME_ExData->setFont(fixed);
    // 10. The edit menu, with each field's paste filter.
    PM_Edit = new TEditPopup();
    PM_Edit->SetPopup(ui.ME_ExData, EP_DECSEP | EP_KEEPSPACE | EP_NOSIGN);
    PM_Edit->SetPopup(ui.STR_Mass, EP_DECSEP | EP_NOSIGN);
    PM_Edit->SetPopup(ui.STR_MaxResults, EP_NODECSEP | EP_NOSIGN);
    PM_Edit->SetPopup(ui.STR_Ppm, EP_DECSEP | EP_NOSIGN);
    // 11.
    ui.PC_View->setCurrentWidget(ui.TS_Preview);
    // 12. Keystroke filters: positive reals, a positive integer.
    TBriskEditEvents* keys = BriskGetEditEvents();
    keys->Attach(ui.STR_Mass, TBriskKeyFilter::FloatPos);
    keys->Attach(ui.STR_Ppm, TBriskKeyFilter::FloatPos);
    keys->Attach(ui.STR_MaxResults, TBriskKeyFilter::IntPos);
    // 13. The menu pictures.
    TImageList IL_Menu;
    for (int i = 0; i < 16; ++i)
        IL_Menu.Add(QIcon(QStringLiteral(":/quorvel/menu/%1.svg").arg(i, 2, 10, QLatin1Char('0'))));
    MenuImages = std::make_unique<TImageList>(BriskImageListPatch(&IL_Menu));
    ApplyMenuImages();
    ConnectEvents();
    // 14. Nothing to save yet.
    SaveIni = 0;
}

TDlgQvMain::~TDlgQvMain() {
    DoDestroy();
    DbFile.clear();
    DbName.clear();
}

void TDlgQvMain::FitIonModes() {
    // The list shows every entry whole. The box keeps its designed width
    // unless its longest entry needs more (the font is wider than the
    // design's); it then grows to the right, as far as the gap before
    // STR_Mass allows.
    QComboBox* cb = ui.CB_Mass;
    cb->view()->setMinimumWidth(std::max(cb->width(), cb->view()->sizeHintForColumn(0) +
                                                           2 * cb->view()->frameWidth()));
    const int need = cb->sizeHint().width();
    const int room = ui.STR_Mass->x() - 4 - cb->x();
    if (need > cb->width())
        SetControlBounds(cb, cb->x(), cb->y(), std::min(need, std::max(cb->width(), room)),
                         cb->height());
    // An entry still too long for the box (a long translation) shows whole
    // in the box's tool tip.
    int longest = 0;
    for (int i = 0; i < cb->count(); ++i)
        longest = std::max(longest, cb->fontMetrics().horizontalAdvance(cb->itemText(i)));
    const int textRoom = cb->width() - (need - longest);
    auto tip = [cb, textRoom] {
        const bool cut = cb->fontMetrics().horizontalAdvance(cb->currentText()) > textRoom;
        cb->setToolTip(cut ? cb->currentText() : QString());
    };
    connect(cb, &QComboBox::currentIndexChanged, this, tip);
    tip();
}

void TDlgQvMain::BuildMenus() {
    auto item = [](QMenu* m, const char* name) {
        QAction* a = m->addAction(QString());
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto sep = [](QMenu* m, const char* name) {
        QAction* a = m->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    PM_Results = new QMenu(this);
    PM_Results->setObjectName(QStringLiteral("PM_Results"));
    PM_ResShow = item(PM_Results, "PM_ResShow");
    PM_ResIsoDist = item(PM_Results, "PM_ResIsoDist");
    PM_ResSep3 = sep(PM_Results, "PM_ResSep3");
    PM_ResSave = item(PM_Results, "PM_ResSave");
    PM_ResSep1 = sep(PM_Results, "PM_ResSep1");
    PM_ResCopy = item(PM_Results, "PM_ResCopy");
    PM_ResCopyRow = item(PM_Results, "PM_ResCopyRow");
    PM_ResCopyAll = item(PM_Results, "PM_ResCopyAll");
    PM_ResSep2 = sep(PM_Results, "PM_ResSep2");
    PM_ResExcel = item(PM_Results, "PM_ResExcel");

    PM_IsoChart = new QMenu(this);
    PM_IsoChart->setObjectName(QStringLiteral("PM_IsoChart"));
    PM_IC_Edit = PM_IsoChart->addMenu(QString());
    PM_IC_Edit->setObjectName(QStringLiteral("PM_IC_Edit"));
    PM_IC_CopyChart = item(PM_IC_Edit, "PM_IC_CopyChart");
    PM_IC_CopyData = item(PM_IC_Edit, "PM_IC_CopyData");
    PM_IC_EditSep1 = sep(PM_IC_Edit, "PM_IC_EditSep1");
    PM_IC_SendExp = item(PM_IC_Edit, "PM_IC_SendExp");
    PM_IC_Zoom = PM_IsoChart->addMenu(QString());
    PM_IC_Zoom->setObjectName(QStringLiteral("PM_IC_Zoom"));
    PM_IC_ZoomIn = item(PM_IC_Zoom, "PM_IC_ZoomIn");
    PM_IC_ZoomOut = item(PM_IC_Zoom, "PM_IC_ZoomOut");
    PM_IC_ZoomSpc = sep(PM_IC_Zoom, "PM_IC_ZoomSpc");
    PM_IC_ZoomReset = item(PM_IC_Zoom, "PM_IC_ZoomReset");
    PM_IC_MainSep1 = sep(PM_IsoChart, "PM_IC_MainSep1");
    PM_IC_Print = item(PM_IsoChart, "PM_IC_Print");
}

void TDlgQvMain::SetCaptions() {
    setWindowTitle(Str(42));
    ui.BT_Default->setText(Str(1));
    ui.BT_ExUpdate->setText(Str(4));
    ui.BT_Search->setText(Str(3));
    ui.GRP_Experimental->setTitle(Str(9));
    ui.GRP_IsoChart->setTitle(Str(10));
    ui.GRP_Param->setTitle(Str(11));
    ui.GRP_Results->setTitle(Str(12));
    ui.LBL_Database->setText(Str(13));
    ui.LBL_FoundNum->setText(Str(15));
    ui.LBL_ExInfo->setText(Str(14));
    ui.LBL_MaxResults->setText(Str(17));
    ui.LBL_Ppm->setText(Str(18));
    ui.LV_Results->setHeaderLabels({Str(20), Str(19), Str(21)});
    PM_IC_CopyChart->setText(Str(22));
    PM_IC_CopyData->setText(Str(23));
    PM_IC_Edit->setTitle(Str(24));
    PM_IC_Print->setText(Str(25));
    PM_IC_SendExp->setText(Str(26));
    PM_IC_Zoom->setTitle(Str(27));
    PM_IC_ZoomIn->setText(Str(28));
    PM_IC_ZoomOut->setText(Str(29));
    PM_IC_ZoomReset->setText(Str(30));
    PM_ResCopy->setText(Str(43));
    PM_ResCopyAll->setText(Str(31));
    PM_ResCopyRow->setText(Str(33));
    PM_ResExcel->setText(Str(34));
    PM_ResIsoDist->setText(Str(35));
    PM_ResSave->setText(Str(36));
    PM_ResShow->setText(Str(37));
    SD_Results.Filter = Str(38);
    SD_Results.Title = Str(39);
    SD_Results.DefaultExt = QStringLiteral("csv|dif");
    ui.PC_View->setTabText(ui.PC_View->indexOf(ui.TS_IsoChart), Str(40));
    ui.PC_View->setTabText(ui.PC_View->indexOf(ui.TS_Preview), Str(41));
}

void TDlgQvMain::ApplyMenuImages() {
    auto icon = [this](QAction* a, int index) { a->setIcon(MenuImages->GetIcon(index)); };
    icon(PM_ResShow, 1);
    icon(PM_ResIsoDist, 2);
    icon(PM_ResSave, 3);
    icon(PM_ResCopy, 4);
    icon(PM_ResCopyRow, 6);
    icon(PM_ResCopyAll, 5);
    icon(PM_ResExcel, 0);
    PM_IC_Edit->setIcon(MenuImages->GetIcon(10));
    icon(PM_IC_CopyChart, 14);
    icon(PM_IC_CopyData, 4);
    icon(PM_IC_SendExp, 13);
    PM_IC_Zoom->setIcon(MenuImages->GetIcon(8));
    icon(PM_IC_ZoomIn, 11);
    icon(PM_IC_ZoomOut, 12);
    icon(PM_IC_ZoomReset, 9);
    icon(PM_IC_Print, 7);
}

void TDlgQvMain::ConnectEvents() {
    // VCL raises OnChange of a combo box only for the user's choice: so does activated().
    connect(ui.CB_Database, QOverload<int>::of(&QComboBox::activated), this, [this] { CB_DatabaseChange(); });
    connect(ui.CB_Mass, QOverload<int>::of(&QComboBox::activated), this, [this] { CB_MassChange(); });
    connect(ui.STR_Mass, &QLineEdit::textChanged, this, [this] { EnableButtons(); });
    connect(ui.STR_Ppm, &QLineEdit::textChanged, this, [this] { EnableButtons(); });
    connect(ui.STR_MaxResults, &QLineEdit::textChanged, this, [this] { EnableButtons(); });
    // Return in a search field searches, when the search can run.
    for (QLineEdit* field : {ui.STR_Mass, ui.STR_Ppm, ui.STR_MaxResults})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (ui.BT_Search->isEnabled()) BT_SearchClick();
        });
    connect(ui.BT_Default, &QPushButton::clicked, this, [this] { BT_DefaultClick(); });
    connect(ui.BT_Search, &QPushButton::clicked, this, [this] { BT_SearchClick(); });
    connect(ui.BT_ExUpdate, &QPushButton::clicked, this, [this] { BT_ExUpdateClick(); });
    connect(ui.ME_ExData, &QPlainTextEdit::textChanged, this, [this] { ME_ExDataChange(); });
    connect(ui.PC_View, &QTabWidget::currentChanged, this, [this] { PC_ViewChange(); });

    QTreeWidget* lv = ui.LV_Results;
    lv->header()->setSectionsClickable(true);
    lv->header()->setSortIndicatorShown(false);
    for (int c = 0; c < 3; ++c)
        lv->setColumnWidth(c, LV_ColumnWidth[c]);
    connect(lv->header(), &QHeaderView::sectionClicked, this, [this](int c) { LV_ResultsColumnClick(c); });
    connect(lv, &QTreeWidget::itemDoubleClicked, this, [this] { PM_ResIsoDistClick(); });
    connect(lv, &QTreeWidget::itemSelectionChanged, this, [this] { LV_ResultsSelectItem(); });
    connect(lv, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        PM_ResultsPopup();
        PM_Results->exec(ui.LV_Results->viewport()->mapToGlobal(p));
    });
    connect(ui.TC_IsoChart, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        PM_IsoChart->exec(ui.TC_IsoChart->mapToGlobal(p));
    });

    connect(PM_ResShow, &QAction::triggered, this, [this] { PM_ResShowClick(); });
    connect(PM_ResIsoDist, &QAction::triggered, this, [this] { PM_ResIsoDistClick(); });
    connect(PM_ResSave, &QAction::triggered, this, [this] { PM_ResSaveClick(); });
    connect(PM_ResCopy, &QAction::triggered, this, [this] { PM_ResCopyClick(); });
    connect(PM_ResCopyRow, &QAction::triggered, this, [this] { PM_ResCopyRowClick(); });
    connect(PM_ResCopyAll, &QAction::triggered, this, [this] { PM_ResCopyAllClick(); });
    connect(PM_ResExcel, &QAction::triggered, this, [this] { PM_ResExcelClick(); });
    connect(PM_IC_CopyChart, &QAction::triggered, this, [this] { PM_IC_CopyChartClick(); });
    connect(PM_IC_CopyData, &QAction::triggered, this, [this] { PM_IC_CopyDataClick(); });
    connect(PM_IC_SendExp, &QAction::triggered, this, [this] { PM_IC_SendExpClick(); });
    connect(PM_IC_ZoomIn, &QAction::triggered, this, [this] { PM_IC_ZoomInClick(); });
    connect(PM_IC_ZoomOut, &QAction::triggered, this, [this] { PM_IC_ZoomOutClick(); });
    connect(PM_IC_ZoomReset, &QAction::triggered, this, [this] { PM_IC_ZoomResetClick(); });
    connect(PM_IC_Print, &QAction::triggered, this, [this] { PM_IC_PrintClick(); });
    IsoConnectEvents();
    SD_Results.OnShow = [this] { SD_ResultsShow(); };
    PD_Print.OnShow = [this] { PD_PrintShow(); };

    // The status bar's one owner-drawn panel.
    auto* panel = new QWidget(ui.SB_Status);
    panel->setObjectName(QString::fromLatin1(StatusPanelName));
    panel->setFixedWidth(50);
    panel->installEventFilter(this);
    ui.SB_Status->addPermanentWidget(panel);
}

bool TDlgQvMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && watched->objectName() == QLatin1String(StatusPanelName)) {
        auto* w = static_cast<QWidget*>(watched);
        QPainter p(w);
        SB_StatusDrawPanel(p, w->rect());
        return true;
    }
    return TAlphaForm::eventFilter(watched, event);
}

void TDlgQvMain::SB_StatusDrawPanel(QPainter& painter, const QRect& rect) {
    // A plain sunken panel, the colour of the window.
    painter.fillRect(rect.adjusted(1, 1, -1, -1), palette().window());
}

void TDlgQvMain::OnFormShow() {
    const int32_t saved = SaveIni;
    ListDatabases();
    if (FirstShow) {
        ReadSettings(false);
        CB_DatabaseChange();
        FirstShow = false;
    }
    EnableButtons();
    EnableChartPopup();
    ui.BT_ExUpdate->setEnabled(SerExp || !ui.ME_ExData->toPlainText().isEmpty());
    EnableResPopup();
    SaveIni = saved ? 1 : 0;
}

void TDlgQvMain::OnFormResize() {
    // Extra width is shared equally between the left column and the pages.
    // (The minimum size keeps the form at least as wide as designed, so d >= 0.)
    const int d = (width() - DesignWidth) / 2;
    QWidget* view = ui.PC_View;
    SetControlBounds(view, DesignViewLeft + d, view->y(), DesignViewWidth + d, view->height());
    SetControlBounds(ui.GRP_Param, ui.GRP_Param->x(), ui.GRP_Param->y(), DesignResultsWidth + d,
                     ui.GRP_Param->height());
    SetControlBounds(ui.GRP_Results, ui.GRP_Results->x(), ui.GRP_Results->y(), DesignResultsWidth + d,
                     ui.GRP_Results->height());
}

void TDlgQvMain::PC_ViewChange() {
    if (ui.PC_View->currentWidget() == ui.TS_Preview) PreviewUpdate();
}

void TDlgQvMain::OnFormDestroy() {
    delete[] RowIds;
    RowIds = nullptr;
    delete PM_Edit;
    PM_Edit = nullptr;
    delete Renderer;
    Renderer = nullptr;
    delete RowSmiles;
    RowSmiles = nullptr;
}
