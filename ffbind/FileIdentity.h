// A file's identity (its device and inode): what tells the file a run created from another one
// that took its name later, whatever the name says.
#ifndef SOUNDPICK_FFBIND_FILEIDENTITY_H
#define SOUNDPICK_FFBIND_FILEIDENTITY_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sys/types.h>

struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of the file at the name itself (a symbolic link's own, not its target's); none
// when nothing is there.
std::optional<TFileIdentity> FileIdentityAt(const std::filesystem::path& name);
// The identity of an open file; none when the descriptor cannot be asked.
std::optional<TFileIdentity> FileIdentityOf(int descriptor);
// Whether the file at the name is the one of that identity.
bool IsSameFile(const std::filesystem::path& name, const TFileIdentity& identity);

// A file as it was left: its identity, size and last change. Kept for a file this program left
// behind, it tells the file again later even when the file system has given its inode number to
// a new file meanwhile (the old one removed), since the new file differs in the others.
struct TFileStamp {
    TFileIdentity Identity;
    int64_t SizeBytes = 0;
    int64_t ModifiedNs = 0;
    bool operator==(const TFileStamp&) const = default;
};

// The stamp of the file at the name itself; none when nothing is there.
std::optional<TFileStamp> FileStampAt(const std::filesystem::path& name);

#endif
