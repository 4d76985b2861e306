// The naming rule of outputs: the "_(new)" mark and its numbered forms.
#include "component/OutputNaming.h"

#include "ffbind/TextUtils.h"

#include <algorithm>

namespace {

constexpr const char* Mark = "_(new";
constexpr std::size_t MarkLength = 5;

bool Taken(const TPathFileName& name, const std::vector<TPathFileName>& claimed) {
    std::error_code error;
    return std::find(claimed.begin(), claimed.end(), name) != claimed.end() ||
           std::filesystem::exists(name, error);
}

TPathFileName FirstFreeFrom(const std::string& base, const std::string& extension, int first,
                            const std::vector<TPathFileName>& claimed) {
    for (int n = first;; ++n)
        if (TPathFileName name = NewOutputName(base, extension, n); !Taken(name, claimed))
            return name;
}

} // namespace

TPathFileName NewOutputName(const std::string& base, const std::string& extension, int number) {
    return base + Mark + (number > 0 ? "_" + std::to_string(number) : std::string()) + ")" +
           extension;
}

TPathFileName FreeOutputName(const TWantedOutput& wanted,
                             const std::vector<TPathFileName>& claimed) {
    const TPathFileName first = wanted.Marked ? NewOutputName(wanted.Base, wanted.Extension, 0)
                                              : TPathFileName(wanted.Base + wanted.Extension);
    const bool claimedFirst = std::find(claimed.begin(), claimed.end(), first) != claimed.end();
    if (!claimedFirst && (wanted.Replace || !Taken(first, {})))
        return first;
    return FirstFreeFrom(wanted.Base, wanted.Extension, 1, claimed);
}

TPathFileName NextFreeOutputName(const TPathFileName& taken) {
    const std::string extension = taken.extension().string();
    const std::string stem = taken.stem().string();
    const std::size_t mark = stem.rfind(Mark);
    if (mark == std::string::npos || stem.back() != ')')
        return {};
    const std::string number = stem.substr(mark + MarkLength, stem.size() - mark - MarkLength - 1);
    int next = 1;
    if (!number.empty()) {
        const std::optional<int> last = WholeInteger<int>(std::string_view(number).substr(1));
        if (number[0] != '_' || !last)
            return {};
        next = *last + 1;
    }
    const std::string base = (taken.parent_path() / stem.substr(0, mark)).string();
    return FirstFreeFrom(base, extension, next, {});
}
