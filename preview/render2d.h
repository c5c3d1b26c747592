#pragma once
// CRender2D draws the 2D structure of one molecule, given as SMILES, into a
// panel. A worker thread reads and lays the molecule out; the panel's paint
// only renders the molecule the worker left. The renderer also owns the
// panel's popup menu: copy picture, copy SMILES, print.
#include <QImage>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class QAction;
class QEvent;
class QMenu;
class QObject;
class QWidget;
class TPrintDialog;

class CRender2D {
  public:
    // Binds the structure toolkit on first use, hooks the panel's paint and
    // context menu and starts the worker. Throws (an int, 0) when the panel
    // is null, the toolkit or one of its entry points is missing, or the
    // worker cannot be started; nothing is left behind then.
    explicit CRender2D(QWidget* panel);
    // Stops and joins the worker, releases the toolkit sessions and gives the
    // panel back as it was.
    ~CRender2D();
    CRender2D(const CRender2D&) = delete;
    CRender2D& operator=(const CRender2D&) = delete;

    // Asks for text (SMILES; null or "" = nothing) to be shown. Returns at
    // once; the drawing follows. asIs false folds the hydrogens and lays out
    // a molecule that has Z coordinates. User-interface thread only.
    void SetMolecule(const char* text, bool asIs);

    // Milliseconds the worker pauses after a finished request (0 = none).
    std::atomic<int32_t> Delay{1000};

    // The panel's event hook: paints the molecule and opens the popup menu.
    // Returns true when the event was handled here.
    static bool PanelCallBack(QObject* panel, QEvent* event);
    // The worker's procedure; returns 0 when the worker ends.
    static int MainLoop(void* renderer);

    // The popup menu (built by the constructor).
    void PopupAdd(uint32_t strId, char letter, int32_t image,
                  void (CRender2D::*handler)(QObject* sender));
    void PopupSep();
    void PopupEnable(bool state);
    // Commands; sender is the clicked menu item (its data holds the renderer).
    void CopyClick(QObject* sender);
    void CopySmilesClick(QObject* sender);
    void PrintClick(QObject* sender);

    // --- state, as the user interface sees it ---
    QMenu* Popup() const { return Popup_.get(); }
    bool IsMenuEnabled() const { return MenuEnabled; }
    // The text of the last request (what the commands work on).
    const std::string& Text() const { return Smiles; }
    // Whether a molecule is ready to be drawn, and the text of the request
    // the worker finished last (the molecule on show, if it parsed).
    bool HasMolecule() const;
    std::string ShownText() const;
    // Paints that drew a molecule; the request generation last painted.
    uint64_t DrawnPaints() const;
    uint64_t PaintedGeneration() const;
    uint64_t Generation() const;
    // The worker's system thread id.
    uint32_t ThreadId() const { return ThreadId_.load(); }
    // The two display sessions (the one on show, the worker's).
    std::pair<unsigned long long, unsigned long long> Sessions() const;

    // Process-wide: live renderers and the display lock they share.
    static int32_t RenderCount;
    static std::mutex* hRenderMutex;

  private:
    class TPanelHook;
    // An auto-reset event: each Set wakes one Wait once.
    struct TEvent {
        std::mutex m;
        std::condition_variable cv;
        bool signalled = false;
    };

    void BuildPopup();
    void Run();
    int Prepare(const std::string& text, bool asIs);
    bool PaintPanel(QEvent* event);
    QImage RenderImage(int width, int height, double dpr);
    void ReleaseSessions();
    void ReleasePanel();
    void Undo();
    static CRender2D* FromSender(QObject* sender, CRender2D* fallback);

    std::atomic<bool> Quit{false};
    bool MenuEnabled = false;
    bool AsIs = true;
    std::atomic<uint32_t> ThreadId_{0};
    int Molecule = -1;
    TEvent hEvent;
    std::thread hThread;
    std::string Smiles;
    QPointer<QWidget> Panel;
    std::unique_ptr<QMenu> Popup_;
    std::unique_ptr<TPanelHook> Hook;
    std::unique_ptr<TPrintDialog> PD_Print;
    // The session of the molecule on show, and the worker's own session in
    // which the next molecule is prepared; they change places under the lock.
    unsigned long long SessionId = 0;
    unsigned long long WorkSessionId = 0;
    bool HasSessions = false;
    std::mutex* Lock = nullptr;

    // Guarded by the display lock.
    uint64_t Requests = 0;    // SetMolecule calls so far
    uint64_t Generation_ = 0; // requests finished by the worker
    std::string ShownSmiles;  // text of the finished request
    uint64_t DrawnPaints_ = 0;
    uint64_t PaintedGeneration_ = 0;
    // The last rendered picture and what it was rendered for (UI thread).
    QImage Cache;
    uint64_t CacheGeneration = 0;
    int CacheWidth = 0, CacheHeight = 0;
    bool CacheSet = false;
};
