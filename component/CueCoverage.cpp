// The audio files the cue sheets of a folder name.
#include "component/CueCoverage.h"

#include "component/CueSheet.h"
#include "ffbind/TextUtils.h"

bool IsCueSheetName(const TPathFileName& file) {
    return LowerCase(file.extension().string()) == ".cue";
}

bool TCueCoverage::Covers(const TPathFileName& audioFile) {
    const TPathFileName folder = audioFile.parent_path();
    auto [files, added] = FilesByFolder.try_emplace(folder);
    if (added) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (IsCueSheetName(entry.path()))
                for (const TCueTrack& track : ReadCueSheet(entry.path()).Sheet.Tracks)
                    files->second.insert(track.AudioFile);
    }
    return files->second.count(audioFile.lexically_normal()) > 0;
}
