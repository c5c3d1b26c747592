// The structure renderer: construction, the worker, the panel's paint and
// destruction. The popup menu and its commands are in render2d_commands.cpp.
#include "render2d.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMetaObject>
#include <QPainter>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

#include "common_dialogs.h"
#include "indigo_api.h"
#include "render2d_private.h"

int32_t CRender2D::RenderCount = 0;
std::mutex* CRender2D::hRenderMutex = nullptr;

namespace {

// How much nicer than the process the worker runs: the user-interface thread
// keeps the processor while a large molecule is laid out.
constexpr int WorkerNiceStep = 4;
// Margin around the drawing in the panel, in logical pixels.
constexpr int PanelMargin = 8;
// Room around the toolkit's canvas for labels it draws beyond its estimate.
constexpr int PanelBorder = 48;
// What labels usually reach beyond the toolkit's estimate: asked for up
// front, so that a second fitting is seldom needed.
constexpr int LabelSlack = 6;

} // namespace

// The panel's event filter; the renderer is found in the panel's slot
// property, as the paint hook of any panel would find it.
class CRender2D::TPanelHook : public QObject {
  public:
    explicit TPanelHook(CRender2D* renderer) : Renderer(renderer) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        return CRender2D::PanelCallBack(watched, event);
    }
    // Runs on the user-interface thread for each finished request.
    void Repaint() {
        if (Renderer->Panel) Renderer->Panel->repaint();
    }
    CRender2D* Renderer;
};

CRender2D::CRender2D(QWidget* panel) {
    Smiles.clear();
    if (!panel) throw 0;
    if (!BindIndigo()) throw 0;

    Panel = panel;
    Hook = std::make_unique<TPanelHook>(this);
    panel->setProperty(PreviewSlotProperty, QVariant::fromValue(static_cast<void*>(this)));
    panel->installEventFilter(Hook.get());

    Delay = 1000;
    Molecule = -1;
    SessionId = TW_indigoAllocSessionId();
    WorkSessionId = TW_indigoAllocSessionId();
    HasSessions = true;
    Quit = false;
    if (RenderCount == 0) hRenderMutex = new std::mutex();
    Lock = hRenderMutex;

    try {
        BuildPopup();
        hThread = std::thread([this] { MainLoop(this); });
    } catch (...) {
        Undo();
        throw 0;
    }
    ++RenderCount;
}

void CRender2D::Undo() {
    ReleasePanel();
    Popup_.reset();
    Hook.reset();
    ReleaseSessions();
    if (RenderCount == 0) {
        delete hRenderMutex;
        hRenderMutex = nullptr;
    }
    Lock = nullptr;
}

CRender2D::~CRender2D() {
    // The worker goes first: once it has been joined, nothing uses the
    // sessions or posts to the panel any more. It never waits for the
    // user-interface thread (its repaints are posted), so the join cannot
    // deadlock; at worst it waits for the layout in progress to finish.
    {
        std::lock_guard<std::mutex> l(hEvent.m);
        Quit = true;
        hEvent.signalled = true;
    }
    hEvent.cv.notify_all();
    if (hThread.joinable()) hThread.join();

    ReleaseSessions();
    ReleasePanel();
    // Repaints still posted by the worker go with their receiver.
    Hook.reset();
    Popup_.reset();
    if (--RenderCount == 0) {
        delete hRenderMutex;
        hRenderMutex = nullptr;
    }
    Smiles.clear();
}

void CRender2D::ReleaseSessions() {
    // A session takes its objects (the molecule on show) with it.
    if (HasSessions) {
        for (unsigned long long s : {SessionId, WorkSessionId}) {
            TW_indigoSetSessionId(s);
            TW_indigoRenderReset();
            TW_indigoReleaseSessionId(s);
        }
    }
    HasSessions = false;
    Molecule = -1;
}

void CRender2D::ReleasePanel() {
    QWidget* panel = Panel;
    if (!panel) return;
    if (Hook) panel->removeEventFilter(Hook.get());
    panel->setProperty(PreviewSlotProperty, QVariant());
    if (Popup_)
        for (QAction* a : Popup_->actions())
            panel->removeAction(a);
    panel->update();
    Panel = nullptr;
}

void CRender2D::SetMolecule(const char* text, bool asIs) {
    const bool has = text && *text;
    {
        std::lock_guard<std::mutex> l(*Lock);
        if (has)
            Smiles = text;
        else
            Smiles.clear();
        AsIs = asIs;
        ++Requests;
    }
    PopupEnable(has);
    {
        std::lock_guard<std::mutex> l(hEvent.m);
        hEvent.signalled = true;
    }
    hEvent.cv.notify_one();
}

int CRender2D::MainLoop(void* renderer) {
    try {
        static_cast<CRender2D*>(renderer)->Run();
    } catch (...) {
        // Nothing may leave the thread; a worker that fails just ends.
        std::fprintf(stderr, "Quorvel: structure worker ended by a failure\n");
    }
    return 0;
}

void CRender2D::Run() {
    // Below normal priority: on Linux a thread id names one thread to
    // setpriority, and raising one's own nice value is always allowed.
    const pid_t tid = gettid();
    ThreadId_ = static_cast<uint32_t>(tid);
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::min(nice + WorkerNiceStep, 19));

    TPanelHook* hook = Hook.get();
    for (;;) {
        {
            std::unique_lock<std::mutex> l(hEvent.m);
            hEvent.cv.wait(l, [this] { return hEvent.signalled; });
            hEvent.signalled = false;
        }
        if (Quit) return;

        std::string text;
        bool asIs;
        uint64_t request;
        {
            std::lock_guard<std::mutex> l(*Lock);
            text = Smiles;
            asIs = AsIs;
            request = Requests;
        }
        // The molecule is read and laid out in the worker's own session,
        // without the display lock: a paint or a new request never waits for
        // a layout, however long it takes.
        TW_indigoSetSessionId(WorkSessionId);
        TW_indigoRenderReset();
        const int molecule = Prepare(text, asIs);
        // Destroyed meanwhile: the sessions go with the renderer.
        if (Quit) return;

        bool current;
        int leaving = -1;
        {
            std::lock_guard<std::mutex> l(*Lock);
            current = Requests == request;
            if (current) {
                leaving = Molecule;
                Molecule = molecule;
                std::swap(SessionId, WorkSessionId);
                ShownSmiles = text;
                ++Generation_;
            }
        }
        // WorkSessionId is now the session that left the screen (or, for a
        // request already overtaken, the one just used): the worker's alone.
        TW_indigoSetSessionId(WorkSessionId);
        if (!current) {
            // A newer request is waiting (its event is set): do that one.
            if (molecule >= 0) TW_indigoFree(molecule);
            continue;
        }
        if (leaving >= 0) TW_indigoFree(leaving);

        QMetaObject::invokeMethod(
            hook, [hook] { hook->Repaint(); }, Qt::QueuedConnection);

        const int32_t delay = Delay;
        if (delay > 0) {
            std::unique_lock<std::mutex> l(hEvent.m);
            hEvent.cv.wait_for(l, std::chrono::milliseconds(delay), [this] { return Quit.load(); });
        }
    }
}

int CRender2D::Prepare(const std::string& text, bool asIs) {
    if (text.empty()) return -1;
    const int reader = TW_indigoReadString(text.c_str());
    if (reader < 0) return -1;
    int molecule = TW_indigoLoadMolecule(reader);
    if (molecule >= 0) {
        // A line notation (SMILES) has no coordinates and the drawing keeps
        // none it computes, so the layout is made here, once; a text with
        // lines (a molfile) brings its own.
        const bool noCoordinates = text.find_first_of("\r\n") == std::string::npos;
        const bool layout = noCoordinates || (!asIs && TW_indigoHasZCoord(molecule) > 0);
        if (layout && TW_indigoLayout(molecule) < 0) {
            TW_indigoFree(molecule);
            molecule = -1;
        } else if (!asIs) {
            TW_indigoFoldHydrogens(molecule);
        }
    }
    TW_indigoFree(reader);
    return molecule;
}

bool CRender2D::PanelCallBack(QObject* panel, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Paint && type != QEvent::ContextMenu) return false;
    auto* self = static_cast<CRender2D*>(panel->property(PreviewSlotProperty).value<void*>());
    if (!self) return false;
    try {
        if (type == QEvent::Paint) return self->PaintPanel(event);
        if (self->Popup_) {
            self->Popup_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    } catch (...) {
        std::fprintf(stderr, "Quorvel: structure preview failed to paint\n");
    }
    return false;
}

bool CRender2D::PaintPanel(QEvent* event) {
    QWidget* panel = Panel;
    if (!panel) return false;
    {
        std::lock_guard<std::mutex> l(*Lock);
        // Nothing to draw: the panel paints its face and its children (the
        // logo) as usual.
        if (Molecule < 0) return false;
    }
    // The panel's own face first (its frame), then the molecule over it.
    static_cast<QObject*>(panel)->event(event);

    const double dpr = panel->devicePixelRatioF();
    const int width = static_cast<int>(std::lround(panel->width() * dpr));
    const int height = static_cast<int>(std::lround(panel->height() * dpr));
    QImage image;
    {
        std::lock_guard<std::mutex> l(*Lock);
        if (Molecule >= 0) {
            // The same molecule at the same size draws the same picture: it
            // is rendered again only when one of them changed.
            if (!CacheSet || CacheGeneration != Generation_ || CacheWidth != width ||
                CacheHeight != height) {
                Cache = RenderImage(width, height, dpr);
                CacheGeneration = Generation_;
                CacheWidth = width;
                CacheHeight = height;
                CacheSet = true;
            }
            image = Cache;
            if (!image.isNull()) {
                ++DrawnPaints_;
                PaintedGeneration_ = Generation_;
            }
        }
    }
    if (!image.isNull()) {
        QPainter painter(panel);
        painter.drawImage(QPointF(0, 0), image);
    }
    return true;
}

QImage CRender2D::RenderImage(int width, int height, double dpr) {
    // Called with the display lock held, on the user-interface thread.
    TW_indigoSetSessionId(SessionId);
    const int margin = static_cast<int>(std::lround(PanelMargin * dpr));
    // The toolkit fits and centres the molecule by its own estimate of the
    // labels' size, which falls a few pixels short: a label at the edge may
    // be cut off. So it draws on a canvas larger than the panel by a border
    // (the same margins plus the border give the same scale), the picture is
    // measured, and it is placed centred within the panel's margins.
    const int border = static_cast<int>(std::lround(PanelBorder * dpr));
    auto render = [&](int mx, int my) {
        TW_indigoSetOption("render-output-format", "png");
        TW_indigoSetOptionInt("render-image-width", width + 2 * border);
        TW_indigoSetOptionInt("render-image-height", height + 2 * border);
        TW_indigoSetOptionXY("render-margins", mx + border, my + border);
        TW_indigoSetOption("render-stereo-style", "none");
        QImage image;
        const int buffer = TW_indigoWriteBuffer();
        if (buffer < 0) return image;
        char* data = nullptr;
        int size = 0;
        if (TW_indigoRender(Molecule, buffer) >= 0 &&
            TW_indigoToBuffer(buffer, &data, &size) >= 0 && data && size > 0)
            image = QImage::fromData(reinterpret_cast<const uchar*>(data), size, "PNG");
        TW_indigoFree(buffer);
        return image;
    };
    const int slack = static_cast<int>(std::lround(LabelSlack * dpr));
    QImage image = render(margin + slack, margin + slack);
    QRect ink = image.isNull() ? QRect() : InkBounds(image);
    if (ink.isNull()) return QImage();
    // Too large for the room within the margins: the margins grow by the
    // excess and the toolkit fits it again.
    const int roomX = width - 2 * margin, roomY = height - 2 * margin;
    const int overX = ink.width() - roomX, overY = ink.height() - roomY;
    if (overX > 0 || overY > 0) {
        const QImage again = render(margin + slack + std::max(overX, 0) / 2 + 1,
                                    margin + slack + std::max(overY, 0) / 2 + 1);
        const QRect againInk = again.isNull() ? QRect() : InkBounds(again);
        if (!againInk.isNull()) {
            image = again;
            ink = againInk;
        }
    }
    // Centred on what was drawn.
    const QPoint shift = QRect(0, 0, width, height).center() - ink.center();
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    {
        QPainter p(&out);
        p.drawImage(ink.topLeft() + shift, image, ink);
    }
    out.setDevicePixelRatio(dpr);
    return out;
}

QRect InkBounds(const QImage& image) {
    const QImage im = image.format() == QImage::Format_ARGB32 ||
                              image.format() == QImage::Format_ARGB32_Premultiplied
                          ? image
                          : image.convertToFormat(QImage::Format_ARGB32);
    int left = im.width(), right = -1, top = im.height(), bottom = -1;
    for (int y = 0; y < im.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(im.constScanLine(y));
        int first = -1, last = -1;
        for (int x = 0; x < im.width(); ++x)
            if (qAlpha(row[x]) != 0) {
                if (first < 0) first = x;
                last = x;
            }
        if (first < 0) continue;
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0) return QRect();
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

bool CRender2D::HasMolecule() const {
    std::lock_guard<std::mutex> l(*Lock);
    return Molecule >= 0;
}

std::string CRender2D::ShownText() const {
    std::lock_guard<std::mutex> l(*Lock);
    return ShownSmiles;
}

uint64_t CRender2D::DrawnPaints() const {
    std::lock_guard<std::mutex> l(*Lock);
    return DrawnPaints_;
}

uint64_t CRender2D::PaintedGeneration() const {
    std::lock_guard<std::mutex> l(*Lock);
    return PaintedGeneration_;
}

uint64_t CRender2D::Generation() const {
    std::lock_guard<std::mutex> l(*Lock);
    return Generation_;
}

std::pair<unsigned long long, unsigned long long> CRender2D::Sessions() const {
    std::lock_guard<std::mutex> l(*Lock);
    return {SessionId, WorkSessionId};
}
