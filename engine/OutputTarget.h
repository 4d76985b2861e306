// Where an output file is written and how it takes its place. A new name is created
// exclusively, so two runs never write one file; an existing file that may be replaced is not
// touched while the run writes a uniquely named part file beside it, which takes its place,
// with its permissions, only when the run ends well. A symbolic link is replaced itself, by a
// new file of a new file's mode: nothing is ever written where a link points, which may lie
// outside the chosen folder. Missing folders below a given one are made with the file. Whatever
// the target created is removed again by Discard (the folders when nothing else is in them).
#ifndef SOUNDPICK_ENGINE_OUTPUTTARGET_H
#define SOUNDPICK_ENGINE_OUTPUTTARGET_H

#include "ffbind/UnicodeProtocol.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <vector>

// What creating an output does with a file of its name that exists.
enum TExistingOutput { eoKeep, eoReplace };

class TOutputTarget {
public:
    // Creates the file for a muxer context and sets its I/O. An existing file is replaced
    // with eoReplace; otherwise a taken name fails (the caller chose the name and chooses
    // another). Missing folders below foldersFrom (which must exist; empty: none) are made
    // first. Returns 0 or a negative error code (AVERROR(EEXIST) for a taken name).
    int Create(AVFormatContext* context, const std::filesystem::path& fileName,
               TExistingOutput existing, TMediaIO& io,
               const std::filesystem::path& foldersFrom = {});
    // Whether an output of this name could be created now: its folder exists and takes new
    // files, or, with foldersFrom given, the nearest of its
    // missing folders' parents lies in foldersFrom and takes new folders. 0 or a negative
    // error code; creates nothing.
    static int CheckFolder(const std::filesystem::path& fileName,
                           const std::filesystem::path& foldersFrom = {});

    // The output's name.
    const std::filesystem::path& FileName() const { return Name; }
    // The file the run writes: the part file of a replacement, else the output's name.
    const std::filesystem::path& WrittenName() const { return PartName.empty() ? Name : PartName; }
    bool Replacing() const { return !PartName.empty(); }
    bool Created() const { return IsCreated; }
    // The created file has nothing in it (or this target created none).
    bool Empty() const;

    // Puts a replacement in the place of the file it replaces; nothing to do for a new file.
    std::error_code Commit() const;
    // Removes the file this target created, and the folders it made that are left empty; true
    // when there was a file with content.
    bool Discard();
    // Why the file at the written name (the part file's, for a replacement) is not the one this
    // target created (gone, or another file put there meanwhile); empty when it is.
    std::string LostReason() const;

private:
    // Makes the output's missing folders when they lie below foldersFrom; nothing when
    // foldersFrom is empty. 0 or a negative error code.
    int MakeFolders(const std::filesystem::path& fileName,
                    const std::filesystem::path& foldersFrom);
    int CreateNew(const std::filesystem::path& fileName, int& descriptor);
    int CreatePart(int& descriptor);

    std::filesystem::path Name;
    std::filesystem::path PartName;
    bool IsCreated = false;
    // Folders MakeFolders made, outermost first.
    std::vector<std::filesystem::path> MadeFolders;
    // The created file's identity, to know it again at the end.
    dev_t Device = 0;
    ino_t Inode = 0;
};

// "Could not write <name>: <the system's reason>".
std::string WriteErrorText(const std::filesystem::path& FileName, int Code);

#endif
