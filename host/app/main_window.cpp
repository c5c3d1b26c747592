#include "main_window.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QStatusBar>
#include <QVBoxLayout>

#include "demo_database_dialog.h"
#include "structure_view.h"

Workspace::Workspace(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel(tr("No molecule loaded"), this);
    QFont f = title_->font();
    f.setPointSizeF(f.pointSizeF() * 1.5);
    f.setBold(true);
    title_->setFont(f);
    details_ = new QLabel(this);
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    drawing_ = new StructureView(this);
    layout->addWidget(title_);
    layout->addWidget(details_);
    layout->addWidget(drawing_, 1);
    setMinimumSize(480, 320);
}

void Workspace::showMolecule(const WorkspaceMolecule& m) {
    title_->setText(QString::fromStdString(m.name.empty() ? m.formula : m.name));
    details_->setText(tr("Formula: %1\nMonoisotopic mass: %2\nSMILES: %3\nID %4")
                          .arg(QString::fromStdString(m.formula))
                          .arg(QLocale().toString(m.mass, 'f', 6))
                          .arg(QString::fromStdString(m.smiles))
                          .arg(m.id));
    drawing_->setSmiles(m.smiles);
}

MainWindow::MainWindow(const HostOptions& options) : options_(options) {
    setWindowTitle(tr("Tarvish"));
    workspace_ = new Workspace(this);
    setCentralWidget(workspace_);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("Build &demo databases..."), this,
                    [this] { offerDemoDatabases(this, options_, false); });
    file->addSeparator();
    file->addAction(tr("E&xit"), QKeySequence::Quit, this, &QWidget::close);
    tools_ = menuBar()->addMenu(tr("&Tools"));
    help_ = menuBar()->addMenu(tr("&Help"));

    loader_ = std::make_unique<ModuleLoader>(options_.hostDir);
    for (const std::string& m : options_.refusedModules) loader_->refuse(m);
    ui_ = std::make_unique<QtHostUi>(this);
    ui_->onShowMolecule = [this](const WorkspaceMolecule& m) { workspace_->showMolecule(m); };
    CommandInterpreter::Config cfg{options_.language, options_.dataDir, options_.hostDir};
    interpreter_ = std::make_unique<CommandInterpreter>(cfg, ui_.get());
    link_ = std::make_unique<HostLink>(*interpreter_, *loader_);
    plugins_ = std::make_unique<PluginManager>(*link_, options_.hostDir, options_.iniFile);
    plugins_->loadFolder(options_.hostDir + "plugins", this, workspace_);
    buildPluginMenus();

    help_->addSeparator();
    help_->addAction(tr("About &Tarvish"), this, [this] {
        QMessageBox::about(this, tr("About Tarvish"),
                           tr("Tarvish, a molecular-modelling workbench.\nLicensed under the GNU GPL v3 or later."));
    });
    if (!plugins_->problems().empty())
        statusBar()->showMessage(tr("Some plug-ins were left out: %1")
                                     .arg(QString::fromStdString(plugins_->problems().front())));
    resize(800, 560);
}

MainWindow::~MainWindow() { shutdown(); }

void MainWindow::shutdown() {
    if (plugins_) plugins_->unloadAll();
}

void MainWindow::buildPluginMenus() {
    const auto& list = plugins_->plugins();
    for (size_t i = 0; i < list.size(); ++i) {
        const LoadedPlugin& p = list[i];
        for (const PluginEntry& e : p.entries) {
            QString caption = QString::fromUtf8(e.caption.c_str());
            QMenu* menu = e.selector == 5 || caption.isEmpty() ? help_ : tools_;
            if (caption.isEmpty()) caption = tr("%1 help").arg(QString::fromStdString(p.name));
            QAction* a = menu->addAction(caption);
            a->setObjectName(QStringLiteral("plugin_%1_%2").arg(i).arg(e.funcId));
            if (e.bitmap) a->setIcon(QIcon(*static_cast<const QPixmap*>(e.bitmap)));
            const int id = e.funcId;
            connect(a, &QAction::triggered, this, [this, i, id] { plugins_->call(i, id); });
        }
    }
}
