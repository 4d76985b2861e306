// Shares of one batch for several machines: --shard K/N takes the inputs whose stable hash of
// their relative path falls in share K of N, so that N runs over the same tree convert every
// file exactly once without talking to each other.
#ifndef SOUNDPICK_COMPONENT_SHARD_H
#define SOUNDPICK_COMPONENT_SHARD_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct TShard {
    int Index = 1; // 1 to Count
    int Count = 1;

    // Whether the input at this relative path belongs to this share.
    bool Takes(const std::filesystem::path& relative) const;
};

// "K/N" with 1 <= K <= N <= 100000, or nothing.
std::optional<TShard> ParseShard(const std::string& text);

// FNV-1a (64 bits) of the path's bytes with "/" separators: the same on every machine and run.
uint64_t StablePathHash(const std::filesystem::path& relative);

#endif
