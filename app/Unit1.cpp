#include "Unit1.h"

#include "FolderWalk.h"
#include "NewWindow.h"
#include "StartupArgs.h"
#include "dlgPreferences.h"
#include "dlgResize.h"
#include "OpenPicture.h"
#include "ProcessingRoad.h"
#include "WindowTitle.h"
#include "common/OZCommon.h"
#include "platform/Exceptions.h"
#include "platform/JPEGImage.h"
#include "platform/SharedMemory.h"
#include "png/VelPNG.h"
#include "platform/Streams.h"
#include "settings/OZRegIniDlg.h"
#include "susie/SPIBmp.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScreen>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace nolvi2 {

namespace {

TMessageBoxHook& Hook()
{
    static TMessageBoxHook hook;
    return hook;
}

QString Text(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The scroll bars' arrow steps, in logical pixels.
constexpr int kHorzStep = 40, kVertStep = 26;

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

// A dialog filter "desc|*.a;*.b|..." in Qt's form "desc (*.a *.b);;...". A description that
// already ends with its patterns in parentheses keeps them (written with spaces, as Qt reads
// them); any other gets them appended, so each entry shows its patterns once.
QString QtFilter(const std::string& filter)
{
    const QStringList parts = Text(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (description.endsWith(QLatin1Char(')')) && description.contains(QStringLiteral(" (")))
            description.truncate(description.lastIndexOf(QStringLiteral(" (")));
        // The PNG codec registers an English name; the dialogs describe formats in Japanese.
        if (description == QStringLiteral("PNG Format"))
            description = QStringLiteral("PNG 画像ファイル");
        out << description + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

// The key as the menu shows it: Return and the keypad's Enter are one key, shown as "Enter".
QKeySequence ShownKey(const QKeySequence& key)
{
    if (!key.isEmpty() && key[0].key() == Qt::Key_Return)
        return QKeySequence(QKeyCombination(key[0].keyboardModifiers(), Qt::Key_Enter));
    return key;
}

}  // namespace

QString OpenDialogFilter()
{
    // The plug-ins' formats, then the decoders' own (BMP files are reached through "all files").
    const TPictureFormats& t = TPictureFormats::Instance();
    std::vector<std::string> masks, filters;
    for (const TGraphicClass* c : {&TSPIBitmap::ClassInfo(), &TJPEGImage::ClassInfo(), &TVelPNG::ClassInfo()}) {
        if (t.GraphicFileMask(*c).empty())
            continue;
        masks.push_back(t.GraphicFileMask(*c));
        filters.push_back(t.GraphicFilter(*c));
    }
    std::string mask, filter;
    for (std::size_t i = 0; i < masks.size(); ++i) {
        mask += (i ? ";" : "") + masks[i];
        filter += "|" + filters[i];
    }
    return QtFilter("読み込み可能なファイル (" + mask + ")|" + mask + filter + "|すべてのファイル|*.*");
}

QString SaveDialogFilter(bool jpeg)
{
    const TPictureFormats& t = TPictureFormats::Instance();
    return QtFilter(t.GraphicFilter(jpeg ? TJPEGImage::ClassInfo() : TBitmap::ClassInfo()));
}

void SetMessageBoxHook(TMessageBoxHook hook) { Hook() = std::move(hook); }

namespace {
TResizeDialogHook& ResizeHook()
{
    static TResizeDialogHook hook;
    return hook;
}
}  // namespace

void SetResizeDialogHook(TResizeDialogHook hook) { ResizeHook() = std::move(hook); }

bool ResizeDialog(int32_t& width, int32_t& height, uint8_t& algorithm)
{
    if (ResizeHook())
        return ResizeHook()(width, height, algorithm);
    return TResizeDialog::Execute(width, height, algorithm);
}

int ShowWindowMessage(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, bool taskBar)
{
    if (Hook())
        return Hook()(text, kind, buttons);
    return ShowMessageBox(text, kind, buttons, taskBar);
}

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

TForm1::TForm1()
{
    setWindowTitle(QStringLiteral("nolvi2"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    resize(328 - 16, 270 - 39);  // the design's outer size, less a typical frame

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
    FRecentMenu->ConfirmMissing = [](const QString& text) {
        return ShowWindowMessage(text, mtConfirmation, Buttons({mbYes, mbNo})) == mrYes;
    };
    FRecentMenu->OnUpdate = [this] { UpdateHistoryItem(); };
    UpdateHistoryItem();
    // The first start asks where the settings go, in the program's confirmation box.
    TOZIniFile2::SetFirstStartQuestion([] {
        const QString text = QString::fromUtf8(kFirstStartQuestion.data(), qsizetype(kFirstStartQuestion.size()));
        return ShowWindowMessage(text, mtConfirmation, Buttons({mbYes, mbNo}), true) == mrYes;
    });
    UpdateJpegChecks();
    UpdateUnitChecks();
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [this] { actPasteUpdate(); });
    actPasteUpdate();
}

TForm1::~TForm1()
{
    // The tools go first: the timer and the change handler reach back into the window.
    FScrollTimer->stop();
    FSelectTool->OnChange = nullptr;
    // The recent menu's items belong to its menu, which goes with the window.
    FRecentMenu.reset();
    // The blocks handed to new windows: each receiver removes its own once read; what a
    // receiver that failed left, or one that has not read yet after a while, goes now.
    ReleaseLaunchedBlocks(3000);
}

QAction* TForm1::AddAction(const QString& name, const QString& caption, std::function<void()> handler,
                           std::initializer_list<QKeySequence> keys)
{
    auto* a = new QAction(caption, this);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, [this, handler = std::move(handler)] { Dispatch(handler); });
    ActionList2[name] = a;
    for (const QKeySequence& k : keys) {
        if (!k.isEmpty() && !FKeys.contains(k[0].toCombined()))
            FKeys.insert(k[0].toCombined(), a);
    }
    if (keys.size() > 0)
        a->setShortcut(ShownKey(*keys.begin()));  // shown in the menu; the key table does the work
    a->setShortcutContext(Qt::WidgetShortcut);
    return a;
}

QAction* TForm1::Action(const QString& name) const
{
    const auto it = ActionList2.find(name);
    return it == ActionList2.end() ? nullptr : it->second;
}

void TForm1::CreateActions()
{
    using K = QKeySequence;
    AddAction("actOpen", "開く(&O)...", [this] { actOpenExecute(); }, {K(Qt::Key_O), K(Qt::CTRL | Qt::Key_O)});
    AddAction("actReopen", "開き直す(&R)", [this] {
        if (FIsFile)
            OpenFile(FFileName);
    }, {K(Qt::Key_F5)});
    AddAction("actPrevFile", "前のファイル(&P)", [this] { actNextFileExecute(false); }, {K(Qt::Key_Left)});
    AddAction("actNextFile", "次のファイル(&N)", [this] { actNextFileExecute(true); }, {K(Qt::Key_Right)});
    AddAction("actPreferences", "設定(&P)...", [this] { actPreferencesExecute(); }, {K(Qt::CTRL | Qt::Key_K)});
    AddAction("actIniStyle", "設定の保存先(&I)...", [this] {
        if (ChooseIniStyle(this))
            SaveSettings();
    });
    AddAction("actAbout", "バージョン情報(&A)...", [this] { actAboutExecute(); }, {K(Qt::Key_F1)});
    AddAction("actWebsite", "&Tamberlo ホームページ",
              [] { QDesktopServices::openUrl(QUrl(Text(std::string(kWebAddress)))); });
    AddAction("actNewWindow", "新しいウィンドウで開く(&W)", [this] {
        if (!FPicture.Empty() && FIsFile)
            LaunchWithPicture(true, FFileName, true, FPicture);
    }, {K(Qt::CTRL | Qt::Key_N)});
    AddAction("actCopy", "コピー(&C)", [this] { actCopyExecute(); }, {K(Qt::CTRL | Qt::Key_C)});
    AddAction("actPaste", "貼り付け(&P)", [this] { actPasteExecute(); }, {K(Qt::CTRL | Qt::Key_V)});

    for (const TCommand& c : ProcessingCommands()) {
        std::initializer_list<QKeySequence> keys = {};
        const QString name = Text(std::string(c.Action));
        if (name == "actResize")
            AddAction(name, Text(std::string(c.Caption)), [this, &c] { RunCommand(c); },
                      {K(Qt::Key_R), K(Qt::SHIFT | Qt::Key_R)});
        else if (name == "actInvert")
            AddAction(name, Text(std::string(c.Caption)), [this, &c] { RunCommand(c); },
                      {K(Qt::CTRL | Qt::Key_I), K(Qt::SHIFT | Qt::CTRL | Qt::Key_I)});
        else
            AddAction(name, Text(std::string(c.Caption)), [this, &c] { RunCommand(c); }, keys);
    }

    AddAction("actDeselect", "選択解除(&D)", [this] { FSelectTool->Deselect(); }, {K(Qt::CTRL | Qt::Key_D)});
    for (const int tag : {1, 8, 16, 24, 32}) {
        const QString caption = tag == 1 ? QStringLiteral("最小 なし(&F)") : QStringLiteral("最小 &%1ピクセル").arg(tag);
        const QString name = tag == 1 ? QStringLiteral("actSelectUnitFree") : QStringLiteral("actSelectUnit%1").arg(tag);
        QAction* a = AddAction(name, caption, [this, name] { actSelectUnitFreeExecute(Action(name)); });
        a->setData(tag);
        a->setCheckable(true);
    }
    Action("actCrop")->setEnabled(false);
    Action("actDeselect")->setEnabled(false);

    AddAction("actSaveAsBMP", "BMP形式で保存(&S)...", [this] { actSaveAsExecute(false); });
    AddAction("actJpegPreview", "プレビュー開始(&J)", [this] {
        SetJpegPreview(!FJpegPreview);
        PictureChanged(false);
    }, {K(Qt::Key_J)});
    AddAction("actSaveAsJPEG", "この圧縮率で保存(&S)...", [this] { actSaveAsExecute(true); });
    AddAction("actJpegProgressive", "プログレッシブ(&P)", [this] { SetJpegParams(FJpegQuality, !FJpegProgressive); })
        ->setCheckable(true);
    for (const int tag : {80, 60, 30, 10}) {
        const QString caption = tag == 80 ? QStringLiteral("高品質 &80") : QStringLiteral("品質 &%1").arg(tag);
        AddAction(QStringLiteral("actJpegPreview%1").arg(tag), caption, [this, tag] {
            SetJpegPreview(true);
            SetJpegParams(tag, FJpegProgressive);
        })->setCheckable(true);
    }
    AddAction("actJpegPreviewUp", "品質を10上げる(&U)", [this] { SetJpegParams(FJpegQuality + 10, FJpegProgressive); });
    AddAction("actJpegPreviewDown", "品質を10下げる(&D)",
              [this] { SetJpegParams(FJpegQuality - 10, FJpegProgressive); });

    // The hidden pixel-format commands: the colours reduced to what the format holds, then
    // the picture is 24-bit again.
    const std::pair<const char*, TPixelFormat> formats[] = {{"actPf24bit", TPixelFormat::pf24bit},
                                                           {"actPf8bit", TPixelFormat::pf8bit},
                                                           {"actPf4bit", TPixelFormat::pf4bit},
                                                           {"actPf1bit", TPixelFormat::pf1bit}};
    for (const auto& [name, pf] : formats) {
        const QString caption = QStringLiteral("&%1ビット").arg(BitsPerPixel(pf));
        AddAction(name, caption, [this, pf = pf] {
            if (FPicture.Empty())
                return;
            FPicture.SetPixelFormat(pf);
            PictureChanged(false);
        })->setCheckable(true);
    }

    AddAction("actZoomIn", "拡大(&I)", [this] { SetZoom(ZoomInValue(FZoom)); },
              {K(Qt::CTRL | Qt::Key_Plus), K(Qt::CTRL | Qt::Key_Equal), K(Qt::CTRL | Qt::Key_Semicolon),
               K(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus), K(Qt::CTRL | Qt::SHIFT | Qt::Key_Semicolon), K(Qt::Key_Up)});
    AddAction("actZoomOut", "縮小(&O)", [this] { SetZoom(ZoomOutValue(FZoom)); },
              {K(Qt::CTRL | Qt::Key_Minus), K(Qt::Key_Down)});
    AddAction("actZoomActualPixels", "ピクセル等倍(&A)", [this] { SetZoom(1.0f); },
              {K(Qt::CTRL | Qt::ALT | Qt::Key_0), K(Qt::Key_Return), K(Qt::Key_Enter)});
    QAction* toNew = AddAction("actOpenResultNewWindow", "処理結果を新しいウィンドウで開く(&R)", [this] {
        FOptions.OpenResultInNewWindow = !FOptions.OpenResultInNewWindow;
        Action("actOpenResultNewWindow")->setChecked(FOptions.OpenResultInNewWindow);
    });
    toNew->setCheckable(true);
    toNew->setChecked(FOptions.OpenResultInNewWindow);
    QAction* showTime = AddAction("actShowProcessingTime", "処理にかかった時間を表示する(&P)", [this] {
        FOptions.ShowProgressTime = !FOptions.ShowProgressTime;
        Action("actShowProcessingTime")->setChecked(FOptions.ShowProgressTime);
    });
    showTime->setCheckable(true);
    showTime->setChecked(FOptions.ShowProgressTime);
    AddAction("actExit", "終了(&X)", [this] { close(); });
}

QAction* TForm1::MenuProxy(QAction* action, const QString& caption, const QKeySequence& key)
{
    auto* item = new QAction(caption, this);
    item->setShortcutContext(Qt::WidgetShortcut);
    const auto mirror = [this, item, action, key] {
        item->setEnabled(action->isEnabled());
        item->setCheckable(action->isCheckable());
        item->setChecked(action->isChecked());
        // The item's own key, while the key table gives it to the action; else the action's.
        const bool ownKey = !key.isEmpty() && FKeys.value(key[0].toCombined(), nullptr) == action;
        item->setShortcut(ShownKey(ownKey ? key : action->shortcut()));
    };
    mirror();
    connect(action, &QAction::changed, item, mirror);
    FMenuMirrors.push_back(mirror);
    connect(item, &QAction::triggered, action, [action] { action->trigger(); });
    FMenuItems[action->objectName()] = item;
    return item;
}

QAction* TForm1::MenuItem(const QString& actionName) const
{
    const auto it = FMenuItems.find(actionName);
    return it != FMenuItems.end() ? it->second : Action(actionName);
}

void TForm1::CreateMenu()
{
    using K = QKeySequence;
    MenuProxy(Action("actReopen"), Action("actReopen")->text(), K(Qt::Key_F5));
    MenuProxy(Action("actSaveAsJPEG"), QStringLiteral("この画質で保存(&S)..."));
    for (const int tag : {80, 60, 30, 10})
        MenuProxy(Action(QStringLiteral("actJpegPreview%1").arg(tag)), QStringLiteral("画質 &%1").arg(tag));
    MenuProxy(Action("actJpegPreviewUp"), QStringLiteral("画質を10上げる(&U)"));
    MenuProxy(Action("actJpegPreviewDown"), QStringLiteral("画質を10下げる(&D)"));
    MenuProxy(Action("actNewWindow"), QStringLiteral("新しいウィンドウ(&W)"));
    MenuProxy(Action("actZoomIn"), Action("actZoomIn")->text(), K(Qt::Key_Up));
    MenuProxy(Action("actZoomOut"), Action("actZoomOut")->text(), K(Qt::Key_Down));
    MenuProxy(Action("actZoomActualPixels"), Action("actZoomActualPixels")->text(), K(Qt::Key_Return));
    // The items of a menu in order; "-" is a separator line.
    const auto add = [this](QMenu* menu, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (std::strcmp(name, "-") == 0)
                menu->addSeparator();
            else
                menu->addAction(MenuItem(QString::fromUtf8(name)));
        }
    };

    PopupMenu1 = new QMenu(this);
    add(PopupMenu1, {"actOpen"});
    add(PopupMenu1->addMenu(QStringLiteral("ファイル(&F)")),
        {"actReopen", "actPrevFile", "actNextFile", "-", "actPreferences", "actIniStyle", "-", "actAbout", "actWebsite"});
    mnuHistory = PopupMenu1->addMenu(QStringLiteral("最近開いたファイル(&H)"));
    add(PopupMenu1, {"actSaveAsBMP"});
    mnuJpegPreview = PopupMenu1->addMenu(QStringLiteral("&JPEGプレビュー"));
    mnuJpegPreview->menuAction()->setCheckable(true);
    add(mnuJpegPreview, {"actJpegPreview", "-", "actSaveAsJPEG", "actJpegProgressive", "-", "actJpegPreview80",
                         "actJpegPreview60", "actJpegPreview30", "actJpegPreview10", "-", "actJpegPreviewUp",
                         "actJpegPreviewDown"});
    add(PopupMenu1, {"-", "actCopy", "actPaste"});
    add(PopupMenu1->addMenu(QStringLiteral("選択範囲(&S)")),
        {"actDeselect", "-", "actCrop", "-", "actSelectUnitFree", "actSelectUnit8", "actSelectUnit16",
         "actSelectUnit24", "actSelectUnit32"});
    add(PopupMenu1, {"-"});
    QMenu* pixelFormat = PopupMenu1->addMenu(QStringLiteral("ピクセルフォーマット(&F)"));
    add(pixelFormat, {"actPf24bit", "actPf8bit", "actPf4bit", "actPf1bit"});
    pixelFormat->menuAction()->setVisible(false);  // hidden, as in the design; the actions stay
    add(PopupMenu1, {"actResize"});
    add(PopupMenu1->addMenu(QStringLiteral("画像回転(&E)")),
        {"actRotate180", "actRotate90", "actRotate270", "-", "actFlipHorizontal", "actFlipVertical"});
    add(PopupMenu1->addMenu(QStringLiteral("色調補正(&A)")),
        {"actInvert", "actGrayScale", "actSolarize", "actDesaturate", "-", "actGammaPlus", "actGammaMinus"});
    QMenu* masks = PopupMenu1->addMenu(QStringLiteral("可逆マスク(&M)"));
    add(masks, {"actWinMask", "actMaskNijiiro", "-"});
    add(masks->addMenu(QStringLiteral("&RGB入れ替え")),
        {"actRGBSwitchRGB", "actRGBSwitchRG", "actRGBSwitchGB", "actRGBSwitchBR"});
    add(masks, {"actXor", "actGrassHorizontal", "actGrassVertical"});
    QMenu* filters = PopupMenu1->addMenu(QStringLiteral("フィルタ(&L)"));
    add(filters->addMenu(QStringLiteral("ローパスフィルタ（ぼかし）(&L)")),
        {"actFilterLowpass", "actFilterLowpassLow", "actFilterLowpassWeak"});
    add(filters->addMenu(QStringLiteral("ハイパスフィルタ（シャープ）(&S)")),
        {"actFilterSharpLow", "actFilterSharpMiddle", "actFilterSharpHigh"});
    add(filters->addMenu(QStringLiteral("ラプラシアンフィルタ（エッジ検出）(&A)")),
        {"actFilterLaplacian4", "actFilterLaplacian8", "actFilterLaplacian82"});
    add(PopupMenu1, {"-"});
    add(PopupMenu1->addMenu(QStringLiteral("表示(&V)")),
        {"actNewWindow", "-", "actZoomIn", "actZoomOut", "actZoomActualPixels", "-", "actOpenResultNewWindow",
         "actShowProcessingTime"});
    add(PopupMenu1, {"-", "actExit"});
}

void TForm1::Dispatch(const std::function<void()>& f)
{
    // The title stops showing progress before a failure is shown.
    try {
        f();
    } catch (const std::bad_alloc&) {
        UpdateCaption();
        ShowWindowMessage(QStringLiteral("メモリが足りません。"), mtError, Buttons({mbOK}));
    } catch (const std::exception& e) {
        UpdateCaption();
        ShowWindowMessage(QString::fromUtf8(e.what()), mtError, Buttons({mbOK}));
    }
    UpdateCaption();
    if (cursor().shape() == Qt::WaitCursor)
        unsetCursor();
}

void TForm1::Execute(const QString& actionName)
{
    if (QAction* a = Action(actionName); a && a->isEnabled())
        a->trigger();
}

void TForm1::FormCreate(const std::vector<std::string>& parameters)
{
    // Parameters are the command line's bytes: a file name that is not valid UTF-8 stays the
    // name of its file.
    FPicture.OnProgress = [this](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                 const std::string&) { ProgressHandler(stage, percent); };
    // The plug-ins, before the settings and the command line's file; a search that failed is
    // reported once the start has taken what it was handed.
    FSPIs = std::make_unique<TPluginHost>();
    std::optional<TStartup> startup;
    std::string startupError;
    try {
        startup = ParseStartup(parameters);
    } catch (const std::exception& e) {
        startupError = e.what();
    }
    const auto applyPosition = [&] {
        if (startup && startup->HasPosition)
            move(startup->Left.value_or(x()), startup->Top.value_or(y()));
    };
    applyPosition();
    bool received = false;
    if (startup && startup->Receive) {
        try {
            ReceiveFromSharedMemory(startup->Tick, startup->BlockSize);
            received = true;
        } catch (const std::bad_alloc&) {
            startupError = "メモリが足りません。";
        } catch (const std::exception& e) {
            startupError = e.what();
        }
    }
    if (!FSPIs->Message().empty())
        ShowWindowMessage(QString::fromUtf8(FSPIs->Message()), mtError, Buttons({mbOK}));
    if (received)
        return;
    // A window that received nothing still works with the user's settings, and saves them
    // unchanged when it closes.
    LoadSettings();
    applyPosition();  // the command line's position wins over the stored one
    PictureChanged(false);
    if (!startupError.empty()) {
        ShowWindowMessage(QString::fromUtf8(startupError), mtError, Buttons({mbOK}));
        return;
    }
    if (startup->Receive || startup->Files.empty())
        return;
    Dispatch([&] { OpenFile(startup->Files.front()); });
    for (std::size_t i = 1; i < startup->Files.size(); ++i)
        Dispatch([&] { LaunchForFile(startup->Files[i]); });
}

void TForm1::ReceiveFromSharedMemory(const std::string& tickText, int32_t size)
{
    const std::unique_ptr<TFileStream> block = OpenSharedBlock(tickText, size);
    TWindowState state;
    TBitmap picture;
    ReadState(*block, state, *FRecentMenu, picture);
    FOptions = state.Options;
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
    return nolvi2::NewWindowPos({frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()},
                                {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()}, w, h);
}

void TForm1::LaunchForFile(const std::string& name) { nolvi2::LaunchForFile(NewWindowPos(0, 0), name); }

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
                                           LogicalExtent(picture.Height(), PixelRatio())));
}

bool TForm1::ResultInNewWindow() const
{
    const bool shift = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    return FOptions.OpenResultInNewWindow != shift;
}

void TForm1::actPreferencesExecute()
{
    TPreferencesTargets targets;
    targets.Recent = FRecentMenu.get();
    targets.SelectTool = FSelectTool.get();
    targets.HandTool = FHandTool.get();
    if (!TPreferencesDialog::Execute(this, FOptions, targets, SPIs()))
        return;
    UpdateUnitChecks();
    UpdateHistoryItem();
    // The shading follows a new setting at once.
    if (const std::optional<TRect> selection = FSelectTool->Selection())
        FSelectTool->SetRect(*selection);
    else
        RebuildDisplayBitmap();
    update();
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
        ShowWindowMessage(QStringLiteral("未対応のファイルです。\r") + ShownName(name), mtError, Buttons({mbOK}));
        return;
    }
    LoadPicture(name, FPicture, FPicture.OnProgress);
    FRecentMenu->AddFile(name);
    FFileName = name;
    FStepName = name;
    FIsFile = true;
    SetJpegPreview(false);
    PictureChanged(true);
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
        QAction* a = Action(Text(std::string(e.Action)));
        if (!a)
            continue;
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
    Action("actCrop")->setEnabled(selected);
    Action("actDeselect")->setEnabled(selected);
    if (FDeferDisplay)
        return;
    RebuildDisplayBitmap();
    update();
}

void TForm1::actSelectUnitFreeExecute(QAction* sender)
{
    for (const char* name : {"actSelectUnitFree", "actSelectUnit8", "actSelectUnit16", "actSelectUnit24", "actSelectUnit32"})
        Action(name)->setChecked(false);
    FSelectTool->SetMinimumUnit(uint8_t(sender->data().toInt()));
    sender->setChecked(true);
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
    // A position off every screen (a monitor that is gone) moves onto the primary screen,
    // as much of the window on it as fits.
    QPoint p(s.WindowX, s.WindowY);
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->geometry().contains(p);
    if (!onScreen && QGuiApplication::primaryScreen()) {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize outer = frameGeometry().size();
        p.setX(std::clamp(p.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
        p.setY(std::clamp(p.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    }
    move(p);
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
    const std::vector<std::string> messages = nolvi2::LoadSettings(settings, *FRecentMenu);
    ApplySettings(settings);
    UpdateUnitChecks();
    UpdateJpegChecks();
    UpdateHistoryItem();
    if (!messages.empty()) {
        QStringList texts;
        for (const std::string& m : messages)
            texts << QString::fromUtf8(m);
        ShowWindowMessage(texts.join(QStringLiteral("\r\r")), mtError, Buttons({mbOK}));
    }
}

void TForm1::SaveSettings()
{
    try {
        nolvi2::SaveSettings(CurrentSettings(), *FRecentMenu);
    } catch (const std::exception& e) {
        ShowWindowMessage(QStringLiteral("設定を保存できませんでした。\r") + QString::fromUtf8(e.what()), mtError,
                          Buttons({mbOK}));
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    TOZVistaForm::closeEvent(event);
}

void TForm1::UpdateUnitChecks()
{
    const int unit = FSelectTool->MinimumUnit();
    bool found = false;
    for (const char* name : {"actSelectUnit8", "actSelectUnit16", "actSelectUnit24", "actSelectUnit32"}) {
        QAction* a = Action(name);
        a->setChecked(a->data().toInt() == unit);
        found = found || a->isChecked();
    }
    Action("actSelectUnitFree")->setChecked(!found);
    Action("actOpenResultNewWindow")->setChecked(FOptions.OpenResultInNewWindow);
    Action("actShowProcessingTime")->setChecked(FOptions.ShowProgressTime);
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
    s.PictureEmpty = FPicture.Empty();
    const std::string title = ApplicationTitle().toStdString();
    s.ApplicationTitle = title;
    const std::string name = ExtractFileName(FFileName);
    s.FileName = name;
    s.Width = FPicture.Width();
    s.Height = FPicture.Height();
    s.PixelFormat = FPicture.PixelFormat();
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
    v.PictureWidth = FPicture.Width();
    v.PictureHeight = FPicture.Height();
    const QSize c = DeviceClientSize();
    v.ClientWidth = c.width();
    v.ClientHeight = c.height();
    v.ScrollX = FHorzBar->isVisible() ? FHorzBar->value() : 0;
    v.ScrollY = FVertBar->isVisible() ? FVertBar->value() : 0;
    v.Zoom = FZoom;
    return v;
}

// The bars' ranges are the zoomed picture's extent; a bar shows only when that extent does
// not fit the client. Showing one bar shrinks the client, which may call for the other. The
// bars count device pixels, as the picture is drawn; their geometry is logical.
void TForm1::UpdateScrollBars()
{
    const double ratio = PixelRatio();
    const int32_t rangeX = FPicture.Empty() ? 0 : ScrollRange(FPicture.Width(), FZoom);
    const int32_t rangeY = FPicture.Empty() ? 0 : ScrollRange(FPicture.Height(), FZoom);
    const int barW = FVertBar->sizeHint().width(), barH = FHorzBar->sizeHint().height();
    bool showX = false, showY = false;
    for (int pass = 0; pass < 2; ++pass) {
        const int cw = width() - (showY ? barW : 0), ch = height() - (showX ? barH : 0);
        showX = rangeX > DeviceExtent(cw, ratio);
        showY = rangeY > DeviceExtent(ch, ratio);
    }
    const int cw = width() - (showY ? barW : 0), ch = height() - (showX ? barH : 0);
    FHorzBar->setVisible(showX);
    FVertBar->setVisible(showY);
    FHorzBar->setGeometry(0, ch, cw, barH);
    FVertBar->setGeometry(cw, 0, barW, ch);
    const QSize client = DeviceClientSize();
    FHorzBar->setRange(0, std::max(0, rangeX - client.width()));
    FHorzBar->setPageStep(std::max(1, client.width()));
    FHorzBar->setSingleStep(DeviceExtent(kHorzStep, ratio));
    FVertBar->setRange(0, std::max(0, rangeY - client.height()));
    FVertBar->setPageStep(std::max(1, client.height()));
    FVertBar->setSingleStep(DeviceExtent(kVertStep, ratio));
    Label1->setGeometry(8, 8, std::max(0, width() - 16), std::max(0, height() - 16));
}

void TForm1::FitWindow(int32_t clientWidth, int32_t clientHeight)
{
    if (isMaximized() || isMinimized() || isFullScreen())
        return;
    FHorzBar->hide();
    FVertBar->hide();
    // The client is asked for in device pixels; the window is sized in logical ones.
    int w = std::max(LogicalExtent(clientWidth, PixelRatio()), 1);
    int h = std::max(LogicalExtent(clientHeight, PixelRatio()), 1);
    // Before the window manager has framed the window its frame is unknown (taken as none);
    // the fit is made again once it is known (FrameKnown).
    const QMargins frame = FrameMargins();
    FLastFit = QSize(clientWidth, clientHeight);
    FFitWithoutFrame = frame.isNull();
    // The window is never moved; it only shrinks to stay inside the work area.
    if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        const QPoint topLeft = pos();  // the frame's
        const int frameExtraW = frame.left() + frame.right(), frameExtraH = frame.top() + frame.bottom();
        if (area.right() + 1 < topLeft.x() + w + frameExtraW)
            w = std::max(1, area.right() + 1 - topLeft.x() - frameExtraW);
        if (area.bottom() + 1 < topLeft.y() + h + frameExtraH)
            h = std::max(1, area.bottom() + 1 - topLeft.y() - frameExtraH);
    }
    resize(w, h);
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
    if (FPicture.Empty())
        return;
    const TBitmap& g = FDisplayBitmap ? *FDisplayBitmap : DisplaySource();
    const TPaintGeometry geo = PaintGeometry(View(), g.Width(), g.Height());
    const QImage image = ImageOf(g);
    if (FZoom >= 1.0f) {
        // Only the visible part is drawn; a source that reaches one pixel past the bitmap is
        // cut to the bitmap with its destination.
        TRect src = geo.Source, dst = geo.Dest;
        const auto cut = [this](int32_t& srcEnd, int32_t& dstEnd, int32_t srcStart, int32_t dstStart, int32_t extent) {
            if (srcEnd > extent) {
                srcEnd = extent;
                dstEnd = dstStart + int32_t(std::trunc((long double)(srcEnd - srcStart) * FZoom));
            }
        };
        cut(src.Right, dst.Right, src.Left, dst.Left, g.Width());
        cut(src.Bottom, dst.Bottom, src.Top, dst.Top, g.Height());
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
        Execute("actZoomIn");
    }
    while (FWheelDelta <= -120) {
        FWheelDelta += 120;
        Execute("actZoomOut");
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
    QAction* a = FKeys.value(QKeyCombination(mods, Qt::Key(key)).toCombined(), nullptr);
    if (!a) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (a->isEnabled())
        a->trigger();
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
    FilesDropped(event->mimeData()->urls());
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
            ShowWindowMessage(Text(*report), mtCustom, Buttons({mbOK}));
}

void TForm1::RunCommand(const TCommand& command)
{
    // Nothing runs on a selection that is still being drawn.
    if (FPicture.Empty() || FSelectTool->IsDragging())
        return;
    TCommandOptions options;
    options.GrassWidth = FOptions.GrassWidth;
    options.RainbowMaskSize = FOptions.RainbowMaskSize;
    if (command.Family == TFamily::E) {
        options.ResizeWidth = FPicture.Width();
        options.ResizeHeight = FPicture.Height();
        options.ResizeAlgorithm = 3;
        if (!ResizeDialog(options.ResizeWidth, options.ResizeHeight, options.ResizeAlgorithm))
            return;
    }
    // Filters ignore the Shift key.
    const bool toNew = command.Family == TFamily::D ? FOptions.OpenResultInNewWindow : ResultInNewWindow();
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
            ShowWindowMessage(Text(*report), mtCustom, Buttons({mbOK}));
}

void TForm1::actOpenExecute()
{
    QString dir;
    if (FIsFile)
        dir = QFileInfo(ShownName(FFileName)).absolutePath();
    const QString name = QFileDialog::getOpenFileName(this, QString(), dir, OpenDialogFilter());
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
    if (QAction* a = Action("actPaste")) {
        const QMimeData* mime = QApplication::clipboard()->mimeData();
        a->setEnabled(mime && mime->hasImage());
    }
}

void TForm1::actAboutExecute()
{
    if (Hook()) {
        Hook()(Text(AboutBoxText()), mtInformation, Buttons({mbOK}));
        return;
    }
    ShowAboutBox();
}

void TForm1::AssignShortCut(const QKeySequence& key, QAction* action)
{
    const int combined = key[0].toCombined();
    QAction* old = FKeys.value(combined, nullptr);
    FKeys.insert(combined, action);
    if (old && old->shortcut() == ShownKey(key))
        old->setShortcut(QKeySequence());
    action->setShortcut(ShownKey(key));
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
    Action("actJpegPreview")->setText(on ? QStringLiteral("プレビューを解除(&J)") : QStringLiteral("プレビュー開始(&J)"));
    // While the preview is on, Enter saves and Left and Right change the quality.
    AssignShortCut(QKeySequence(Qt::Key_Return), Action(on ? "actSaveAsJPEG" : "actZoomActualPixels"));
    AssignShortCut(QKeySequence(Qt::Key_Left), Action(on ? "actJpegPreviewDown" : "actPrevFile"));
    AssignShortCut(QKeySequence(Qt::Key_Right), Action(on ? "actJpegPreviewUp" : "actNextFile"));
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
    for (const int tag : {80, 60, 30, 10})
        Action(QStringLiteral("actJpegPreview%1").arg(tag))->setChecked(tag == FJpegQuality);
    Action("actJpegProgressive")->setChecked(FJpegProgressive);
}

// The picture as it would look after JPEG compression, and the size of the compressed data.
void TForm1::RebuildPreview()
{
    FJpegSize = 0;
    if (FPicture.Empty() || !FPreviewBitmap)
        return;
    TJPEGImage jpeg;
    jpeg.Borrow(FPicture);
    jpeg.SetCompressionQuality(FJpegQuality);
    jpeg.SetProgressiveEncoding(FJpegProgressive);
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    TJPEGImage back;
    back.LoadFromMemory(stream.Memory(), std::size_t(stream.Size()));
    back.TakePicture(*FPreviewBitmap);
    FJpegSize = int32_t(std::min<int64_t>(stream.Size(), INT32_MAX));
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
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setWindowTitle(jpeg ? QStringLiteral("JPEG形式で保存 画質%1").arg(FJpegQuality) : QStringLiteral("BMP形式で保存"));
    dialog.setDefaultSuffix(jpeg ? QStringLiteral("jpg") : QStringLiteral("bmp"));
    dialog.setNameFilter(SaveDialogFilter(jpeg));
    if (FIsFile)
        dialog.setDirectory(QFileInfo(ShownName(FFileName)).absolutePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string name = NameOf(dialog.selectedFiles().front());
    if (jpeg)
        SaveAsJpeg(name);
    else
        SaveAsBmp(name);
}

}  // namespace nolvi2
