#include "ActionTable.h"

#include <stdexcept>

namespace nolvi2 {

namespace {

using A = TActionId;
using Kind = TActionKind;
using namespace keys;

constexpr TActionInfo Row(TActionId id, std::string_view name, std::string_view caption, Kind kind = Kind::Plain,
                          int tag = 0, std::array<TKeyStroke, 6> keys = {}, std::string_view menuCaption = {},
                          TKeyStroke menuKey = {})
{
    TActionInfo a;
    a.Id = id;
    a.Name = name;
    a.Caption = caption;
    a.Kind = kind;
    a.Tag = tag;
    a.Keys = keys;
    a.MenuCaption = menuCaption;
    a.MenuKey = menuKey;
    return a;
}

// The rows of the actions; a processing command's row takes its caption from the command
// table, whose order the ids from Invert to Crop follow.
constexpr TActionInfo kRows[] = {
    Row(A::Open, "actOpen", "開く(&O)...", Kind::Plain, 0, {K('O'), K(Ctrl | 'O')}),
    Row(A::Reopen, "actReopen", "開き直す(&R)", Kind::Plain, 0, {K(F5)}, {}, K(F5)),
    Row(A::PrevFile, "actPrevFile", "前のファイル(&P)", Kind::Plain, 0, {K(Left)}),
    Row(A::NextFile, "actNextFile", "次のファイル(&N)", Kind::Plain, 0, {K(Right)}),
    Row(A::Preferences, "actPreferences", "設定(&P)...", Kind::Plain, 0, {K(Ctrl | 'K')}),
    Row(A::IniStyle, "actIniStyle", "設定の保存先(&I)...", Kind::Plain),
    Row(A::About, "actAbout", "バージョン情報(&A)...", Kind::Plain, 0, {K(F1)}),
    Row(A::Website, "actWebsite", "&Tamberlo ホームページ", Kind::Plain),
    Row(A::NewWindow, "actNewWindow", "新しいウィンドウで開く(&W)", Kind::Plain, 0, {K(Ctrl | 'N')}, "新しいウィンドウ(&W)"),
    Row(A::Copy, "actCopy", "コピー(&C)", Kind::Plain, 0, {K(Ctrl | 'C')}),
    Row(A::Paste, "actPaste", "貼り付け(&P)", Kind::Plain, 0, {K(Ctrl | 'V')}),
    Row(A::Invert, "actInvert", {}, Kind::Command, 0, {K(Ctrl | 'I'), K(Shift | Ctrl | 'I')}),
    Row(A::Solarize, "actSolarize", {}, Kind::Command),
    Row(A::GrayScale, "actGrayScale", {}, Kind::Command),
    Row(A::Desaturate, "actDesaturate", {}, Kind::Command),
    Row(A::Xor, "actXor", {}, Kind::Command),
    Row(A::RGBSwitchRGB, "actRGBSwitchRGB", {}, Kind::Command),
    Row(A::RGBSwitchRG, "actRGBSwitchRG", {}, Kind::Command),
    Row(A::RGBSwitchGB, "actRGBSwitchGB", {}, Kind::Command),
    Row(A::RGBSwitchBR, "actRGBSwitchBR", {}, Kind::Command),
    Row(A::GammaPlus, "actGammaPlus", {}, Kind::Command),
    Row(A::GammaMinus, "actGammaMinus", {}, Kind::Command),
    Row(A::MaskNijiiro, "actMaskNijiiro", {}, Kind::Command),
    Row(A::Rotate180, "actRotate180", {}, Kind::Command),
    Row(A::FlipHorizontal, "actFlipHorizontal", {}, Kind::Command),
    Row(A::FlipVertical, "actFlipVertical", {}, Kind::Command),
    Row(A::GrassHorizontal, "actGrassHorizontal", {}, Kind::Command),
    Row(A::GrassVertical, "actGrassVertical", {}, Kind::Command),
    Row(A::WinMask, "actWinMask", {}, Kind::Command),
    Row(A::Rotate90, "actRotate90", {}, Kind::Command),
    Row(A::Rotate270, "actRotate270", {}, Kind::Command),
    Row(A::FilterLowpass, "actFilterLowpass", {}, Kind::Command),
    Row(A::FilterLowpassLow, "actFilterLowpassLow", {}, Kind::Command),
    Row(A::FilterLowpassWeak, "actFilterLowpassWeak", {}, Kind::Command),
    Row(A::FilterSharpLow, "actFilterSharpLow", {}, Kind::Command),
    Row(A::FilterSharpMiddle, "actFilterSharpMiddle", {}, Kind::Command),
    Row(A::FilterSharpHigh, "actFilterSharpHigh", {}, Kind::Command),
    Row(A::FilterLaplacian4, "actFilterLaplacian4", {}, Kind::Command),
    Row(A::FilterLaplacian8, "actFilterLaplacian8", {}, Kind::Command),
    Row(A::FilterLaplacian82, "actFilterLaplacian82", {}, Kind::Command),
    Row(A::Resize, "actResize", {}, Kind::Command, 0, {K('R'), K(Shift | 'R')}),
    Row(A::Crop, "actCrop", {}, Kind::Command),
    Row(A::Deselect, "actDeselect", "選択解除(&D)", Kind::Plain, 0, {K(Ctrl | 'D')}),
    Row(A::SelectUnitFree, "actSelectUnitFree", "最小 なし(&F)", Kind::SelectUnit, 1),
    Row(A::SelectUnit8, "actSelectUnit8", "最小 &8ピクセル", Kind::SelectUnit, 8),
    Row(A::SelectUnit16, "actSelectUnit16", "最小 &16ピクセル", Kind::SelectUnit, 16),
    Row(A::SelectUnit24, "actSelectUnit24", "最小 &24ピクセル", Kind::SelectUnit, 24),
    Row(A::SelectUnit32, "actSelectUnit32", "最小 &32ピクセル", Kind::SelectUnit, 32),
    Row(A::SaveAsBMP, "actSaveAsBMP", "BMP形式で保存(&S)...", Kind::Plain),
    Row(A::JpegPreview, "actJpegPreview", "プレビュー開始(&J)", Kind::Plain, 0, {K('J')}),
    Row(A::SaveAsJPEG, "actSaveAsJPEG", "この圧縮率で保存(&S)...", Kind::Plain, 0, {}, "この画質で保存(&S)..."),
    Row(A::JpegProgressive, "actJpegProgressive", "プログレッシブ(&P)", Kind::Toggle),
    Row(A::JpegPreview80, "actJpegPreview80", "高品質 &80", Kind::JpegQuality, 80, {}, "画質 &80"),
    Row(A::JpegPreview60, "actJpegPreview60", "品質 &60", Kind::JpegQuality, 60, {}, "画質 &60"),
    Row(A::JpegPreview30, "actJpegPreview30", "品質 &30", Kind::JpegQuality, 30, {}, "画質 &30"),
    Row(A::JpegPreview10, "actJpegPreview10", "品質 &10", Kind::JpegQuality, 10, {}, "画質 &10"),
    Row(A::JpegPreviewUp, "actJpegPreviewUp", "品質を10上げる(&U)", Kind::Plain, 0, {}, "画質を10上げる(&U)"),
    Row(A::JpegPreviewDown, "actJpegPreviewDown", "品質を10下げる(&D)", Kind::Plain, 0, {}, "画質を10下げる(&D)"),
    Row(A::Pf24bit, "actPf24bit", "&24ビット", Kind::PixelFormat, 24),
    Row(A::Pf8bit, "actPf8bit", "&8ビット", Kind::PixelFormat, 8),
    Row(A::Pf4bit, "actPf4bit", "&4ビット", Kind::PixelFormat, 4),
    Row(A::Pf1bit, "actPf1bit", "&1ビット", Kind::PixelFormat, 1),
    Row(A::ZoomIn, "actZoomIn", "拡大(&I)", Kind::Plain, 0,
     {K(Ctrl | '+'), K(Ctrl | '='), K(Ctrl | ';'), K(Ctrl | Shift | '+'), K(Ctrl | Shift | ';'), K(Up)}, {}, K(Up)),
    Row(A::ZoomOut, "actZoomOut", "縮小(&O)", Kind::Plain, 0, {K(Ctrl | '-'), K(Down)}, {}, K(Down)),
    Row(A::ZoomActualPixels, "actZoomActualPixels", "ピクセル等倍(&A)", Kind::Plain, 0,
     {K(Ctrl | Alt | '0'), K(Return), K(Enter)}, {}, K(Return)),
    Row(A::OpenResultNewWindow, "actOpenResultNewWindow", "処理結果を新しいウィンドウで開く(&R)", Kind::Toggle),
    Row(A::ShowProcessingTime, "actShowProcessingTime", "処理にかかった時間を表示する(&P)", Kind::Toggle),
    Row(A::Exit, "actExit", "終了(&X)", Kind::Plain),
};
static_assert(std::size(kRows) == kActionCount);

constexpr bool RowsInIdOrder()
{
    for (std::size_t i = 0; i < std::size(kRows); ++i)
        if (std::size_t(kRows[i].Id) != i)
            return false;
    return true;
}
static_assert(RowsInIdOrder(), "the action rows follow TActionId");

constexpr std::size_t kFirstCommand = std::size_t(A::Invert);
static_assert(std::size_t(A::Crop) - kFirstCommand + 1 == kCommandCount, "one action per processing command");

std::array<TActionInfo, kActionCount> MakeTable()
{
    std::array<TActionInfo, kActionCount> table{};
    for (std::size_t i = 0; i < kActionCount; ++i) {
        table[i] = kRows[i];
        if (table[i].Kind != Kind::Command)
            continue;
        const TCommand& c = ProcessingCommands()[i - kFirstCommand];
        // The ids of the commands follow the command table; a row out of step fails here at
        // the first start, and in the tests.
        if (c.Action != table[i].Name)
            throw std::logic_error("action table out of step with the command table");
        table[i].Caption = c.Caption;
        table[i].Command = &c;
    }
    return table;
}

constexpr TMenuEntry I(TActionId id) { return {TMenuEntryKind::Item, id, {}, TSubmenuRole::Plain}; }
constexpr TMenuEntry kSep{TMenuEntryKind::Separator, {}, {}, TSubmenuRole::Plain};
constexpr TMenuEntry Sub(std::string_view caption, TSubmenuRole role = TSubmenuRole::Plain)
{
    return {TMenuEntryKind::Begin, {}, caption, role};
}
constexpr TMenuEntry kEnd{TMenuEntryKind::End, {}, {}, TSubmenuRole::Plain};

constexpr TMenuEntry kContextMenu[] = {
    I(A::Open),
    Sub("ファイル(&F)"), I(A::Reopen), I(A::PrevFile), I(A::NextFile), kSep, I(A::Preferences), I(A::IniStyle), kSep,
        I(A::About), I(A::Website), kEnd,
    Sub("最近開いたファイル(&H)", TSubmenuRole::Recent), kEnd,
    I(A::SaveAsBMP),
    Sub("&JPEGプレビュー", TSubmenuRole::JpegPreview), I(A::JpegPreview), kSep, I(A::SaveAsJPEG), I(A::JpegProgressive),
        kSep, I(A::JpegPreview80), I(A::JpegPreview60), I(A::JpegPreview30), I(A::JpegPreview10), kSep,
        I(A::JpegPreviewUp), I(A::JpegPreviewDown), kEnd,
    kSep, I(A::Copy), I(A::Paste),
    Sub("選択範囲(&S)"), I(A::Deselect), kSep, I(A::Crop), kSep, I(A::SelectUnitFree), I(A::SelectUnit8),
        I(A::SelectUnit16), I(A::SelectUnit24), I(A::SelectUnit32), kEnd,
    kSep,
    Sub("ピクセルフォーマット(&F)", TSubmenuRole::Hidden), I(A::Pf24bit), I(A::Pf8bit), I(A::Pf4bit), I(A::Pf1bit), kEnd,
    I(A::Resize),
    Sub("画像回転(&E)"), I(A::Rotate180), I(A::Rotate90), I(A::Rotate270), kSep, I(A::FlipHorizontal),
        I(A::FlipVertical), kEnd,
    Sub("色調補正(&A)"), I(A::Invert), I(A::GrayScale), I(A::Solarize), I(A::Desaturate), kSep, I(A::GammaPlus),
        I(A::GammaMinus), kEnd,
    Sub("可逆マスク(&M)"), I(A::WinMask), I(A::MaskNijiiro), kSep,
        Sub("&RGB入れ替え"), I(A::RGBSwitchRGB), I(A::RGBSwitchRG), I(A::RGBSwitchGB), I(A::RGBSwitchBR), kEnd,
        I(A::Xor), I(A::GrassHorizontal), I(A::GrassVertical), kEnd,
    Sub("フィルタ(&L)"),
        Sub("ローパスフィルタ（ぼかし）(&L)"), I(A::FilterLowpass), I(A::FilterLowpassLow), I(A::FilterLowpassWeak), kEnd,
        Sub("ハイパスフィルタ（シャープ）(&S)"), I(A::FilterSharpLow), I(A::FilterSharpMiddle), I(A::FilterSharpHigh), kEnd,
        Sub("ラプラシアンフィルタ（エッジ検出）(&A)"), I(A::FilterLaplacian4), I(A::FilterLaplacian8),
            I(A::FilterLaplacian82), kEnd,
        kEnd,
    kSep,
    Sub("表示(&V)"), I(A::NewWindow), kSep, I(A::ZoomIn), I(A::ZoomOut), I(A::ZoomActualPixels), kSep,
        I(A::OpenResultNewWindow), I(A::ShowProcessingTime), kEnd,
    kSep, I(A::Exit),
};

}  // namespace

std::span<const TMenuEntry> ContextMenu() { return kContextMenu; }

std::span<const TActionInfo> Actions()
{
    static const std::array<TActionInfo, kActionCount> table = MakeTable();
    return table;
}

const TActionInfo& ActionInfo(TActionId id) { return Actions()[std::size_t(id)]; }

std::optional<TActionId> FindAction(std::string_view name)
{
    for (const TActionInfo& a : Actions())
        if (a.Name == name)
            return a.Id;
    return std::nullopt;
}

TActionId CommandAction(const TCommand& command)
{
    return TActionId(kFirstCommand + std::size_t(&command - ProcessingCommands().data()));
}

}  // namespace nolvi2
