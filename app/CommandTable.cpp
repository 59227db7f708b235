#include "CommandTable.h"

#include "platform/Format.h"

#include <array>

namespace nolvi2 {

namespace {

using F = TFamily;
using Op = TOperation;

constexpr std::array kCommands = {
    TCommand{"actInvert", "階調の反転(&I)", F::A, Op::Invert, 0, "階調の反転"},
    TCommand{"actSolarize", "ソラリゼーション(&S)", F::A, Op::Solarize, 0, "ソラリゼーション"},
    TCommand{"actGrayScale", "グレイスケール(&G)", F::A, Op::GrayScale, 0, "グレイスケール"},
    TCommand{"actDesaturate", "彩度を下げる(&D)", F::A, Op::Desaturate, 0, "彩度を下げる"},
    TCommand{"actXor", "&XOR処理", F::A, Op::XorChannels, 0, "XOR処理"},
    TCommand{"actRGBSwitchRGB", "R &> G > B", F::A, Op::SwapRGB, 0, "RGB入れ替え"},
    TCommand{"actRGBSwitchRG", "&R <=> G", F::A, Op::SwapRGB, 1, "RGB入れ替え"},
    TCommand{"actRGBSwitchGB", "&G <=> B", F::A, Op::SwapRGB, 2, "RGB入れ替え"},
    TCommand{"actRGBSwitchBR", "&B <=> R", F::A, Op::SwapRGB, 3, "RGB入れ替え"},
    TCommand{"actGammaPlus", "ガンマ補正＋(&P)", F::A, Op::GammaPlus, 0, "ガンマ補正＋"},
    TCommand{"actGammaMinus", "ガンマ補正－（&M)", F::A, Op::GammaMinus, 0, "ガンマ補正－"},
    TCommand{"actMaskNijiiro", "虹色マスク(&N)", F::A, Op::RainbowMask, 0, "虹色マスク"},
    TCommand{"actRotate180", "&180度", F::B, Op::Rotate180, 0, "180度回転"},
    TCommand{"actFlipHorizontal", "水平方向に反転(&H)", F::B, Op::FlipHorizontal, 0, "水平方向に反転"},
    TCommand{"actFlipVertical", "垂直方向に反転(&V)", F::B, Op::FlipVertical, 0, "垂直方向に反転"},
    TCommand{"actGrassHorizontal", "横ガラス処理(&H)", F::B, Op::GlassHorizontal, 0, "横ガラス処理"},
    TCommand{"actGrassVertical", "縦ガラス処理(&V)", F::B, Op::GlassVertical, 0, "縦ガラス処理"},
    TCommand{"actWinMask", "&WINマスク", F::B, Op::WinMask, 0, "WINマスク"},
    TCommand{"actRotate90", "&90度（時計回り）", F::C, Op::Rotate90, 0, "90度回転"},
    TCommand{"actRotate270", "9&0度（反時計回り）", F::C, Op::Rotate270, 0, "90度回転（反時計回り）"},
    TCommand{"actFilterLowpass", "普通(&1)", F::D, Op::Filter, 0, "ローパスフィルタ"},
    TCommand{"actFilterLowpassLow", "弱(&2)", F::D, Op::Filter, 1, "ローパスフィルタ（弱）"},
    TCommand{"actFilterLowpassWeak", "微弱(&3)", F::D, Op::Filter, 2, "ローパスフィルタ（微弱）"},
    TCommand{"actFilterSharpLow", "弱(&1)", F::D, Op::Filter, 3, "ハイパスフィルタ（弱）"},
    TCommand{"actFilterSharpMiddle", "中(&2)", F::D, Op::Filter, 4, "ハイパスフィルタ（中）"},
    TCommand{"actFilterSharpHigh", "強(&3)", F::D, Op::Filter, 5, "ハイパスフィルタ（強）"},
    TCommand{"actFilterLaplacian4", "&4方向", F::D, Op::Filter, 6, "ラプラシアンフィルタ（4方向）"},
    TCommand{"actFilterLaplacian8", "&8方向", F::D, Op::Filter, 7, "ラプラシアンフィルタ（8方向）"},
    TCommand{"actFilterLaplacian82", "&8方向（強）", F::D, Op::Filter, 8, "ラプラシアンフィルタ（8方向・強）"},
    TCommand{"actResize", "サイズ変更(&R)...", F::E, Op::Resize, 0, "サイズ変更"},
    TCommand{"actCrop", "切り抜き(&C)", F::F, Op::Crop, 0, "切り抜き"},
};

static_assert(kCommands.size() == kCommandCount);

}  // namespace

std::span<const TCommand> ProcessingCommands() { return kCommands; }

const TCommand* FindCommand(std::string_view name)
{
    const std::string wanted = LowerAscii(name);
    for (const TCommand& c : kCommands)
        if (wanted == LowerAscii(c.Name()) || wanted == LowerAscii(c.Action))
            return &c;
    return nullptr;
}

}  // namespace nolvi2
