#include "StartupArgs.h"

#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "settings/IniFile.h"

#include <algorithm>

namespace nolvi2 {

namespace {

bool IsReceiveWord(const std::string& s)
{
    static constexpr std::string_view kWord = "common:nolvi";
    return s.size() == kWord.size() && std::equal(s.begin(), s.end(), kWord.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           });
}

}  // namespace

TStartup ParseStartup(std::vector<std::string> parameters)
{
    TStartup r;
    const auto pos = std::find_if(parameters.begin(), parameters.end(),
                                  [](const std::string& p) { return p.starts_with("pos:"); });
    if (pos != parameters.end()) {
        // x runs to the first comma, y from it; without a comma neither is a number.
        const std::string text = pos->substr(4);
        const std::size_t comma = text.find(',');
        if (comma != std::string::npos) {
            r.Left = ParseIniInteger(std::string_view(text).substr(0, comma));
            r.Top = ParseIniInteger(std::string_view(text).substr(comma + 1));
        }
        r.HasPosition = true;
        parameters.erase(pos);
    }
    const auto word = std::find_if(parameters.begin(), parameters.end(), IsReceiveWord);
    if (word != parameters.end()) {
        const std::size_t i = std::size_t(word - parameters.begin());
        for (const std::size_t k : {i + 1, i + 2})
            if (k >= parameters.size())
                throw Exception(Format("リストのインデックスが範囲を超えています (%zu)", k));
        const std::optional<int32_t> size = ParseIniInteger(parameters[i + 2]);
        if (!size)
            throw Exception(Format("'%s' は有効な整数値ではありません", parameters[i + 2].c_str()));
        r.Receive = true;
        r.BlockFd = parameters[i + 1];
        r.BlockSize = *size;
        return r;
    }
    r.Files = std::move(parameters);
    return r;
}

}  // namespace nolvi2
