#pragma once
// The save and print dialogs of the main dialog. Each runs its modal Qt
// dialog through a hook that tests replace (a chosen file, a PDF printer).
#include <QString>
#include <functional>
#include <memory>

class QPrinter;
class QWidget;

class TSaveDialog {
public:
    // Filter in the "Description|*.ext|Description|*.ext" form.
    QString Filter;
    QString Title;
    // Extensions to add when the user types none, "|"-separated, in the
    // order of the filter's entries ("csv|dif").
    QString DefaultExt;
    QString FileName;
    // 1-based index of the chosen filter entry.
    int FilterIndex = 1;
    std::function<void()> OnShow;

    // Asks for a file name; false when the user cancels.
    bool Execute(QWidget* parent);

    // The Qt filter list ("Description (*.ext)") for the "|" form.
    static QStringList QtFilters(const QString& filter);
    // The name with the chosen entry's extension added when it has none.
    QString WithDefaultExt(const QString& name) const;

    // Replaces the modal dialog: gets the dialog, returns the chosen name
    // (empty: cancelled) and may set FilterIndex.
    static std::function<QString(TSaveDialog&, QWidget* parent)> Hook;
};

class TPrintDialog {
public:
    TPrintDialog();
    ~TPrintDialog();
    QPrinter* Printer() const { return printer_.get(); }
    std::function<void()> OnShow;

    // Lets the user choose and set up the printer; false when cancelled.
    bool Execute(QWidget* parent);

    // Replaces the modal dialog: set up the printer (e.g. a PDF file) and
    // return whether to print.
    static std::function<bool(QPrinter*, QWidget* parent)> Hook;

private:
    std::unique_ptr<QPrinter> printer_;
};
