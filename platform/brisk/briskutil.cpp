#include "briskutil.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

// The global rectangle a widget covers: a window with its frame.
QRect GlobalRect(const QWidget* w) {
    if (w->isWindow()) return w->frameGeometry();
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

} // namespace

void BriskCenterDialog(QWidget* dialog, QWidget* over) {
    if (!dialog) return;
    QScreen* screen = nullptr;
    QRect target;
    if (over) {
        target = GlobalRect(over);
        screen = QGuiApplication::screenAt(target.center());
        if (!screen) screen = over->screen();
    } else {
        screen = dialog->screen();
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) target = screen->availableGeometry();
    }
    // Before the first show a window has no frame yet: its frame geometry is
    // its geometry.
    const QSize size = dialog->isWindow() ? dialog->frameGeometry().size() : dialog->size();
    QPoint topLeft(target.x() + (target.width() - size.width()) / 2,
                   target.y() + (target.height() - size.height()) / 2);
    if (screen) {
        const QRect avail = screen->availableGeometry();
        topLeft.setX(
            std::max(avail.left(), std::min(topLeft.x(), avail.right() + 1 - size.width())));
        topLeft.setY(
            std::max(avail.top(), std::min(topLeft.y(), avail.bottom() + 1 - size.height())));
    }
    if (dialog->isWindow())
        dialog->move(topLeft); // a window's position is that of its frame
    else if (QWidget* parent = dialog->parentWidget())
        dialog->move(parent->mapFromGlobal(topLeft));
}

void BriskPlayDefSound() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
}
