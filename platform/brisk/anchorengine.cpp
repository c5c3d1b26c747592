#include "anchorengine.h"
#include "alphaform.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QLayout>
#include <QRegularExpression>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>
#include <cstdint>

namespace {

// Increments a counter for the lifetime of a scope: while it is non-zero the
// engine's own geometry changes do not re-enter it through resize events.
struct BusyScope {
    explicit BusyScope(int& n) : n_(n) { ++n_; }
    ~BusyScope() { --n_; }
    int& n_;
};

// num / den rounded to the nearest integer, halves upwards; den > 0.
int RoundDiv(std::int64_t num, std::int64_t den) {
    std::int64_t q = (2 * num + den) / (2 * den);
    if ((2 * num + den) % (2 * den) != 0 && (2 * num + den) < 0) --q; // floor for negatives
    return static_cast<int>(q);
}

// One axis of the placement: position and length of the control for a
// parent that changed from length d0 to d1.
void PlaceAxis(int pos, int len, int d0, int d1, bool near, bool far, int& npos, int& nlen) {
    nlen = len;
    npos = pos;
    if (near && far) {
        nlen = std::max(0, len + d1 - d0);
    } else if (far) {
        npos = pos + d1 - d0;
    } else if (!near && d0 > 0) {
        // The centre keeps its relative place: centre' = centre * d1 / d0.
        npos = RoundDiv(std::int64_t(2 * pos + len) * d1 - std::int64_t(len) * d0,
                        2 * std::int64_t(d0));
    }
}

bool IsInternalName(const QString& name) {
    return name.startsWith(QLatin1String("qt_"));
}

// The size Qt gives the pages of `tw` at its present size; the same rule as
// the tab widget's own layout, which only runs once it is visible.
QSize TabPageSize(QTabWidget* tw, QWidget* stack) {
    // initStyleOption is protected; a pointer to it taken through a derived
    // class is an ordinary pointer to member of QTabWidget.
    struct Access : QTabWidget {
        using QTabWidget::initStyleOption;
    };
    void (QTabWidget::*init)(QStyleOptionTabWidgetFrame*) const = &Access::initStyleOption;
    QStyleOptionTabWidgetFrame opt;
    (tw->*init)(&opt);
    const QRect contents = tw->style()->subElementRect(QStyle::SE_TabWidgetTabContents, &opt, tw);
    const QMargins m = stack->contentsMargins();
    return QSize(std::max(0, contents.width() - m.left() - m.right()),
                 std::max(0, contents.height() - m.top() - m.bottom()));
}

} // namespace

unsigned BriskParseAnchors(const QString& text) {
    unsigned anchors = 0;
    const auto words =
        text.split(QRegularExpression(QStringLiteral("[\\s,|;+]+")), Qt::SkipEmptyParts);
    for (QString w : words) {
        w = w.toLower();
        if (w.startsWith(QLatin1String("ak"))) w.remove(0, 2);
        if (w == QLatin1String("left"))
            anchors |= AK_LEFT;
        else if (w == QLatin1String("top"))
            anchors |= AK_TOP;
        else if (w == QLatin1String("right"))
            anchors |= AK_RIGHT;
        else if (w == QLatin1String("bottom"))
            anchors |= AK_BOTTOM;
    }
    return anchors;
}

QRect BriskAnchorPlace(const QRect& design, const QSize& designParent, const QSize& parent,
                       unsigned anchors) {
    if (!designParent.isValid() || !parent.isValid()) return design;
    int x, y, w, h;
    PlaceAxis(design.x(), design.width(), designParent.width(), parent.width(), anchors & AK_LEFT,
              anchors & AK_RIGHT, x, w);
    PlaceAxis(design.y(), design.height(), designParent.height(), parent.height(), anchors & AK_TOP,
              anchors & AK_BOTTOM, y, h);
    return QRect(x, y, w, h);
}

BriskAnchorEngine::BriskAnchorEngine(QWidget* form) : form_(form) {}

BriskAnchorEngine::~BriskAnchorEngine() {
    for (auto& [key, w] : watched_)
        if (w) w->removeEventFilter(this);
}

void BriskAnchorEngine::Load() {
    for (auto& [key, w] : watched_)
        if (w) w->removeEventFilter(this);
    watched_.clear();
    controls_.clear();
    managed_.clear();
    // Fonts and style must be final before the tab pages' sizes are computed.
    form_->ensurePolished();
    formDesign_ = form_->size();
    loaded_ = true;
    Scan(form_);
}

void BriskAnchorEngine::Scan(QWidget* parent) {
    for (QObject* o : parent->children()) {
        if (!o->isWidgetType()) continue;
        auto* w = static_cast<QWidget*>(o);
        if (w->isWindow()) continue;
        if (IsAnchorable(w)) {
            const QVariant v = w->property("anchors");
            unsigned anchors = AK_DEFAULT;
            if (v.isValid())
                anchors = BriskParseAnchors(v.typeId() == QMetaType::QStringList
                                                ? v.toStringList().join(QLatin1Char(','))
                                                : v.toString());
            EnsureContainer(parent);
            Record(w, anchors);
        }
        Scan(w);
    }
}

bool BriskAnchorEngine::IsAnchorable(const QWidget* w) const {
    const QWidget* p = w->parentWidget();
    if (!p || w->isWindow()) return false;
    // Qt's own inner widgets (tab bars, stacks, viewports, scroll bars) carry
    // "qt_" names or none; what a form defines is always named.
    if (w->objectName().isEmpty() || IsInternalName(w->objectName())) return false;
    if (IsInternalName(p->objectName())) return false;
    if (p->layout() && p->layout()->indexOf(const_cast<QWidget*>(w)) >= 0) return false;
    if (qobject_cast<const QSplitter*>(p) || qobject_cast<const QAbstractScrollArea*>(p))
        return false;
    return true;
}

void BriskAnchorEngine::Record(QWidget* w, unsigned anchors) {
    QWidget* p = w->parentWidget();
    Control c;
    c.rect = w->geometry();
    c.parentSize = DesignSizeOf(p);
    c.loadSize = w->size();
    c.anchors = anchors;
    controls_[w] = c;
    Track(w);
    Watch(p);
}

bool BriskAnchorEngine::IsContainer(const QWidget* w) const {
    return w == form_ || controls_.count(w) || managed_.count(w);
}

QSize BriskAnchorEngine::RefLoadSize(const QWidget* ref) const {
    if (ref == form_) return formDesign_;
    auto it = controls_.find(ref);
    return it != controls_.end() ? it->second.loadSize : ref->size();
}

void BriskAnchorEngine::EnsureContainer(QWidget* p) {
    if (IsContainer(p)) return;
    // A container Qt places (a tab page): its size follows the nearest
    // ancestor that the anchors place.
    QWidget* ref = p->parentWidget();
    while (ref && ref != form_ && !controls_.count(ref))
        ref = ref->parentWidget();
    if (!ref) ref = form_;
    Managed m{QSize(), ref};
    const QSize delta = ref->size() - RefLoadSize(ref);
    QWidget* stack = p->parentWidget();
    auto* tw = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    if (tw && tw == ref && qobject_cast<QStackedWidget*>(stack)) {
        m.design = TabPageSize(tw, stack) - delta;
    } else if (p->isVisible() && !p->size().isEmpty()) {
        m.design = p->size() - delta;
    }
    managed_[p] = m;
    Watch(p);
}

QSize BriskAnchorEngine::DesignSizeOf(QWidget* p) {
    if (p == form_) return formDesign_;
    if (auto it = controls_.find(p); it != controls_.end()) return it->second.loadSize;
    if (auto it = managed_.find(p); it != managed_.end()) return it->second.design;
    return p->size();
}

QSize BriskAnchorEngine::ParentSize(QWidget* p) {
    auto it = managed_.find(p);
    if (it == managed_.end()) return p->size();
    Managed& m = it->second;
    const bool laidOut = p->isVisible() && !p->size().isEmpty();
    const QSize delta = m.ref->size() - RefLoadSize(m.ref);
    if (!m.design.isValid()) {
        // First time Qt has placed it: its design size follows from now.
        if (!laidOut) return QSize();
        m.design = p->size() - delta;
        for (auto& [w, c] : controls_)
            if (w->parentWidget() == p && !c.parentSize.isValid()) c.parentSize = m.design;
    }
    // A hidden page is placed by Qt only when it is shown; until then its
    // controls follow the size it is going to have.
    return laidOut ? p->size() : m.design + delta;
}

void BriskAnchorEngine::ArrangeChildren(QWidget* p) {
    const QObjectList kids = p->children();
    if (IsContainer(p)) {
        const QSize size = ParentSize(p);
        if (size.isValid()) {
            for (QObject* o : kids) {
                if (!o->isWidgetType()) continue;
                auto* w = static_cast<QWidget*>(o);
                auto it = controls_.find(w);
                if (it == controls_.end()) continue;
                const Control& c = it->second;
                if (!c.parentSize.isValid()) continue;
                const QRect r = BriskAnchorPlace(c.rect, c.parentSize, size, c.anchors);
                if (w->geometry() != r) w->setGeometry(r);
            }
        }
    }
    for (QObject* o : kids)
        if (o->isWidgetType() && !static_cast<QWidget*>(o)->isWindow())
            ArrangeChildren(static_cast<QWidget*>(o));
}

void BriskAnchorEngine::ArrangeAll() {
    if (!loaded_) return;
    BusyScope busy(busy_);
    ArrangeChildren(form_);
}

void BriskAnchorEngine::SetBounds(QWidget* w, const QRect& r) {
    BusyScope busy(busy_);
    w->setGeometry(r);
    if (auto it = controls_.find(w); it != controls_.end() && w->parentWidget()) {
        it->second.rect = r;
        it->second.parentSize = ParentSize(w->parentWidget());
    }
    if (loaded_) ArrangeChildren(w);
}

void BriskAnchorEngine::Rebase(QWidget* w) {
    SetBounds(w, w->geometry());
}

void BriskAnchorEngine::SetAnchors(QWidget* w, unsigned anchors) {
    QWidget* p = w->parentWidget();
    if (!p || w->isWindow() || !loaded_) return;
    EnsureContainer(p);
    if (!controls_.count(w)) Record(w, anchors);
    Control& c = controls_[w];
    c.anchors = anchors;
    c.rect = w->geometry();
    c.parentSize = ParentSize(p);
}

unsigned BriskAnchorEngine::Anchors(const QWidget* w) const {
    auto it = controls_.find(w);
    return it == controls_.end() ? unsigned(AK_DEFAULT) : it->second.anchors;
}

void BriskAnchorEngine::Track(QWidget* w) {
    if (tracked_.insert(w).second)
        connect(w, &QObject::destroyed, this, [this](QObject* o) { Forget(o); });
}

void BriskAnchorEngine::Watch(QWidget* p) {
    Track(p);
    if (p == form_ || watched_.count(p)) return;
    watched_[p] = p;
    p->installEventFilter(this);
}

void BriskAnchorEngine::Forget(QObject* o) {
    auto* w = static_cast<QWidget*>(o); // used as a key only: o is being destroyed
    controls_.erase(w);
    managed_.erase(w);
    watched_.erase(w);
    tracked_.erase(w);
    for (auto it = managed_.begin(); it != managed_.end();)
        it = it->second.ref == w ? managed_.erase(it) : std::next(it);
}

bool BriskAnchorEngine::eventFilter(QObject* watched, QEvent* event) {
    if (busy_ == 0 && (event->type() == QEvent::Resize || event->type() == QEvent::Show) &&
        watched->isWidgetType()) {
        BusyScope busy(busy_);
        ArrangeChildren(static_cast<QWidget*>(watched));
    }
    return QObject::eventFilter(watched, event);
}
