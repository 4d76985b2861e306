// Output files created exclusively, and replacements through part files.
#include "engine/OutputTarget.h"

#include "ffbind/FFUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr const char* PartSuffix = ".part";

bool NameExists(const fs::path& name) {
    std::error_code error;
    // A dangling link counts: creating the name would fail all the same.
    return fs::exists(fs::symlink_status(name, error));
}

// The mode a new file gets: 0666 less the process's file mode creation mask, read without
// changing it (umask() would, for every thread).
mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return 0666 & ~mask;
}

// Whether a folder lies in (or is) another, by their names.
bool Within(const fs::path& folder, const fs::path& outer) {
    const fs::path relative =
        folder.lexically_normal().lexically_relative(outer.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

// The output's folder, or with foldersFrom its nearest existing ancestor in foldersFrom; empty
// when neither exists.
fs::path ExistingFolderFor(const fs::path& folder, const fs::path& foldersFrom) {
    std::error_code error;
    if (foldersFrom.empty() || fs::exists(folder, error) || !Within(folder, foldersFrom))
        return folder;
    fs::path existing = folder;
    while (!fs::exists(existing, error) && existing.has_relative_path() &&
           Within(existing, foldersFrom))
        existing = existing.parent_path();
    return Within(existing, foldersFrom) ? existing : fs::path();
}

} // namespace

int TOutputTarget::Create(AVFormatContext* context, const fs::path& fileName,
                          TExistingOutput existing, TMediaIO& io, const fs::path& foldersFrom) {
    Name = fileName;
    const bool replace = existing == eoReplace;
    int descriptor = -1;
    // A folder made by another output goes again when that output is discarded; should that
    // happen between the making and the creating, it is made once more.
    bool madeAgain = foldersFrom.empty();
    if (const int made = MakeFolders(Name, foldersFrom); made < 0)
        return made;
    for (;;) {
        const int result =
            replace && NameExists(Name) ? CreatePart(descriptor) : CreateNew(Name, descriptor);
        if (result == 0)
            break;
        if (result == AVERROR(ENOENT) && !std::exchange(madeAgain, true)) {
            if (const int made = MakeFolders(Name, foldersFrom); made < 0)
                return made;
            continue;
        }
        return result;
    }
    IsCreated = true;
    struct stat created;
    if (fstat(descriptor, &created) == 0) {
        Device = created.st_dev;
        Inode = created.st_ino;
    }
    return OpenDescriptorOutputIO(context, descriptor, io);
}

int TOutputTarget::CheckFolder(const fs::path& fileName, const fs::path& foldersFrom) {
    const fs::path folder = ExistingFolderFor(
        fileName.has_parent_path() ? fileName.parent_path() : fs::path("."), foldersFrom);
    if (folder.empty())
        return AVERROR(ENOENT);
    struct stat status;
    if (stat(folder.c_str(), &status) != 0)
        return AVERROR(errno);
    if (!S_ISDIR(status.st_mode))
        return AVERROR(ENOTDIR);
    // A file without a name asks the file system itself (a read-only mount refuses it even to
    // root); where it has no such files, the permissions answer.
    const int unnamed = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        close(unnamed);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return AVERROR(errno);
    return access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : AVERROR(errno);
}

int TOutputTarget::MakeFolders(const fs::path& fileName, const fs::path& foldersFrom) {
    const fs::path folder = fileName.parent_path();
    const fs::path existing = ExistingFolderFor(folder, foldersFrom);
    if (existing.empty())
        return AVERROR(ENOENT);
    if (existing == folder)
        return 0;
    std::vector<fs::path> missing;
    for (fs::path level = folder; level != existing; level = level.parent_path())
        missing.push_back(level);
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        std::error_code error;
        if (!fs::create_directory(*level, error) && error)
            return AVERROR(error.value());
        MadeFolders.push_back(*level);
    }
    return 0;
}

int TOutputTarget::CreateNew(const fs::path& fileName, int& descriptor) {
    descriptor = open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return descriptor < 0 ? AVERROR(errno) : 0;
}

// The part file is made beside the replaced name, so that the replacement is a rename within
// one file system, under a name no other run can have. A link is not followed: the part file
// takes the link's own place.
int TOutputTarget::CreatePart(int& descriptor) {
    std::string pattern =
        (Name.parent_path() / ("." + Name.filename().string() + ".XXXXXX")).string() + PartSuffix;
    descriptor =
        mkostemps(pattern.data(), static_cast<int>(std::string(PartSuffix).size()), O_CLOEXEC);
    if (descriptor < 0)
        return AVERROR(errno);
    PartName = pattern;
    struct stat replaced;
    fchmod(descriptor, lstat(Name.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)
                           ? replaced.st_mode & 07777
                           : NewFileMode());
    return 0;
}

std::error_code TOutputTarget::Commit() const {
    std::error_code error;
    if (Replacing())
        fs::rename(PartName, Name, error);
    return error;
}

bool TOutputTarget::Empty() const {
    std::error_code error;
    return !IsCreated || fs::file_size(WrittenName(), error) == 0 || error;
}

bool TOutputTarget::Discard() {
    const bool hadContent = IsCreated && !Empty();
    std::error_code error;
    if (IsCreated)
        fs::remove(WrittenName(), error);
    IsCreated = false;
    // A folder another output has written into meanwhile stays.
    for (auto folder = MadeFolders.rbegin(); folder != MadeFolders.rend(); ++folder)
        fs::remove(*folder, error);
    MadeFolders.clear();
    return hadContent;
}

std::string TOutputTarget::LostReason() const {
    if (!IsCreated)
        return {};
    struct stat now;
    if (stat(WrittenName().c_str(), &now) != 0)
        return "the output was removed while it was written";
    if (now.st_dev != Device || now.st_ino != Inode)
        return "another file took the output's place while it was written";
    return {};
}

std::string WriteErrorText(const std::filesystem::path& FileName, int Code) {
    return "Could not write " + FileName.string() + ": " + ErrorText(Code);
}
