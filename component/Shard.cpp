// The shard choice: a fixed hash of the relative path, modulo the share count.
#include "component/Shard.h"

#include "ffbind/TextUtils.h"

namespace {

constexpr int MaxShards = 100000;

} // namespace

uint64_t StablePathHash(const std::filesystem::path& relative) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : relative.generic_string()) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

bool TShard::Takes(const std::filesystem::path& relative) const {
    return static_cast<int>(StablePathHash(relative) % static_cast<uint64_t>(Count)) == Index - 1;
}

std::optional<TShard> ParseShard(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const auto index = WholeInteger<int>(std::string_view(text).substr(0, slash));
    const auto count = WholeInteger<int>(std::string_view(text).substr(slash + 1));
    if (!index || !count || *count < 1 || *count > MaxShards || *index < 1 || *index > *count)
        return std::nullopt;
    return TShard{*index, *count};
}
