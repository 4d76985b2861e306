// The naming rule of outputs: the "_(new)" mark and its numbered forms.
#include "component/OutputNaming.h"

#include "component/NameBuilder.h"
#include "ffbind/TextUtils.h"

#include <algorithm>

namespace {

constexpr const char* Mark = "_(new";
constexpr std::size_t MarkLength = 5;

bool Taken(const TPathFileName& name, const std::vector<TPathFileName>& claimed) {
    std::error_code error;
    return std::find(claimed.begin(), claimed.end(), name) != claimed.end() ||
           std::filesystem::exists(std::filesystem::symlink_status(name, error));
}

std::string MarkText(int number) {
    return Mark + (number > 0 ? "_" + std::to_string(number) : std::string()) + ")";
}

// The output's name: the base (cleaned by the builder), the mark when wanted, the suffix and
// the extension.
TPathFileName OutputName(const TWantedOutput& wanted, const std::string& mark) {
    return wanted.Base + mark + wanted.Suffix + wanted.Extension;
}

TPathFileName FirstFreeFrom(const TWantedOutput& wanted, int first,
                            const std::vector<TPathFileName>& claimed) {
    for (int n = first;; ++n)
        if (TPathFileName name = OutputName(wanted, MarkText(n)); !Taken(name, claimed))
            return name;
}

} // namespace

TPathFileName NewOutputName(const std::string& base, const std::string& extension, int number,
                            const std::string& suffix) {
    const TPathFileName path = base;
    return OutputName(BuildOutputName({.Folder = path.parent_path(),
                                       .Path = {path.filename().string()},
                                       .Suffix = suffix,
                                       .Extension = extension}),
                      MarkText(number));
}

TPathFileName FreeOutputName(const TWantedOutput& wanted,
                             const std::vector<TPathFileName>& claimed) {
    const TPathFileName first = OutputName(wanted, wanted.Marked ? MarkText(0) : std::string());
    const bool claimedFirst = std::find(claimed.begin(), claimed.end(), first) != claimed.end();
    if (!claimedFirst && (wanted.Replace || !Taken(first, {})))
        return first;
    return FirstFreeFrom(wanted, 1, claimed);
}

TPathFileName OwnOutputName(const TWantedOutput& wanted, int firstNumber,
                            const std::function<TNameHolder(const TPathFileName&)>& holder,
                            const std::function<bool(const TPathFileName&)>& recordedOwn) {
    const auto form = [&wanted](int n) {
        const bool bare = n == 0 && !wanted.Marked;
        return OutputName(wanted, bare ? std::string() : MarkText(n));
    };
    for (int n = 0; recordedOwn && n < firstNumber; ++n)
        if (TPathFileName name = form(n); recordedOwn(name))
            return name;
    for (int n = firstNumber;; ++n) {
        TPathFileName name = form(n);
        if (const TNameHolder has = holder(name); has == nhNobody || has == nhThisInput)
            return name;
    }
}

TPathFileName NextFreeOutputName(const TPathFileName& taken, const std::string& suffix) {
    const std::string stem = taken.stem().string();
    const std::size_t mark = stem.rfind(Mark);
    if (mark == std::string::npos) {
        // A tree's name, the first of its forms: the numbered ones put the mark before the
        // suffix.
        const bool suffixed = stem.size() > suffix.size() && stem.ends_with(suffix);
        const std::size_t baseLength = suffixed ? stem.size() - suffix.size() : stem.size();
        return FirstFreeFrom({.Base = (taken.parent_path() / stem.substr(0, baseLength)).string(),
                              .Suffix = suffixed ? suffix : std::string(),
                              .Extension = taken.extension().string()},
                             1, {});
    }
    const std::size_t close = stem.find(')', mark);
    if (close == std::string::npos)
        return {};
    const std::string number = stem.substr(mark + MarkLength, close - mark - MarkLength);
    int next = 1;
    if (!number.empty()) {
        const std::optional<int> last = WholeInteger<int>(std::string_view(number).substr(1));
        if (number[0] != '_' || !last)
            return {};
        next = *last + 1;
    }
    const TWantedOutput wanted{.Base = (taken.parent_path() / stem.substr(0, mark)).string(),
                               .Suffix = stem.substr(close + 1),
                               .Extension = taken.extension().string()};
    return FirstFreeFrom(wanted, next, {});
}
