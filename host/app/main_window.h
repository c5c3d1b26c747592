#pragma once
// The host's main window: the workspace with the loaded molecule, the menus
// that carry the plug-ins' entries, and everything that lives as long as it.
#include <QMainWindow>
#include <memory>

#include "host_settings.h"
#include "interpreter.h"
#include "module_loader.h"
#include "plugin_manager.h"
#include "qt_host_ui.h"

class QLabel;
class QMenu;
class StructureView;

class Workspace : public QWidget {
    Q_OBJECT
public:
    explicit Workspace(QWidget* parent = nullptr);
    void showMolecule(const WorkspaceMolecule& m);

private:
    QLabel* title_;
    QLabel* details_;
    StructureView* drawing_;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const HostOptions& options);
    ~MainWindow() override;

    // Releases every plug-in (Free, then unload); safe to call twice.
    void shutdown();

    PluginManager& plugins() { return *plugins_; }
    QMenu* toolsMenu() const { return tools_; }
    QMenu* helpMenu() const { return help_; }

private:
    void buildPluginMenus();

    HostOptions options_;
    Workspace* workspace_;
    QMenu* tools_;
    QMenu* help_;
    std::unique_ptr<ModuleLoader> loader_;
    std::unique_ptr<QtHostUi> ui_;
    std::unique_ptr<CommandInterpreter> interpreter_;
    std::unique_ptr<HostLink> link_;
    std::unique_ptr<PluginManager> plugins_;
};
