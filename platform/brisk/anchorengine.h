#pragma once
// Anchor bookkeeping of one form (internal to libbrisk). It records the design
// geometry of every anchored control and places the controls again from it
// whenever a parent changes size.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <unordered_map>
#include <unordered_set>

class QWidget;

class BriskAnchorEngine : public QObject {
  public:
    explicit BriskAnchorEngine(QWidget* form);
    ~BriskAnchorEngine() override;

    // Forgets everything and records the present geometry of the form's
    // whole tree as the design.
    void Load();
    bool Loaded() const { return loaded_; }

    // Places the whole tree for the form's present size.
    void ArrangeAll();
    // Moves `w`, records it anew and places its children.
    void SetBounds(QWidget* w, const QRect& r);
    // Records the present geometry of `w` as its baseline; places its children.
    void Rebase(QWidget* w);
    // Anchors `w` (registering it when needed) with its present geometry.
    void SetAnchors(QWidget* w, unsigned anchors);
    unsigned Anchors(const QWidget* w) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // An anchored control: its geometry and its parent's size when recorded.
    struct Control {
        QRect rect;
        QSize parentSize; // invalid while the parent's design size is unknown
        QSize loadSize;   // the control's size at Load(), never rebased
        unsigned anchors;
    };
    // A container whose own size Qt manages (a tab page). Its design size is
    // the size it had, or would have had, with `ref` at its load size; its
    // size moves with `ref`'s size.
    struct Managed {
        QSize design; // invalid until known
        QWidget* ref;
    };

    void Scan(QWidget* parent);
    void Record(QWidget* w, unsigned anchors);
    bool IsAnchorable(const QWidget* w) const;
    bool IsContainer(const QWidget* w) const;
    void EnsureContainer(QWidget* p);
    QSize RefLoadSize(const QWidget* ref) const;
    QSize ParentSize(QWidget* p);
    QSize DesignSizeOf(QWidget* p);
    void ArrangeChildren(QWidget* p);
    void Track(QWidget* w);
    void Watch(QWidget* p);
    void Forget(QObject* o);

    QWidget* form_;
    QSize formDesign_;
    bool loaded_ = false;
    int busy_ = 0;
    std::unordered_map<const QWidget*, Control> controls_;
    std::unordered_map<const QWidget*, Managed> managed_;
    // Containers carrying the engine's event filter.
    std::unordered_map<const QWidget*, QPointer<QWidget>> watched_;
    // Widgets whose destruction the engine listens to.
    std::unordered_set<const QObject*> tracked_;
};
