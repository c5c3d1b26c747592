#pragma once
// A list of pictures addressed by index, as menus and buttons use them.
#include "brisk_export.h"

#include <QIcon>
#include <QStringList>
#include <vector>

class BRISK_API TImageList {
  public:
    TImageList() = default;
    // One picture per path (a file or a ":/" resource; SVG, PNG, ...), in
    // that order. A path that cannot be read gives a null picture, so the
    // indexes of the others stay as listed.
    explicit TImageList(const QStringList& paths);

    // Appends a picture and returns its index.
    int Add(const QIcon& icon);
    int Add(const QString& path);
    int Count() const { return int(icons_.size()); }
    // The picture at `index`; a null QIcon when the index is out of range.
    QIcon GetIcon(int index) const;
    void Clear() { icons_.clear(); }

  private:
    std::vector<QIcon> icons_;
};

// The list to give popup menus: a copy of `il` (empty for null) in which
// every picture is rendered in advance at 16 and 32 pixels, times the
// screen's device pixel ratio, in the normal, active and disabled modes. A
// vector (SVG) picture thus stays sharp at both menu sizes and on high-density
// screens, a bitmap is scaled once with smoothing rather than at each paint,
// and disabled menu entries show a greyed picture. Null pictures stay null.
BRISK_API TImageList BriskImageListPatch(const TImageList* il);
