#include "imagelist.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>

TImageList::TImageList(const QStringList& paths) {
    for (const QString& p : paths)
        Add(p);
}

int TImageList::Add(const QIcon& icon) {
    icons_.push_back(icon);
    return Count() - 1;
}

int TImageList::Add(const QString& path) {
    // QIcon(path) is never null for a non-empty path, even when the file does
    // not exist; a picture that renders to nothing is stored as null.
    QIcon icon(path);
    if (!QFileInfo::exists(path) || icon.pixmap(QSize(16, 16)).isNull()) icon = QIcon();
    return Add(icon);
}

QIcon TImageList::GetIcon(int index) const {
    if (index < 0 || index >= Count()) return QIcon();
    return icons_[size_t(index)];
}

TImageList BriskImageListPatch(const TImageList* il) {
    TImageList out;
    if (!il) return out;
    const qreal dpr = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                          ? qGuiApp->devicePixelRatio()
                          : 1.0;
    for (int i = 0; i < il->Count(); ++i) {
        const QIcon src = il->GetIcon(i);
        if (src.isNull()) {
            out.Add(QIcon());
            continue;
        }
        QIcon icon;
        for (int extent : {16, 32}) {
            for (QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Disabled}) {
                const QPixmap pm = src.pixmap(QSize(extent, extent), dpr, mode);
                if (!pm.isNull()) icon.addPixmap(pm, mode);
            }
        }
        out.Add(icon);
    }
    return out;
}
