// The record of what a library run made in an output folder: for each output, the input and the
// settings that made it, the input as the run read it and the output as the run left it. It is
// how --update compares an input only with its own output, and how --delete knows which files
// are this program's. A hidden file in the output folder, appended to one whole line at a time
// under a lock, so that runs over shares of one library writing into one folder at once never
// lose each other's lines; the last line about an output holds.
#ifndef SOUNDPICK_COMPONENT_OUTPUTMANIFEST_H
#define SOUNDPICK_COMPONENT_OUTPUTMANIFEST_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

// A file's size and change time, to tell whether it is still as it was.
struct TRecordedStamp {
    int64_t SizeBytes = -1; // -1: no such file
    int64_t TimeNs = 0;

    bool operator==(const TRecordedStamp&) const = default;
};

TRecordedStamp StampOf(const std::filesystem::path& file);

struct TManifestEntry {
    std::string Output; // relative to the output folder, "/" between folders
    std::string Input;  // the input's absolute path
    std::string Settings;
    TRecordedStamp InputStamp;
    // The output's sound as read back after its run (microseconds; -1: not told).
    int64_t WrittenUs = -1;
    TRecordedStamp OutputStamp;
    // False for what a stopped run left: the output's start only.
    bool Complete = true;
};

// What an output folder's record is to say of an output once its task ends.
struct TOutputRecord {
    std::filesystem::path Folder;
    TManifestEntry Entry;
};

class TOutputManifest {
public:
    // The file's name in an output folder.
    static constexpr const char* FileName = ".soundpick-outputs";

    explicit TOutputManifest(const std::filesystem::path& folder);

    const std::filesystem::path& Folder() const { return OutputFolder; }
    // Reads what the runs recorded; a file that is not there yet is empty. "" or why it could
    // not be read.
    std::string Load();
    // The record of an output (a path under the folder), or null.
    const TManifestEntry* ForOutput(const std::filesystem::path& output) const;
    // The outputs recorded, by their relative names.
    const std::map<std::string, TManifestEntry>& Entries() const { return ByOutput; }
    // Records an output (its Output relative to the folder); "" or why it could not be written.
    std::string Record(const TManifestEntry& entry);
    // Records that an output is gone.
    std::string Forget(const std::string& output);
    // The output's name relative to the folder, in the form the records use.
    std::string Relative(const std::filesystem::path& output) const;

private:
    std::string Append(const std::string& line);
    void Apply(const std::string& line);

    std::filesystem::path OutputFolder;
    std::map<std::string, TManifestEntry> ByOutput;
};

#endif
