// Telling files apart by their identity.
#include "ffbind/FileIdentity.h"

#include <sys/stat.h>

namespace {

TFileIdentity IdentityOfStatus(const struct stat& status) {
    return {status.st_dev, status.st_ino};
}

} // namespace

std::optional<TFileIdentity> FileIdentityAt(const std::filesystem::path& name) {
    struct stat status;
    if (lstat(name.c_str(), &status) != 0)
        return std::nullopt;
    return IdentityOfStatus(status);
}

std::optional<TFileIdentity> FileIdentityOf(int descriptor) {
    struct stat status;
    if (fstat(descriptor, &status) != 0)
        return std::nullopt;
    return IdentityOfStatus(status);
}

bool IsSameFile(const std::filesystem::path& name, const TFileIdentity& identity) {
    return FileIdentityAt(name) == identity;
}

std::optional<TFileStamp> FileStampAt(const std::filesystem::path& name) {
    struct stat status;
    if (lstat(name.c_str(), &status) != 0)
        return std::nullopt;
    return TFileStamp{IdentityOfStatus(status), status.st_size,
                      int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec};
}
