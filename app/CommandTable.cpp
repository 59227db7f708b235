#include "CommandTable.h"

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
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

std::span<const TCommand> ProcessingCommands() { return kCommands; }

const TCommand* FindCommand(std::string_view name)
{
    for (const TCommand& c : kCommands)
        if (EqualsIgnoringCase(name, c.Name()) || EqualsIgnoringCase(name, c.Action))
            return &c;
    return nullptr;
}

}  // namespace nolvi2
