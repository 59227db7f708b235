#include "Unit1.h"

#include "DialogFilters.h"
#include "EarlyRead.h"
#include "JpegPreview.h"
#include "FolderWalk.h"
#include "NewWindow.h"
#include "StartupArgs.h"
#include "dlgPreferences.h"
#include "OpenPicture.h"
#include "ProcessingRoad.h"
#include "WindowTitle.h"
#include "common/OZCommon.h"
#include "platform/Exceptions.h"
#include "platform/SharedMemory.h"
#include "platform/Streams.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include <array>
#include <cstring>
#include <filesystem>
#include <utility>

namespace nolvi2 {

namespace {

// File names are byte strings; they become text only to be shown.
std::string NameOf(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString ShownName(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

// A 24-bit picture as a QImage over its own rows (no copy).
QImage ImageOf(const TBitmap& b)
{
    return QImage(b.ScanLine(0), b.Width(), b.Height(), qsizetype(b.Stride()), QImage::Format_BGR888);
}

// The picture of the clipboard (or any QImage) as a 24-bit bitmap.
void BitmapFromImage(const QImage& image, TBitmap& out)
{
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    TBitmap b(bgr.width(), bgr.height(), TPixelFormat::pf24bit);
    for (int32_t y = 0; y < b.Height(); ++y)
        std::memcpy(b.ScanLine(y), bgr.constScanLine(y), b.RowBytes());
    out.TakeOver(b);
}

// The key numbers of the action table are the toolkit's.
static_assert(keys::Shift == Qt::ShiftModifier && keys::Ctrl == Qt::ControlModifier && keys::Alt == Qt::AltModifier);
static_assert(keys::Return == Qt::Key_Return && keys::Enter == Qt::Key_Enter && keys::Left == Qt::Key_Left &&
              keys::Up == Qt::Key_Up && keys::Right == Qt::Key_Right && keys::Down == Qt::Key_Down &&
              keys::F1 == Qt::Key_F1 && keys::F5 == Qt::Key_F5);
static_assert('O' == Qt::Key_O && '+' == Qt::Key_Plus && '=' == Qt::Key_Equal && ';' == Qt::Key_Semicolon &&
              '-' == Qt::Key_Minus && '0' == Qt::Key_0);

TRect RectOf(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

// A typical window frame: 8 pixels each side and a 31-pixel title bar.
constexpr QMargins kTypicalFrame(8, 31, 8, 8);

TPixelFormat FormatOfBits(int bits)
{
    switch (bits) {
    case 1: return TPixelFormat::pf1bit;
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    default: return TPixelFormat::pf24bit;
    }
}

QKeySequence SequenceOf(TKeyStroke key)
{
    return key.Empty() ? QKeySequence() : QKeySequence(QKeyCombination::fromCombined(int(key.Combined)));
}

// The key as the menu shows it: Return and the keypad's Enter are one key, shown as "Enter".
QKeySequence ShownKey(TKeyStroke key)
{
    if ((key.Combined & ~Qt::KeyboardModifierMask) == keys::Return)
        key.Combined = (key.Combined & Qt::KeyboardModifierMask) | keys::Enter;
    return SequenceOf(key);
}

}  // namespace

// The window as its mouse tools see it.
class TForm1::THost : public TToolHost {
public:
    explicit THost(TForm1& form) : F(form) {}
    TPoint ScreenToImage(TPoint p) const override { return F.ScreenToImage(p.X, p.Y); }
    TRect ImageToScreen(int32_t x, int32_t y) const override { return F.ImageToScreen(x, y); }
    float Zoom() const override { return F.FZoom; }
    int32_t PictureWidth() const override { return F.FPicture.Empty() ? -1 : F.FPicture.Width(); }
    int32_t PictureHeight() const override { return F.FPicture.Empty() ? -1 : F.FPicture.Height(); }
    double PixelRatio() const override { return F.PixelRatio(); }
    int32_t ClientWidth() const override { return F.DeviceClientSize().width(); }
    int32_t ClientHeight() const override { return F.DeviceClientSize().height(); }
    // The screen's logical coordinates times the window's ratio: the auto-scroll only takes
    // differences between the mouse and the client's edges, which are then device pixels.
    TRect ClientScreenRect() const override
    {
        const TPoint p = F.DevicePoint(F.mapToGlobal(QPointF(0, 0)));
        const QSize c = F.DeviceClientSize();
        return {p.X, p.Y, p.X + c.width(), p.Y + c.height()};
    }
    TPoint ScrollPositions() const override
    {
        return {F.FHorzBar->isVisible() ? F.FHorzBar->value() : -1, F.FVertBar->isVisible() ? F.FVertBar->value() : -1};
    }
    void SetScrollPositions(TPoint p) override
    {
        if (p.X != -1)
            F.FHorzBar->setValue(p.X);
        if (p.Y != -1)
            F.FVertBar->setValue(p.Y);
    }
    TPoint MousePosition() const override
    {
        return F.DevicePoint(QPointF(QCursor::pos(F.screen())));
    }
    void SetAutoScrollTimer(bool enabled) override
    {
        // Starting a running timer would restart its interval on every mouse move.
        if (!enabled)
            F.FScrollTimer->stop();
        else if (!F.FScrollTimer->isActive())
            F.FScrollTimer->start();
    }

private:
    TForm1& F;
};

namespace {

Qt::CursorShape ShapeOf(TToolCursor c)
{
    switch (c) {
    case TToolCursor::SizeNS: return Qt::SizeVerCursor;
    case TToolCursor::SizeWE: return Qt::SizeHorCursor;
    case TToolCursor::SizeNWSE: return Qt::SizeFDiagCursor;
    case TToolCursor::SizeNESW: return Qt::SizeBDiagCursor;
    case TToolCursor::SizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

TToolCursor ToolCursorOf(Qt::CursorShape shape)
{
    switch (shape) {
    case Qt::SizeVerCursor: return TToolCursor::SizeNS;
    case Qt::SizeHorCursor: return TToolCursor::SizeWE;
    case Qt::SizeFDiagCursor: return TToolCursor::SizeNWSE;
    case Qt::SizeBDiagCursor: return TToolCursor::SizeNESW;
    case Qt::SizeAllCursor: return TToolCursor::SizeAll;
    default: return TToolCursor::Default;
    }
}

}  // namespace

TForm1::TForm1(std::shared_ptr<TWindowServices> services)
    : FServices(services ? std::move(services) : std::make_shared<TWindowServices>())
{
    setWindowTitle(QStringLiteral("nolvi2"));
    // The open and save dialogs leave no history of the user's folders in a file of Qt's.
    KeepToolkitSettingsUnwritten();
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    // Never narrower than the title bar's buttons need, also for the user.
    setMinimumSize(kMinClientWidth, kMinClientHeight);
    // An outer size of 328 x 270 pixels less a typical frame until a picture sizes the window.
    resize(328 - kTypicalFrame.left() - kTypicalFrame.right(), 270 - kTypicalFrame.top() - kTypicalFrame.bottom());

    Label1 = new QLabel(QStringLiteral("画像が読み込まれていません。ファイルをドロップするか、"
                                       "開くメニューで画像を読み込んで下さい。"),
                        this);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    FHorzBar = new QScrollBar(Qt::Horizontal, this);
    FVertBar = new QScrollBar(Qt::Vertical, this);
    FHorzBar->setTracking(true);
    FVertBar->setTracking(true);
    FHorzBar->hide();
    FVertBar->hide();
    connect(FHorzBar, &QScrollBar::valueChanged, this, [this] { update(); });
    connect(FVertBar, &QScrollBar::valueChanged, this, [this] { update(); });

    FPicture.SetPixelFormat(TPixelFormat::pf24bit);
    setMouseTracking(true);
    FToolHost = std::make_unique<THost>(*this);
    FScrollTimer = new QTimer(this);
    FScrollTimer->setInterval(100);
    connect(FScrollTimer, &QTimer::timeout, this, [this] { FSelectTool->AutoScroll(); });
    FSelectTool = std::make_unique<TSelectTool>(*FToolHost);
    FSelectTool->OnChange = [this](TSelectTool* sender) { SelectionChanged(sender); };
    FSelectTool->SetMinimumUnit(1);  // the settings' default
    FHandTool = std::make_unique<TTenohiraTool>(*FToolHost);
    FCurrentTool = FSelectTool.get();
    CreateActions();
    CreateMenu();
    FRecentMenu = std::make_unique<TOZHistoryFileMenu>(mnuHistory, true);
    FRecentMenu->OnClick = [this](TOZHistoryMenu*, const std::string& name) { Dispatch([&] { OpenFile(name); }); };
    FRecentMenu->ConfirmMissing = [this](const QString& text) {
        return Message(text, mtConfirmation, Buttons({mbYes, mbNo})) == mrYes;
    };
    FRecentMenu->OnUpdate = [this] { UpdateHistoryItem(); };
    UpdateHistoryItem();
    UpdateJpegChecks();
    UpdateUnitChecks();
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [this] { actPasteUpdate(); });
    actPasteUpdate();
}

TForm1::~TForm1()
{
    if (FStart)
        WatchEarlyRead({});
    // The tools go first: the timer and the change handler reach back into the window.
    FScrollTimer->stop();
    FSelectTool->OnChange = nullptr;
    // The recent menu's items belong to its menu, which goes with the window.
    FRecentMenu.reset();
}

TProgramStarter TForm1::Starter() const
{
    return [this](const std::string& program, const std::vector<std::string>& args, int handOver) {
        return FServices->StartProgram(program, args, handOver);
    };
}

TFirstStartQuestion TForm1::Question() const
{
    return [this] { return FServices->FirstStartQuestion(); };
}

int TForm1::Message(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons)
{
    return FServices->MessageBox(text, kind, buttons);
}

void TForm1::CreateActions()
{
    for (const TActionInfo& info : Actions()) {
        auto* a = new QAction(Text(info.Caption), this);
        a->setObjectName(Text(info.Name));
        a->setCheckable(info.Checkable());
        a->setShortcutContext(Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, [this, &info] { Dispatch([&] { Perform(info); }); });
        FActions[std::size_t(info.Id)] = a;
        for (const TKeyStroke k : info.Keys)
            if (!k.Empty() && !FKeys.contains(k.Combined))
                FKeys.insert(k.Combined, info.Id);
        // Shown in the menu; the key table does the work.
        if (!info.Keys[0].Empty())
            a->setShortcut(ShownKey(info.Keys[0]));
    }
    Action(TActionId::Crop)->setEnabled(false);
    Action(TActionId::Deselect)->setEnabled(false);
}

void TForm1::Perform(const TActionInfo& action)
{
    using A = TActionId;
    switch (action.Kind) {
    case TActionKind::Command:
        RunCommand(*action.Command);
        return;
    case TActionKind::SelectUnit:
        SelectUnit(action.Id);
        return;
    case TActionKind::JpegQuality:
        SetJpegPreview(true);
        SetJpegParams(action.Tag, FJpegProgressive);
        return;
    case TActionKind::PixelFormat:
        if (FPicture.Empty())
            return;
        FPicture.SetPixelFormat(FormatOfBits(action.Tag));
        PictureChanged(false);
        return;
    case TActionKind::Plain:
    case TActionKind::Toggle:
        break;
    }
    switch (action.Id) {
    case A::Open: actOpenExecute(); break;
    case A::Reopen:
        if (FIsFile)
            OpenFile(FFileName);
        break;
    case A::PrevFile: actNextFileExecute(false); break;
    case A::NextFile: actNextFileExecute(true); break;
    case A::Preferences: actPreferencesExecute(); break;
    case A::IniStyle:
        if (TOZIniFile2::ChooseStyle([this](const std::string& keyPath, TIniStyle& style) {
                return FServices->IniStyleDialog(this, keyPath, style);
            }))
            SaveSettings();
        break;
    case A::About: FServices->AboutBox(); break;
    case A::Website: QDesktopServices::openUrl(QUrl(Text(kWebAddress))); break;
    case A::NewWindow:
        if (!FPicture.Empty() && FIsFile)
            LaunchWithPicture(true, FFileName, true, FPicture);
        break;
    case A::Copy: actCopyExecute(); break;
    case A::Paste: actPasteExecute(); break;
    case A::Deselect: FSelectTool->Deselect(); break;
    case A::SaveAsBMP: actSaveAsExecute(false); break;
    case A::JpegPreview:
        SetJpegPreview(!FJpegPreview);
        PictureChanged(false);
        break;
    case A::SaveAsJPEG: actSaveAsExecute(true); break;
    case A::JpegProgressive: SetJpegParams(FJpegQuality, !FJpegProgressive); break;
    case A::JpegPreviewUp: SetJpegParams(FJpegQuality + 10, FJpegProgressive); break;
    case A::JpegPreviewDown: SetJpegParams(FJpegQuality - 10, FJpegProgressive); break;
    case A::ZoomIn: SetZoom(ZoomInValue(FZoom)); break;
    case A::ZoomOut: SetZoom(ZoomOutValue(FZoom)); break;
    case A::ZoomActualPixels: SetZoom(1.0f); break;
    case A::OpenResultNewWindow:
        FOptions.OpenResultInNewWindow = !FOptions.OpenResultInNewWindow;
        Action(A::OpenResultNewWindow)->setChecked(FOptions.OpenResultInNewWindow);
        break;
    case A::ShowProcessingTime:
        FOptions.ShowProgressTime = !FOptions.ShowProgressTime;
        Action(A::ShowProcessingTime)->setChecked(FOptions.ShowProgressTime);
        break;
    case A::Exit: close(); break;
    default:
        // The commands, selection units, qualities and pixel formats are handled by kind.
        break;
    }
}

QAction* TForm1::MenuProxy(const TActionInfo& info)
{
    QAction* action = Action(info.Id);
    auto* item = new QAction(info.MenuCaption.empty() ? action->text() : Text(info.MenuCaption), this);
    item->setShortcutContext(Qt::WidgetShortcut);
    const auto mirror = [this, item, action, id = info.Id, key = info.MenuKey] {
        item->setEnabled(action->isEnabled());
        item->setCheckable(action->isCheckable());
        item->setChecked(action->isChecked());
        // The item's own key, while the key table gives it to the action; else the action's.
        const bool ownKey = !key.Empty() && FKeys.value(key.Combined, TActionId(kActionCount)) == id;
        item->setShortcut(ownKey ? ShownKey(key) : action->shortcut());
    };
    mirror();
    connect(action, &QAction::changed, item, mirror);
    FMenuMirrors.push_back(mirror);
    connect(item, &QAction::triggered, action, [action] { action->trigger(); });
    FMenuItems[std::size_t(info.Id)] = item;
    return item;
}

QAction* TForm1::MenuItem(TActionId id) const
{
    QAction* item = FMenuItems[std::size_t(id)];
    return item ? item : Action(id);
}

namespace {

TActionId KnownAction(const QString& name)
{
    const std::optional<TActionId> id = FindAction(name.toStdString());
    if (!id)
        throw std::invalid_argument("no action named " + name.toStdString());
    return *id;
}

}  // namespace

QAction* TForm1::MenuItem(const QString& actionName) const { return MenuItem(KnownAction(actionName)); }

QAction* TForm1::Action(const QString& name) const
{
    const std::optional<TActionId> id = FindAction(name.toStdString());
    return id ? Action(*id) : nullptr;
}

void TForm1::CreateMenu()
{
    for (const TActionInfo& info : Actions())
        if (info.HasMenuItem())
            MenuProxy(info);
    PopupMenu1 = new QMenu(this);
    std::vector<QMenu*> open{PopupMenu1};
    for (const TMenuEntry& e : ContextMenu()) {
        switch (e.Kind) {
        case TMenuEntryKind::Item: open.back()->addAction(MenuItem(e.Id)); break;
        case TMenuEntryKind::Separator: open.back()->addSeparator(); break;
        case TMenuEntryKind::Begin: {
            QMenu* sub = open.back()->addMenu(Text(e.Caption));
            if (e.Role == TSubmenuRole::Recent)
                mnuHistory = sub;
            else if (e.Role == TSubmenuRole::JpegPreview)
                mnuJpegPreview = sub;
            sub->menuAction()->setCheckable(e.Role == TSubmenuRole::JpegPreview);
            sub->menuAction()->setVisible(e.Role != TSubmenuRole::Hidden);
            open.push_back(sub);
            break;
        }
        case TMenuEntryKind::End: open.pop_back(); break;
        }
    }
}

void TForm1::Dispatch(const std::function<void()>& f)
{
    // The title stops showing progress before a failure is shown.
    try {
        f();
    } catch (const std::bad_alloc&) {
        UpdateCaption();
        Message(QStringLiteral("メモリが足りません。"), mtError);
    } catch (const std::exception& e) {
        UpdateCaption();
        Message(QString::fromUtf8(e.what()), mtError);
    }
    UpdateCaption();
    if (cursor().shape() == Qt::WaitCursor)
        unsetCursor();
}

void TForm1::Execute(TActionId id)
{
    if (QAction* a = Action(id); a->isEnabled())
        a->trigger();
}

void TForm1::Execute(const QString& actionName) { Execute(KnownAction(actionName)); }

void TForm1::FormCreate(const std::vector<std::string>& parameters)
{
    // Parameters are the command line's bytes: a file name that is not valid UTF-8 stays the
    // name of its file.
    FPicture.OnProgress = [this](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                 const std::string&) { ProgressHandler(stage, percent); };
    // The plug-ins are searched when a file needs them, or else once the window has shown (an
    // early read of a plug-in file has searched them already); a failed search is reported then.
    FSPIs = TakeEarlyPlugins();
    if (!FSPIs)
        FSPIs = std::make_unique<TPluginHost>(true);
    std::optional<TStartup> startup;
    std::string startupError;
    try {
        startup = ParseStartup(parameters);
    } catch (const std::exception& e) {
        startupError = e.what();
    }
    const auto applyPosition = [&] {
        if (startup && startup->HasPosition) {
            // A position given (a new window's, placed by the window that started it) only
            // moves as far as the smallest window needs.
            const TPoint p = UsablePosition({startup->Left.value_or(x()), startup->Top.value_or(y())},
                                            {kMinClientWidth, kMinClientHeight});
            move(p.X, p.Y);
        }
    };
    applyPosition();
    bool received = false;
    if (startup && startup->Receive) {
        try {
            ReceiveFromSharedMemory(startup->BlockFd, startup->BlockSize);
            received = true;
        } catch (const std::bad_alloc&) {
            startupError = "メモリが足りません。";
        } catch (const std::exception& e) {
            startupError = e.what();
        }
    }
    if (received)
        return;
    // A window that received nothing still works with the user's settings, and saves them
    // unchanged when it closes.
    LoadSettings();
    applyPosition();  // the command line's position wins over the stored one
    // A file to open sets the window up with its picture; the empty window is set up only
    // when there is none (its text would cost the start a search of the fonts).
    const bool opening = startupError.empty() && !startup->Receive && !startup->Files.empty();
    if (!opening)
        PictureChanged(false);
    if (!startupError.empty()) {
        Message(Text(startupError), mtError);
        return;
    }
    if (!opening)
        return;
    const std::string& first = startup->Files.front();
    const TReadOptions options = ReadOptionsOf(FOptions);
    if (const auto early = EarlyReadSize(first, options); early && !early->Complete && early->Width > 0) {
        // The picture is still being decoded: the window takes its size and title now and
        // shows while it is decoded (a JPEG's part in view as soon as that is there).
        FStart = TStartPicture{first, early->Width, early->Height, nullptr, false};
        qApp->installEventFilter(this);
        setCursor(Qt::WaitCursor);
        Label1->setVisible(false);
        FitWindow(early->Width, early->Height);
        UpdateCaption();
        // The part in view is copied while the window is shown; asked for as large as the
        // window, whose bars are not known yet.
        const double ratio = PixelRatio();
        AskEarlyReadPart(first, options, DeviceExtent(width(), ratio), DeviceExtent(height(), ratio));
        // Told from the reading thread; the window goes on meanwhile (it paints its frame and title).
        WatchEarlyRead([this] { QMetaObject::invokeMethod(this, &TForm1::StartReadChanged, Qt::QueuedConnection); });
    } else {
        OpenStartFile(first);
    }
    for (std::size_t i = 1; i < startup->Files.size(); ++i)
        Dispatch([&] { LaunchForFile(startup->Files[i]); });
}

void TForm1::OpenStartFile(const std::string& name)
{
    Dispatch([&] { OpenFile(name); });
    if (FPicture.Empty())
        PictureChanged(false);
}

void TForm1::StartReadChanged()
{
    if (!FStart || FStart->Part)
        return;  // the part shows already: the picture opens after its paint
    // The part is there or the read has ended: this does not wait.
    FStart->Part = TakeEarlyReadPart();
    if (!FStart->Part) {
        FinishStart();
        return;
    }
    update();
    // A window that is never painted (minimised at start) opens the picture all the same.
    QTimer::singleShot(500, this, &TForm1::FinishStart);
}

void TForm1::FinishStart()
{
    if (!FStart)
        return;
    const std::string name = std::move(FStart->Name);
    FStart.reset();
    WatchEarlyRead({});
    qApp->removeEventFilter(this);
    unsetCursor();
    OpenStartFile(name);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // Input waits for the whole picture: the command line's picture opens before it is handled.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop:
    case QEvent::TabletPress:
    case QEvent::TouchBegin:
    case QEvent::Close:
        FinishStart();
        break;
    default:
        break;
    }
    return TOZVistaForm::eventFilter(watched, event);
}

TPoint TForm1::ShownSize() const
{
    if (FPicture.Empty() && FStart)
        return {FStart->Width, FStart->Height};
    return {FPicture.Width(), FPicture.Height()};
}

void TForm1::ReceiveFromSharedMemory(const std::string& fdText, int32_t size)
{
    const std::unique_ptr<TSharedBlock> block = OpenSharedBlock(fdText, size);
    TWindowState state;
    TBitmap picture;
    ReadState(*block, state, *FRecentMenu, picture);
    FOptions = state.Options;
    FOptions.PreloadNeighbours = StoredOptions().PreloadNeighbours;  // not in the state block
    FSelectTool->SetMinimumUnit(state.MinimumUnit);
    FHandTool->SetInvert(state.HandInverted);
    UpdateUnitChecks();
    UpdateHistoryItem();
    FJpegQuality = std::min<int>(state.JpegQuality, 100);
    FJpegProgressive = state.JpegProgressive;
    UpdateJpegChecks();
    FIsFile = state.IsFile;
    FFileName = state.Title;
    FStepName = state.IsFile ? state.Title : std::string();
    {
        const QScopedValueRollback<bool> defer(FDeferDisplay, true);  // PictureChanged rebuilds it
        FSelectTool->SetRect(state.Selection);
    }
    FPicture.TakeOver(picture);
    FChronograph.SetMeasurement(state.StopwatchName, state.StopwatchElapsed);
    PictureChanged(true);
}

TPoint TForm1::NewWindowPos(int32_t w, int32_t h) const
{
    const QRect frame = frameGeometry();
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : frame;
    const TLaunchingWindow window{RectOf(frame), RectOf(geometry()), PixelRatio()};
    if (w <= 0 || h <= 0)
        return nolvi2::NewWindowPos(window, RectOf(area), 0, 0);
    // The new window's outer size: its fitted client in a frame like this window's.
    const QMargins m = FrameMargins();
    return nolvi2::NewWindowPos(window, RectOf(area), std::max(w, kMinClientWidth) + m.left() + m.right(),
                                std::max(h, kMinClientHeight) + m.top() + m.bottom());
}

TPoint TForm1::UsablePosition(TPoint p, QSize client) const
{
    std::vector<TScreenArea> screens;  // the primary first
    for (const QScreen* s : QGuiApplication::screens())
        screens.push_back({RectOf(s->geometry()), RectOf(s->availableGeometry())});
    // Before the window manager has framed the window its frame is taken as a typical one.
    QMargins frame = FrameMargins();
    if (frame.isNull())
        frame = kTypicalFrame;
    return RescuedPosition(p, screens, client.width() + frame.left() + frame.right(),
                           client.height() + frame.top() + frame.bottom());
}

void TForm1::LaunchForFile(const std::string& name)
{
    nolvi2::LaunchForFile(NewWindowPos(0, 0), name, Starter());
}

void TForm1::LaunchWithPicture(bool isFile, const std::string& title, bool keepSelection, const TBitmap& picture)
{
    TWindowState state;
    const TWindowSettings settings = CurrentSettings();
    state.Options = FOptions;
    state.MinimumUnit = settings.MinimumUnit;
    state.HandInverted = settings.InvertTenohiraTool;
    state.JpegQuality = settings.JpegQuality;
    state.JpegProgressive = settings.JpegProgressive;
    if (keepSelection)
        state.Selection = SelectionInBlock(FSelectTool->Selection());
    state.IsFile = isFile && FIsFile;
    state.Title = title;
    state.StopwatchName = FChronograph.Name();
    state.StopwatchElapsed = FChronograph.Elapsed();
    // The new window fits itself to the picture's device pixels, on a screen measured in
    // logical ones.
    nolvi2::LaunchWithPicture(state, *FRecentMenu, picture,
                              NewWindowPos(LogicalExtent(picture.Width(), PixelRatio()),
                                           LogicalExtent(picture.Height(), PixelRatio())),
                              Starter());
}

bool TForm1::ResultInNewWindow() const
{
    // The modifiers of the input that started the command (its key or click), not those held
    // now: a quick Shift+R may be released before its key event is handled.
    const bool shift = QGuiApplication::keyboardModifiers().testFlag(Qt::ShiftModifier);
    return FOptions.OpenResultInNewWindow != shift;
}

void TForm1::actPreferencesExecute()
{
    TPreferencesTargets targets;
    targets.Recent = FRecentMenu.get();
    targets.SelectTool = FSelectTool.get();
    targets.HandTool = FHandTool.get();
    if (!FServices->PreferencesDialog(this, FOptions, targets, SPIs()))
        return;
    PreloadNeighbours();  // with the reading options as they are now, or none
    UpdateUnitChecks();
    UpdateHistoryItem();
    // The shading follows a new setting at once.
    if (const std::optional<TRect> selection = FSelectTool->Selection())
        FSelectTool->SetRect(*selection);
    else
        RebuildDisplayBitmap();
    update();
}

void TForm1::PreloadNeighbours()
{
    if (!FOptions.PreloadNeighbours || !FIsFile) {
        FPreloader.reset();
        return;
    }
    SPIs();  // the plug-in search is made before plug-in files are read on another thread
    if (!FPreloader)
        FPreloader = std::make_unique<TPreloader>();
    FPreloader->Want(NeighbourFiles(FStepName), ReadOptionsOf(FOptions));
}

void TForm1::ProgressHandler(TProgressStage stage, uint8_t percent)
{
    // Operations report after every row; only a new percentage changes the title.
    if (stage == psRunning && percent == FLastProgress)
        return;
    FLastProgress = stage == psRunning ? percent : -1;
    if (stage == psStarting)
        setCursor(Qt::WaitCursor);
    SetTitle(Text(ProgressCaption(stage, percent)));
    if (stage == psEnding)
        unsetCursor();
}

void TForm1::SetTitle(const QString& title)
{
    if (title == FTitle)
        return;
    FTitle = title;
    setWindowTitle(title);
}

void TForm1::OpenFile(const std::string& name)
{
    if (!IsSupportedFile(name)) {
        Message(QStringLiteral("未対応のファイルです。\r") + ShownName(name), mtError);
        return;
    }
    // Every road that reads a file comes here; a change of the reading options in the dialog
    // applies from the next reading on.
    const TReadOptions options = ReadOptionsOf(FOptions);
    if (!TakeEarlyRead(name, options, FPicture) && !(FPreloader && FPreloader->Take(name, options, FPicture)))
        LoadPicture(name, FPicture, FPicture.OnProgress, options);
    FRecentMenu->AddFile(name);
    FFileName = name;
    FStepName = name;
    FIsFile = true;
    SetJpegPreview(false);
    PictureChanged(true);
    FPreloadDue = true;
}

void TForm1::PictureChanged(bool resizeWindow)
{
    FPicture.SetPixelFormat(TPixelFormat::pf24bit);
    if (resizeWindow)
        FitWindow(FPicture.Width(), FPicture.Height());
    Label1->setVisible(FPicture.Empty());
    EnableActions();
    if (FJpegPreview)
        RebuildPreview();
    {
        // SetZoom below rebuilds the display once for both changes.
        const QScopedValueRollback<bool> defer(FDeferDisplay, true);
        FSelectTool->ClampToPicture();
    }
    SetZoom(FZoom);
}

void TForm1::EnableActions()
{
    TEnablingState state;
    state.PictureLoaded = !FPicture.Empty();
    state.IsFile = FIsFile;
    state.JpegPreview = FJpegPreview;
    state.PixelFormat = FPicture.PixelFormat();
    for (const TActionEnabling& e : ActionEnabling(state)) {
        QAction* a = Action(e.Action);
        a->setEnabled(e.Enabled);
        if (e.Checked) {
            a->setCheckable(true);
            a->setChecked(*e.Checked);
        }
    }
}

void TForm1::SetZoom(float zoom)
{
    FZoom = ClampZoom(zoom);
    RebuildDisplayBitmap();
    if (FOptions.WindowResizeByZoom && !FPicture.Empty())
        FitWindow(ScrollRange(FPicture.Width(), FZoom), ScrollRange(FPicture.Height(), FZoom));
    UpdateScrollBars();
    UpdateCaption();
    update();
}

void TForm1::RebuildDisplayBitmap()
{
    FDisplayBitmap.reset();
    const std::optional<TRect> selection = FSelectTool->Selection();
    FDisplayBitmap = BuildDisplayBitmap(DisplaySource(), FZoom, selection, FOptions.OutOfSelection);
    // Without a display bitmap the paint shades what it shows, around the selection as it is
    // now (a drag moves only the frame until it ends).
    FShadedSelection.reset();
    if (!FDisplayBitmap && selection && FOptions.OutOfSelection != 0)
        FShadedSelection = selection;
}

// What the window shows: the JPEG preview while it is on, else the picture.
const TBitmap& TForm1::DisplaySource() const
{
    return FJpegPreview && FPreviewBitmap && !FPreviewBitmap->Empty() ? *FPreviewBitmap : FPicture;
}

void TForm1::SelectionChanged(TSelectTool*)
{
    const bool selected = FSelectTool->HasSelection();
    Action(TActionId::Crop)->setEnabled(selected);
    Action(TActionId::Deselect)->setEnabled(selected);
    if (FDeferDisplay)
        return;
    RebuildDisplayBitmap();
    update();
}

void TForm1::SelectUnit(TActionId id)
{
    FSelectTool->SetMinimumUnit(uint8_t(ActionInfo(id).Tag));
    UpdateUnitChecks();
}

void TForm1::UpdateHistoryItem()
{
    if (mnuHistory && FRecentMenu)
        mnuHistory->menuAction()->setEnabled(FRecentMenu->VisibleItemCount() > 0);
}

TWindowSettings TForm1::CurrentSettings() const
{
    TWindowSettings s;
    s.WindowX = pos().x();
    s.WindowY = pos().y();
    s.MinimumUnit = FSelectTool->MinimumUnit();
    s.InvertTenohiraTool = FHandTool->Invert();
    s.Options = FOptions;
    s.JpegQuality = uint8_t(FJpegQuality);
    s.JpegProgressive = FJpegProgressive;
    return s;
}

void TForm1::ApplySettings(const TWindowSettings& s)
{
    // A position off every screen (a monitor that is gone) moves onto the primary screen, one
    // at a screen's edge onto the screen, so that the window of its size now (the picture it
    // will show is not known yet) fits there.
    const TPoint p = UsablePosition({s.WindowX, s.WindowY}, size());
    move(p.X, p.Y);
    FSelectTool->SetMinimumUnit(s.MinimumUnit);
    FHandTool->SetInvert(s.InvertTenohiraTool);
    FOptions = s.Options;
    // A quality above 100 can only come from an edited store; JPEG knows no more than 100.
    FJpegQuality = std::min<int>(s.JpegQuality, 100);
    FJpegProgressive = s.JpegProgressive;
}

void TForm1::LoadSettings()
{
    TWindowSettings settings;
    const std::vector<std::string> messages =
        nolvi2::LoadSettings(settings, *FRecentMenu, Question());
    ApplySettings(settings);
    UpdateUnitChecks();
    UpdateJpegChecks();
    UpdateHistoryItem();
    if (!messages.empty()) {
        QStringList texts;
        for (const std::string& m : messages)
            texts << QString::fromUtf8(m);
        Message(texts.join(QStringLiteral("\r\r")), mtError);
    }
}

void TForm1::SaveSettings()
{
    try {
        nolvi2::SaveSettings(CurrentSettings(), *FRecentMenu, Question());
    } catch (const std::exception& e) {
        Message(QStringLiteral("設定を保存できませんでした。\r") + QString::fromUtf8(e.what()), mtError);
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    TOZVistaForm::closeEvent(event);
}

void TForm1::UpdateUnitChecks()
{
    // A unit without an item of its own shows as none.
    using A = TActionId;
    const int unit = FSelectTool->MinimumUnit();
    bool found = false;
    for (const A id : {A::SelectUnit8, A::SelectUnit16, A::SelectUnit24, A::SelectUnit32}) {
        Action(id)->setChecked(ActionInfo(id).Tag == unit);
        found = found || Action(id)->isChecked();
    }
    Action(A::SelectUnitFree)->setChecked(!found);
    Action(A::OpenResultNewWindow)->setChecked(FOptions.OpenResultInNewWindow);
    Action(A::ShowProcessingTime)->setChecked(FOptions.ShowProgressTime);
}

// The selection's frame and handles, drawn so that they invert what lies under them: the
// pen is merged with the inverse of the screen, which for the black pen is the inverse.
void TForm1::DrawSelection(QPainter& painter)
{
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceOrNotDestination);
    const QColor pen(Qt::black);
    // An outline of the given width inside r, each pixel drawn once.
    const auto outline = [&](const TRect& r, int32_t width) {
        const int32_t w = r.Width(), h = r.Height();
        if (w <= 0 || h <= 0)
            return;
        if (w <= 2 * width || h <= 2 * width) {
            painter.fillRect(QRect(r.Left, r.Top, w, h), pen);
            return;
        }
        painter.fillRect(QRect(r.Left, r.Top, w, width), pen);
        painter.fillRect(QRect(r.Left, r.Bottom - width, w, width), pen);
        painter.fillRect(QRect(r.Left, r.Top + width, width, h - 2 * width), pen);
        painter.fillRect(QRect(r.Right - width, r.Top + width, width, h - 2 * width), pen);
    };
    outline(FSelectTool->ScreenRect(), 1);
    for (uint8_t kind = hkTop; kind <= hkBottomRight; ++kind)
        outline(FSelectTool->HandleRect(kind, true), FSelectTool->HandleLineWidth());
    painter.restore();
}

void TForm1::UpdateCaption()
{
    TCaptionState s;
    // While the command line's picture is decoded, the title it will have.
    const bool starting = FPicture.Empty() && FStart;
    s.PictureEmpty = FPicture.Empty() && !starting;
    const std::string title = ApplicationTitle().toStdString();
    s.ApplicationTitle = title;
    const std::string name = ExtractFileName(starting ? FStart->Name : FFileName);
    s.FileName = name;
    const TPoint shown = ShownSize();
    s.Width = shown.X;
    s.Height = shown.Y;
    s.PixelFormat = starting ? TPixelFormat::pf24bit : FPicture.PixelFormat();
    s.Zoom = FZoom;
    s.JpegPreview = FJpegPreview;
    s.JpegQuality = FJpegQuality;
    s.JpegSize = FJpegSize;
    s.SelectionDragging = FSelectTool->IsDragging();
    s.Selection = FSelectTool->Rect();
    SetTitle(Text(CaptionText(s)));
}

QSize TForm1::ClientSize() const
{
    return {width() - (FVertBar->isVisible() ? FVertBar->width() : 0),
            height() - (FHorzBar->isVisible() ? FHorzBar->height() : 0)};
}

double TForm1::PixelRatio() const { return devicePixelRatio(); }

QSize TForm1::DeviceClientSize() const
{
    const QSize c = ClientSize();
    return {DeviceExtent(c.width(), PixelRatio()), DeviceExtent(c.height(), PixelRatio())};
}

TPoint TForm1::DevicePoint(QPointF p) const
{
    return {DevicePosition(p.x(), PixelRatio()), DevicePosition(p.y(), PixelRatio())};
}

TView TForm1::View() const
{
    TView v;
    const TPoint shown = ShownSize();
    v.PictureWidth = shown.X;
    v.PictureHeight = shown.Y;
    const QSize c = DeviceClientSize();
    v.ClientWidth = c.width();
    v.ClientHeight = c.height();
    v.ScrollX = FHorzBar->isVisible() ? FHorzBar->value() : 0;
    v.ScrollY = FVertBar->isVisible() ? FVertBar->value() : 0;
    v.Zoom = FZoom;
    return v;
}

// The bars count device pixels, as the picture is drawn; their geometry is logical.
void TForm1::UpdateScrollBars()
{
    const TPoint shown = ShownSize();
    const int32_t rangeX = shown.X == 0 ? 0 : ScrollRange(shown.X, FZoom);
    const int32_t rangeY = shown.Y == 0 ? 0 : ScrollRange(shown.Y, FZoom);
    const int barW = FVertBar->sizeHint().width(), barH = FHorzBar->sizeHint().height();
    const TScrollLayout l = ScrollLayout(rangeX, rangeY, width(), height(), barW, barH, PixelRatio());
    FHorzBar->setVisible(l.ShowHorz);
    FVertBar->setVisible(l.ShowVert);
    FHorzBar->setGeometry(0, l.ClientHeight, l.ClientWidth, barH);
    FVertBar->setGeometry(l.ClientWidth, 0, barW, l.ClientHeight);
    FHorzBar->setRange(0, l.HorzMax);
    FHorzBar->setPageStep(l.HorzPage);
    FHorzBar->setSingleStep(l.HorzStep);
    FVertBar->setRange(0, l.VertMax);
    FVertBar->setPageStep(l.VertPage);
    FVertBar->setSingleStep(l.VertStep);
    Label1->setGeometry(8, 8, std::max(0, width() - 16), std::max(0, height() - 16));
}

void TForm1::FitWindow(int32_t clientWidth, int32_t clientHeight)
{
    if (isMaximized() || isMinimized() || isFullScreen())
        return;
    FHorzBar->hide();
    FVertBar->hide();
    // Before the window manager has framed the window its frame is unknown (taken as none);
    // the fit is made again once it is known (FrameKnown).
    const QMargins frame = FrameMargins();
    FLastFit = QSize(clientWidth, clientHeight);
    FFitWithoutFrame = frame.isNull();
    std::optional<TRect> area;
    if (const QScreen* s = screen())
        area = RectOf(s->availableGeometry());
    // The client is asked for in device pixels; the window is sized in logical ones.
    const TPoint size = FitClientSize(clientWidth, clientHeight, PixelRatio(), {pos().x(), pos().y()},
                                      frame.left() + frame.right(), frame.top() + frame.bottom(), area);
    resize(size.X, size.Y);
}

QMargins TForm1::FrameMargins() const
{
    const QRect f = frameGeometry(), g = geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

void TForm1::FrameKnown()
{
    if (!FFitWithoutFrame || FrameMargins().isNull())
        return;
    FitWindow(FLastFit.width(), FLastFit.height());
    UpdateScrollBars();
    update();
}

// The painted rectangle as the next paint will have it, so that a press right after a zoom
// or scroll change, before the repaint, maps to the pixel the user will see there. Points are
// device pixels of the client.
TPoint TForm1::ScreenToImage(int32_t x, int32_t y) const
{
    const TBitmap& g = FDisplayBitmap ? *FDisplayBitmap : DisplaySource();
    const TRect painted = PaintGeometry(View(), g.Width(), g.Height()).Painted;
    return nolvi2::ScreenToImage(View(), painted, x, y);
}
TRect TForm1::ImageToScreen(int32_t x, int32_t y) const { return nolvi2::ImageToScreen(View(), x, y); }

void TForm1::paintEvent(QPaintEvent*)
{
    // What waits for the picture to show comes right after the paint; the command line's
    // picture first, once its part in view is painted.
    if (FStart && FStart->Part && !std::exchange(FStart->Painted, true))
        QTimer::singleShot(0, this, &TForm1::FinishStart);
    if (std::exchange(FPluginsDue, false))
        QTimer::singleShot(0, this, [this] {
            if (SPIs() && !FSPIs->Message().empty())
                Message(Text(FSPIs->Message()), mtError);
        });
    if (std::exchange(FPreloadDue, false))
        QTimer::singleShot(0, this, &TForm1::PreloadNeighbours);
    QPainter p(this);
    // Everything is drawn in device pixels, so that at 100 % one picture pixel is one pixel of
    // the screen at any device pixel ratio.
    const double ratio = PixelRatio();
    if (ratio != 1)
        p.setTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
    const QSize client = DeviceClientSize();
    const QSize whole(DeviceExtent(width(), ratio), DeviceExtent(height(), ratio));
    p.fillRect(QRect(QPoint(0, 0), client), palette().button());
    // The corner between the two bars belongs to neither: it is background, like the client
    // outside the picture.
    if (client.width() < whole.width() && client.height() < whole.height())
        p.fillRect(QRect(client.width(), client.height(), whole.width() - client.width(),
                         whole.height() - client.height()),
                   palette().button());
    p.setClipRect(QRect(QPoint(0, 0), client));
    if (FPicture.Empty() && FStart && FStart->Part) {
        // The part of the command line's picture decoded so far, where the picture will be.
        TPaintGeometry drawn = PaintGeometry(View(), FStart->Width, FStart->Height);
        CutToBitmap(drawn, FStart->Part->Width(), FStart->Part->Height(), FZoom);
        const TRect& src = drawn.Source;
        const TRect& dst = drawn.Dest;
        p.drawImage(QRect(dst.Left, dst.Top, dst.Width(), dst.Height()), ImageOf(*FStart->Part),
                    QRect(src.Left, src.Top, src.Width(), src.Height()));
        return;
    }
    if (FPicture.Empty())
        return;
    const TBitmap& g = FDisplayBitmap ? *FDisplayBitmap : DisplaySource();
    const TPaintGeometry geo = PaintGeometry(View(), g.Width(), g.Height());
    const QImage image = ImageOf(g);
    if (FZoom >= 1.0f) {
        // Only the visible part is drawn, cut to the bitmap.
        TPaintGeometry drawn = geo;
        CutToBitmap(drawn, g.Width(), g.Height(), FZoom);
        const TRect& src = drawn.Source;
        const TRect& dst = drawn.Dest;
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const QRect target(dst.Left, dst.Top, dst.Width(), dst.Height());
        if (FShadedSelection && !FDisplayBitmap && src.Width() > 0 && src.Height() > 0) {
            // Only the visible part is copied and shaded.
            ShadePart(g, src, *FShadedSelection, FOptions.OutOfSelection, FShadeBuffer);
            p.drawImage(target, ImageOf(FShadeBuffer), QRect(0, 0, src.Width(), src.Height()));
        } else {
            p.drawImage(target, image, QRect(src.Left, src.Top, src.Width(), src.Height()));
        }
    } else {
        p.drawImage(QPoint(geo.Dest.Left, geo.Dest.Top), image);
    }
    if (FSelectTool->HasSelection())
        DrawSelection(p);
}

void TForm1::resizeEvent(QResizeEvent*)
{
    UpdateScrollBars();
    update();
    FrameKnown();
}

void TForm1::moveEvent(QMoveEvent*) { FrameKnown(); }

void TForm1::showEvent(QShowEvent*)
{
    // On another screen the client may cover another number of device pixels.
    if (QWindow* window = windowHandle(); window && !FWatchingScreen) {
        FWatchingScreen = true;
        connect(window, &QWindow::screenChanged, this, [this] {
            UpdateScrollBars();
            update();
        });
    }
    FrameKnown();
}

void TForm1::wheelEvent(QWheelEvent* event)
{
    FWheelDelta += event->angleDelta().y();
    while (FWheelDelta >= 120) {
        FWheelDelta -= 120;
        Execute(TActionId::ZoomIn);
    }
    while (FWheelDelta <= -120) {
        FWheelDelta += 120;
        Execute(TActionId::ZoomOut);
    }
    event->accept();
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    // Keypad keys count as the main keys (Enter as Return).
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    int key = event->key();
    if (key == Qt::Key_Enter)
        key = Qt::Key_Return;
    if (key == Qt::Key_Space && mods == Qt::NoModifier)
        FSpaceDown = true;  // the hand tool, chosen at the next mouse move
    const auto found = FKeys.constFind(uint32_t(QKeyCombination(mods, Qt::Key(key)).toCombined()));
    if (found == FKeys.constEnd()) {
        QWidget::keyPressEvent(event);
        return;
    }
    Execute(*found);
    event->accept();
}

void TForm1::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat())
        FSpaceDown = false;
    QWidget::keyReleaseEvent(event);
}

void TForm1::focusOutEvent(QFocusEvent* event)
{
    // The release of a key held while the focus leaves never arrives here.
    FSpaceDown = false;
    QWidget::focusOutEvent(event);
}

void TForm1::mousePressEvent(QMouseEvent* event)
{
    if (FPicture.Empty() || event->button() != Qt::LeftButton)
        return;
    FCurrentTool->MouseDown(DevicePoint(event->position()));
    if (FCurrentTool == FSelectTool.get()) {
        UpdateCaption();
        update();
    }
}

void TForm1::mouseMoveEvent(QMouseEvent* event)
{
    TToolCursor cursor = ToolCursorOf(this->cursor().shape());
    if (!FCurrentTool->IsDragging()) {
        if (FSpaceDown) {
            FCurrentTool = FHandTool.get();
            cursor = TToolCursor::SizeAll;
        } else {
            FCurrentTool = FSelectTool.get();
        }
    }
    if (FCurrentTool->MouseMove(DevicePoint(event->position()), cursor)) {
        if (FCurrentTool == FSelectTool.get())
            UpdateCaption();
        update();
    }
    if (ShapeOf(cursor) != this->cursor().shape())
        setCursor(ShapeOf(cursor));
}

void TForm1::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (FCurrentTool->MouseUp(DevicePoint(event->position())) && FCurrentTool == FSelectTool.get()) {
        RebuildDisplayBitmap();
        UpdateCaption();
    }
    update();
}

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    PopupMenu1->popup(event->globalPos());
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    event->acceptProposedAction();
    // The drag's source waits until the drop returns: the file opens, and any message about
    // it shows, once it has.
    QMetaObject::invokeMethod(
        this, [this, urls = event->mimeData()->urls()] { FilesDropped(urls); }, Qt::QueuedConnection);
}

void TForm1::FilesDropped(const QList<QUrl>& urls)
{
    // Only a drop of exactly one file opens it.
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    // The path's own bytes, percent-decoded: toLocalFile() would turn bytes that are not
    // UTF-8 into replacement characters.
    const std::string name =
        QByteArray::fromPercentEncoding(urls.front().path(QUrl::FullyEncoded).toLatin1()).toStdString();
    Dispatch([&] { OpenFile(name); });
}

void TForm1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && FOptions.ShowProgressTime)
        if (auto report = FChronograph.TakeReport())
            Message(Text(*report), mtCustom);
}

void TForm1::RunCommand(const TCommand& command)
{
    // Nothing runs on a selection that is still being drawn.
    if (FPicture.Empty() || FSelectTool->IsDragging())
        return;
    // The destination is decided as the command starts, by the Shift key held then (filters
    // ignore it), not by what is held when a dialog closes.
    const bool toNew = command.Family == TFamily::D ? FOptions.OpenResultInNewWindow : ResultInNewWindow();
    TCommandOptions options;
    options.GrassWidth = FOptions.GrassWidth;
    options.RainbowMaskSize = FOptions.RainbowMaskSize;
    if (command.Family == TFamily::E) {
        options.ResizeWidth = FPicture.Width();
        options.ResizeHeight = FPicture.Height();
        options.ResizeAlgorithm = 3;
        if (!FServices->ResizeDialog(options.ResizeWidth, options.ResizeHeight, options.ResizeAlgorithm))
            return;
    }
    std::optional<TRect> selection = FSelectTool->Selection();
    if (toNew) {
        TNewWindowResult result =
            ApplyToNewWindow(command, FPicture, selection, options, FChronograph, ExtractFileName(FFileName));
        if (result.Applied)
            LaunchWithPicture(false, result.Title, result.KeepSelection, *result.Picture);
        return;
    }
    const TRoadOutcome outcome =
        ApplyInPlace(command, FPicture, selection, options, FChronograph, ExtractFileName(FFileName));
    if (!outcome.Applied)
        return;
    if (command.Family == TFamily::F) {
        const QScopedValueRollback<bool> defer(FDeferDisplay, true);  // PictureChanged rebuilds it
        FSelectTool->Deselect();
    }
    PictureChanged(outcome.ResizeWindow);
    if (command.Timed() && FOptions.ShowProgressTime)
        if (auto report = FChronograph.TakeReport())
            Message(Text(*report), mtCustom);
}

void TForm1::actOpenExecute()
{
    QString dir;
    if (FIsFile)
        dir = QFileInfo(ShownName(FFileName)).absolutePath();
    const QString name = QFileDialog::getOpenFileName(this, QString(), dir, Text(OpenDialogFilter()));
    if (!name.isEmpty())
        OpenFile(NameOf(name));
}

void TForm1::actNextFileExecute(bool next)
{
    if (!FIsFile)
        return;
    const std::optional<std::string> target = next ? NextFile(FStepName) : PrevFile(FStepName);
    if (!target)
        return;
    // The step moves on even when the file cannot be opened, so the next one goes past it.
    FStepName = *target;
    OpenFile(*target);
}

void TForm1::actCopyExecute()
{
    if (FPicture.Empty())
        return;
    if (const std::optional<TRect> selection = FSelectTool->Selection()) {
        const auto part = CopySelection(FPicture, *selection);
        QApplication::clipboard()->setImage(ImageOf(*part).copy());
    } else {
        QApplication::clipboard()->setImage(ImageOf(FPicture).copy());
    }
}

void TForm1::actPasteExecute()
{
    const QImage image = QApplication::clipboard()->image();
    if (image.isNull())
        return;
    BitmapFromImage(image, FPicture);
    FFileName = "クリップボード";
    FIsFile = false;
    PictureChanged(true);
}

void TForm1::actPasteUpdate()
{
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    Action(TActionId::Paste)->setEnabled(mime && mime->hasImage());
}

void TForm1::AssignShortCut(TKeyStroke key, TActionId id)
{
    const auto old = FKeys.constFind(key.Combined);
    if (old != FKeys.constEnd() && Action(*old)->shortcut() == ShownKey(key))
        Action(*old)->setShortcut(QKeySequence());
    FKeys.insert(key.Combined, id);
    Action(id)->setShortcut(ShownKey(key));
    for (const auto& mirror : FMenuMirrors)
        mirror();
}

void TForm1::SetJpegPreview(bool on)
{
    if (on == FJpegPreview)
        return;
    FJpegPreview = on;
    if (on)
        FPreviewBitmap = std::make_unique<TBitmap>();
    else
        FPreviewBitmap.reset();
    if (mnuJpegPreview)
        mnuJpegPreview->menuAction()->setChecked(on);
    using A = TActionId;
    Action(A::JpegPreview)->setText(on ? QStringLiteral("プレビューを解除(&J)") : Text(ActionInfo(A::JpegPreview).Caption));
    // While the preview is on, Enter saves and Left and Right change the quality.
    AssignShortCut({keys::Return}, on ? A::SaveAsJPEG : A::ZoomActualPixels);
    AssignShortCut({keys::Left}, on ? A::JpegPreviewDown : A::PrevFile);
    AssignShortCut({keys::Right}, on ? A::JpegPreviewUp : A::NextFile);
}

void TForm1::SetJpegParams(int quality, bool progressive)
{
    FJpegQuality = std::clamp(quality, 0, 100);
    FJpegProgressive = progressive;
    UpdateJpegChecks();
    PictureChanged(false);
}

void TForm1::UpdateJpegChecks()
{
    using A = TActionId;
    for (const A id : {A::JpegPreview80, A::JpegPreview60, A::JpegPreview30, A::JpegPreview10})
        Action(id)->setChecked(ActionInfo(id).Tag == FJpegQuality);
    Action(A::JpegProgressive)->setChecked(FJpegProgressive);
}

void TForm1::RebuildPreview()
{
    FJpegSize = 0;
    if (FPreviewBitmap)
        FJpegSize = RenderJpegPreview(FPicture, FJpegQuality, FJpegProgressive, *FPreviewBitmap);
}

void TForm1::SaveAsBmp(const std::string& name)
{
    SavePicture(name, FPicture, TSaveFormat::Bmp);
    FFileName = name;
    FStepName = name;
    UpdateCaption();
}

void TForm1::SaveAsJpeg(const std::string& name)
{
    SavePicture(name, FPicture, TSaveFormat::Jpeg, TJpegSettings{FJpegQuality, FJpegProgressive});
    FFileName = name;
    FStepName = name;
    UpdateCaption();
}

void TForm1::actSaveAsExecute(bool jpeg)
{
    if (FPicture.Empty() || (jpeg && !FJpegPreview))
        return;
    const QString title = jpeg ? QStringLiteral("JPEG形式で保存 画質%1").arg(FJpegQuality) : QStringLiteral("BMP形式で保存");
    const QString dir = FIsFile ? QFileInfo(ShownName(FFileName)).absolutePath() : QString();
    const QString chosen = FServices->SaveFileDialog(this, title, jpeg ? QStringLiteral("jpg") : QStringLiteral("bmp"),
                                                     Text(SaveDialogFilter(jpeg)), dir);
    if (chosen.isEmpty())
        return;
    // A name that says another format gets this format's extension; the dialog asked about
    // overwriting the name typed, so a changed name that exists is asked about here.
    const std::string typed = NameOf(chosen);
    const std::string name = NameForFormat(typed, jpeg ? TSaveFormat::Jpeg : TSaveFormat::Bmp);
    std::error_code error;
    const bool taken = std::filesystem::exists(std::filesystem::symlink_status(name, error));
    if (name != typed && taken &&
        Message(QStringLiteral("%1 は既に存在します。\r上書きしますか？").arg(ShownName(name)), mtConfirmation,
                Buttons({mbYes, mbNo})) != mrYes)
        return;
    if (jpeg)
        SaveAsJpeg(name);
    else
        SaveAsBmp(name);
}

}  // namespace nolvi2
