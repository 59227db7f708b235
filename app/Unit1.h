#pragma once
// TForm1: the one window of a process. It holds one picture, shows it zoomed and scrolled,
// opens pictures (command line, dialog, drop, clipboard, next and previous file) and runs the
// processing commands through the road, with progress in the title.

#include "ActionTable.h"
#include "Chronograph.h"
#include "CommandTable.h"
#include "PluginHost.h"
#include "Preload.h"
#include "WindowServices.h"
#include "WindowSettings.h"
#include "ZoomView.h"
#include "nolviSub.h"
#include "common/OZVista.h"
#include "platform/Bitmap.h"
#include "platform/Process.h"
#include "settings/OZHistoryMenu.h"

#include <QAction>
#include <QHash>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nolvi2 {

class TForm1 : public TOZVistaForm {
    Q_OBJECT
public:
    // services: what the window asks of the world (the real ones when none are given).
    explicit TForm1(std::shared_ptr<TWindowServices> services = nullptr);
    ~TForm1() override;

    // Start-up with the command line's parameters (without the program name), as bytes.
    void FormCreate(const std::vector<std::string>& parameters);

    // The JPEG preview and saving.
    void SetJpegPreview(bool on);
    void SetJpegParams(int quality, bool progressive);
    void SaveAsBmp(const std::string& name);
    void SaveAsJpeg(const std::string& name);
    bool JpegPreview() const { return FJpegPreview; }
    int JpegQuality() const { return FJpegQuality; }
    bool JpegProgressive() const { return FJpegProgressive; }
    int32_t JpegSize() const { return FJpegSize; }
    const TBitmap* PreviewBitmap() const { return FPreviewBitmap.get(); }

    // New windows: each its own process, for a file or with a picture and this window's
    // state.
    void ReceiveFromSharedMemory(const std::string& fdText, int32_t size);
    void LaunchForFile(const std::string& name);
    void LaunchWithPicture(bool isFile, const std::string& title, bool keepSelection, const TBitmap& picture);
    // Where a new window opens: for a picture of w x h logical pixels, or for a file (0 x 0).
    TPoint NewWindowPos(int32_t w, int32_t h) const;
    // The destination of a command's result: OpenResultInNewWindow, inverted while Shift is
    // held (read as the command starts).
    bool ResultInNewWindow() const;
    TChronograph& Chronograph() { return FChronograph; }

    // The settings store: read at start-up, written when the window closes and after the
    // store's place changed. Failures are shown in the message box; the window goes on.
    void LoadSettings();
    void SaveSettings();

    // Opening and refreshing.
    void OpenFile(const std::string& name);
    void PictureChanged(bool resizeWindow);
    // Reads the neighbours of the file shown ahead, as the options say.
    void PreloadNeighbours();
    // Opens the command line's first file; the empty window is set up when it cannot be read.
    void OpenStartFile(const std::string& name);
    // The command line's picture while it is decoded, once its size is known (a JPEG's header,
    // a plug-in's word): the window shows at that size with the title it will have. A JPEG's
    // part in view shows as soon as it is decoded, and the picture opens right after that
    // paint; any other picture opens when its read ends (StartReadChanged). Any input that
    // reaches the application first opens it (FinishStart).
    void StartReadChanged();
    void FinishStart();
    // The picture's size, or the size the command line's picture will have while it is read.
    TPoint ShownSize() const;
    void SetZoom(float zoom);
    void UpdateCaption();

    // A drop of these files: exactly one local file opens. A drop on the window comes here
    // after its event has returned.
    void FilesDropped(const QList<QUrl>& urls);

    // Runs an action as the user would (through the error dispatch), when it is enabled.
    void Execute(TActionId id);
    QAction* Action(TActionId id) const { return FActions[std::size_t(id)]; }
    // The same by object name ("actOpen"), for tests: an unknown name raises
    // std::invalid_argument.
    void Execute(const QString& actionName);
    QAction* Action(const QString& name) const;

    // State for the window's tests.
    const TBitmap& Picture() const { return FPicture; }
    TPreloader* Preloader() const { return FPreloader.get(); }
    float Zoom() const { return FZoom; }
    const std::string& FileName() const { return FFileName; }
    bool IsFile() const { return FIsFile; }
    TWindowOptions& Options() { return FOptions; }
    // The client area (the window less its visible scroll bars) in logical pixels, and the
    // device pixels it covers: the picture, the scroll positions and the client points of
    // ScreenToImage and ImageToScreen count device pixels.
    QSize ClientSize() const;
    QSize DeviceClientSize() const;
    // Device pixels per logical pixel (the window's screen's, or the application's before
    // the window is shown).
    double PixelRatio() const;
    QScrollBar* HorizontalBar() const { return FHorzBar; }
    QScrollBar* VerticalBar() const { return FVertBar; }
    QMenu* PopupMenu() const { return PopupMenu1; }
    QLabel* EmptyLabel() const { return Label1; }
    TPoint ScreenToImage(int32_t x, int32_t y) const;
    TRect ImageToScreen(int32_t x, int32_t y) const;
    TSelectTool& SelectTool() { return *FSelectTool; }
    TTenohiraTool& HandTool() { return *FHandTool; }
    TOZHistoryFileMenu& RecentMenu() { return *FRecentMenu; }
    TSPIs* SPIs() const { return FSPIs ? FSPIs->SPIs() : nullptr; }
    QMenu* HistoryMenu() const { return mnuHistory; }
    bool HandToolCurrent() const { return FCurrentTool == FHandTool.get(); }
    const TBitmap* DisplayBitmap() const { return FDisplayBitmap.get(); }
    // The menu item that shows the action in the context menu (its own caption where the
    // menu differs from the action).
    QAction* MenuItem(TActionId id) const;
    QAction* MenuItem(const QString& actionName) const;
    TWindowServices& Services() const { return *FServices; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The window manager's frame around the client (none before it has framed the window).
    QMargins FrameMargins() const;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenu();
    // What an action does when triggered.
    void Perform(const TActionInfo& action);
    // The services' start of new windows and first-start question, as the launch and the
    // settings store take them.
    TProgramStarter Starter() const;
    TFirstStartQuestion Question() const;
    // Shows a message in the program's message box.
    int Message(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons = Buttons({mbOK}));
    // Runs f, showing any failure in the program's message box; the window goes on.
    void Dispatch(const std::function<void()>& f);

    void ProgressHandler(TProgressStage stage, uint8_t percent);
    void RunCommand(const TCommand& command);
    void RebuildDisplayBitmap();
    const TBitmap& DisplaySource() const;
    void DrawSelection(QPainter& painter);
    void SelectionChanged(TSelectTool* sender);
    void SelectUnit(TActionId id);
    void UpdateUnitChecks();
    void UpdateHistoryItem();
    // The settings the window holds now, and applying read ones.
    TWindowSettings CurrentSettings() const;
    void ApplySettings(const TWindowSettings& settings);
    // A context-menu item with its own caption and key that runs the action.
    QAction* MenuProxy(const TActionInfo& info);
    void UpdateScrollBars();
    void FitWindow(int32_t clientWidth, int32_t clientHeight);
    // A position for this window (its frame's top-left) where a window of that client size has
    // its title bar and client on a screen's work area (RescuedPosition).
    TPoint UsablePosition(TPoint p, QSize client) const;
    // Fits the window again when the last fit was made without its frame and the frame is
    // known now, so that a window framed after opening its picture fits as one framed before.
    void FrameKnown();
    void EnableActions();
    void SetTitle(const QString& title);
    TView View() const;
    // The device pixel of a logical client (or screen) position.
    TPoint DevicePoint(QPointF p) const;

    void actOpenExecute();
    void actNextFileExecute(bool next);
    void actCopyExecute();
    void actPasteExecute();
    void actPasteUpdate();
    void actPreferencesExecute();
    void actSaveAsExecute(bool jpeg);
    void RebuildPreview();
    void UpdateJpegChecks();
    // Gives key to action; the action that had it loses it.
    void AssignShortCut(TKeyStroke key, TActionId id);

    std::string FFileName;
    // Where next and previous step from: the current file, or the file of the last step when
    // that one could not be opened.
    std::string FStepName;
    bool FIsFile = false;
    TBitmap FPicture;
    float FZoom = 1.0f;
    std::unique_ptr<TBitmap> FDisplayBitmap;
    // The selection that the paint shades around when there is no display bitmap, and the
    // buffer of the shaded visible part.
    std::optional<TRect> FShadedSelection;
    TBitmap FShadeBuffer;
    bool FJpegPreview = false;
    std::unique_ptr<TBitmap> FPreviewBitmap;
    int32_t FJpegSize = 0;
    int FJpegQuality = 80;
    bool FJpegProgressive = true;
    QMenu* mnuJpegPreview = nullptr;
    QMenu* mnuHistory = nullptr;
    std::unique_ptr<TOZHistoryFileMenu> FRecentMenu;
    std::unique_ptr<TPluginHost> FSPIs;
    std::unique_ptr<TPreloader> FPreloader;  // while preloading is on
    class THost;
    std::unique_ptr<TToolHost> FToolHost;
    std::unique_ptr<TSelectTool> FSelectTool;
    std::unique_ptr<TTenohiraTool> FHandTool;
    TNolviTool* FCurrentTool = nullptr;
    QTimer* FScrollTimer = nullptr;
    // Whether the space key is down, from the window's key events (the hand tool while held).
    bool FSpaceDown = false;
    // Set while the picture itself changes: selection changes then leave the display to it.
    bool FDeferDisplay = false;
    std::shared_ptr<TWindowServices> FServices;
    std::array<QAction*, kActionCount> FActions{};
    std::array<QAction*, kActionCount> FMenuItems{};  // the menu's own items, where it has them
    std::vector<std::function<void()>> FMenuMirrors;  // bring the menu items up to date
    TWindowOptions FOptions;
    TChronograph FChronograph;
    QSize FLastFit;                 // the client size the last fit asked for, in device pixels
    bool FFitWithoutFrame = false;  // and whether it was made without knowing the frame
    int FWheelDelta = 0;
    bool FWatchingScreen = false;  // whether a change of screen updates the scroll bars
    bool FPluginsDue = true;       // the plug-in search is still to be made sure of after the first paint
    bool FPreloadDue = false;      // the neighbours of a picture just opened are to be read after its paint
    struct TStartPicture {
        std::string Name;
        int32_t Width = 0, Height = 0;
        std::unique_ptr<TBitmap> Part;  // the top-left part in view, once decoded
        bool Painted = false;
    };
    std::optional<TStartPicture> FStart;  // while the command line's picture is decoded
    int FLastProgress = -1;

    QLabel* Label1 = nullptr;
    QScrollBar* FHorzBar = nullptr;
    QScrollBar* FVertBar = nullptr;
    QMenu* PopupMenu1 = nullptr;
    // The window's one key table: a key belongs to at most one action.
    QHash<uint32_t, TActionId> FKeys;
    QString FTitle;
};

}  // namespace nolvi2
