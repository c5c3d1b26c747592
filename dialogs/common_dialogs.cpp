#include "common_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>

std::function<QString(TSaveDialog&, QWidget*)> TSaveDialog::Hook;
std::function<bool(QPrinter*, QWidget*)> TPrintDialog::Hook;

QStringList TSaveDialog::QtFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        // "Comma Separated Values (*.csv)" already names its pattern.
        if (!desc.contains(parts[i + 1])) desc += QStringLiteral(" (%1)").arg(parts[i + 1]);
        out << desc;
    }
    return out;
}

QString TSaveDialog::WithDefaultExt(const QString& name) const {
    if (name.isEmpty() || !QFileInfo(name).suffix().isEmpty()) return name;
    const QStringList exts = DefaultExt.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (exts.isEmpty()) return name;
    const int i = FilterIndex >= 1 && FilterIndex <= exts.size() ? FilterIndex - 1 : 0;
    return name + QLatin1Char('.') + exts[i];
}

bool TSaveDialog::Execute(QWidget* parent) {
    if (OnShow) OnShow();
    QString chosen;
    if (Hook) {
        chosen = Hook(*this, parent);
    } else {
        const QStringList filters = QtFilters(Filter);
        QString selected = filters.value(FilterIndex - 1);
        chosen = QFileDialog::getSaveFileName(parent, Title, FileName, filters.join(QStringLiteral(";;")),
                                              &selected);
        const int idx = filters.indexOf(selected);
        if (idx >= 0) FilterIndex = idx + 1;
    }
    if (chosen.isEmpty()) return false;
    FileName = WithDefaultExt(chosen);
    return true;
}

TPrintDialog::TPrintDialog() : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {}
TPrintDialog::~TPrintDialog() = default;

bool TPrintDialog::Execute(QWidget* parent) {
    if (OnShow) OnShow();
    if (Hook) return Hook(printer_.get(), parent);
    QPrintDialog dlg(printer_.get(), parent);
    return dlg.exec() == QDialog::Accepted;
}
