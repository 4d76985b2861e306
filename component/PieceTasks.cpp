// The tasks of the pieces of one input.
#include "component/PieceTasks.h"

#include "component/NameBuilder.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <cstdio>

namespace {

// A tag for the output, on one line as tags are written; an empty one leaves the input's.
void AddTag(TOutputChoices& choices, const std::string& key, std::string value) {
    std::replace(value.begin(), value.end(), '\n', ' ');
    std::replace(value.begin(), value.end(), '\r', ' ');
    if (!value.empty())
        choices.Tags.emplace_back(key, std::move(value));
}

TPathFileName OutputFolderOf(const TOutputChoices& choices) {
    return choices.OutputFolder.value_or(choices.InputFileName.parent_path());
}

// "NN Title": a numbered piece's name before its extension, and its label.
std::string NumberedTitle(int number, const std::string& title) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", number);
    return std::string(digits) + " " + title;
}

// The piece's tags for the output, and as the name template's fields.
void AddTags(const TCueTags& tags, TOutputChoices& choices, TTagMap& fields) {
    for (const auto& [key, value] : tags) {
        AddTag(choices, key, value);
        if (!value.empty())
            fields[LowerCase(key)] = value;
    }
}

// The name template's path (--name) over the piece's own tags under the output folder, when
// the choices have a template that parses; else folders / "NN Title.EXT" under it. Either gives
// way to its first free "_(new_N)" form when taken or claimed, also by the pieces named before
// it.
void NamePiece(const TPathFileName& folders, int number, const std::string& title,
               const TTagMap& fields, TPieceTask& task, std::vector<TPathFileName>& claimed) {
    TOutputChoices& choices = task.Choices;
    std::string error;
    const std::optional<TNameTemplate> nameTemplate =
        choices.NameTemplateText.empty() ? std::nullopt
                                         : TNameTemplate::Parse(choices.NameTemplateText, error);
    TNamePath path = NamePathOf(folders);
    if (nameTemplate)
        path = nameTemplate->Expand(fields, choices.InputFileName.filename());
    else
        path.push_back(NumberedTitle(number, title));
    choices.ClaimedNames = claimed;
    task.Wanted = BuildOutputName({.Folder = OutputFolderOf(choices),
                                   .Path = path,
                                   .Suffix = {},
                                   .Extension = OutputExtension(choices),
                                   .Marked = false,
                                   .Replace = choices.Overwrite});
    task.OutputFileName = FreeOutputName(task.Wanted, claimed);
    claimed.push_back(task.OutputFileName);
}

// The whole file's choices for the clip from startUs, lengthUs long (-1: to the end). The piece
// is the task's input as far as its length goes: the list shows the piece's.
TOutputChoices PieceChoices(const TOutputChoices& whole, int64_t startUs, int64_t lengthUs) {
    TOutputChoices piece = whole;
    piece.Clip.reset();
    piece.Piece = TClip{startUs, lengthUs};
    if (lengthUs > 0)
        piece.InputDurationUs = lengthUs;
    else if (whole.InputDurationUs > startUs)
        piece.InputDurationUs = whole.InputDurationUs - startUs;
    return piece;
}

} // namespace

std::vector<TChapter> ChaptersOf(const AVFormatContext& input) {
    std::vector<TChapter> chapters;
    for (unsigned i = 0; i < input.nb_chapters; ++i) {
        const AVChapter* chapter = input.chapters[i];
        const AVDictionaryEntry* title = ff::av_dict_get(chapter->metadata, "title", nullptr, 0);
        chapters.push_back({ff::av_rescale_q(chapter->start, chapter->time_base, AV_TIME_BASE_Q),
                            ff::av_rescale_q(chapter->end, chapter->time_base, AV_TIME_BASE_Q),
                            title ? title->value : ""});
    }
    return chapters;
}

std::vector<TPieceTask> CueTrackTasks(const TCueSheet& sheet, const TOutputChoices& whole,
                                      const TPathFileName& subfolder) {
    std::vector<TPieceTask> tasks;
    std::vector<TPathFileName> claimed = whole.ClaimedNames;
    const auto& tracks = sheet.Tracks;
    const auto trackTotal = std::count_if(tracks.begin(), tracks.end(),
                                          [](const TCueTrack& t) { return t.Number > 0; });
    TCueTags albumTags = sheet.Tags;
    albumTags.emplace_back("TRACKTOTAL", std::to_string(trackTotal));
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const TCueTrack& track = tracks[i];
        const bool lastOfFile =
            i + 1 == tracks.size() || tracks[i + 1].AudioFile != track.AudioFile;
        const int64_t startUs = CueFramesToUs(track.StartFrames);
        // Both ends from frame counts, so that one track ends at the very sample the next
        // starts at.
        const int64_t lengthUs =
            lastOfFile ? -1 : CueFramesToUs(tracks[i + 1].StartFrames) - startUs;
        TPieceTask task{PieceChoices(whole, startUs, lengthUs), {}, {}, {}};
        TOutputChoices& choices = task.Choices;
        if (track.AudioFile != whole.InputFileName) {
            choices.InputFileName = track.AudioFile;
            choices.InputDurationUs = -1;
        }
        const std::string title =
            track.Title.empty() ? "Track " + std::to_string(track.Number) : track.Title;
        TTagMap fields;
        AddTags({{"title", title},
                 {"artist", track.Performer.empty() ? sheet.Performer : track.Performer},
                 {"album", sheet.Title},
                 {"album_artist", sheet.Performer},
                 {"date", sheet.Date},
                 {"genre", sheet.Genre},
                 {"track", std::to_string(track.Number)}},
                choices, fields);
        AddTags(albumTags, choices, fields);
        AddTags(track.Tags, choices, fields);
        // The album's sheet describes the whole file, not a piece of it.
        choices.Tags.emplace_back("CUESHEET", "");
        NamePiece(subfolder, track.Number, title, fields, task, claimed);
        task.Label = NumberedTitle(track.Number, title);
        tasks.push_back(std::move(task));
    }
    return tasks;
}

std::vector<TPieceTask> ChapterTasks(const std::vector<TChapter>& chapters,
                                     const TOutputChoices& whole, const TTagMap& inputTags,
                                     const TPathFileName& subfolder) {
    std::vector<TPieceTask> tasks;
    std::vector<TPathFileName> claimed = whole.ClaimedNames;
    // Made with the first chapter's output: a list that never runs leaves no folder behind.
    const TPathFileName folder = subfolder / whole.InputFileName.stem();
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const TChapter& chapter = chapters[i];
        // The next chapter's start, not this one's end: nothing between them is lost.
        const bool last = i + 1 == chapters.size();
        const int64_t lengthUs = last ? -1 : chapters[i + 1].StartUs - chapter.StartUs;
        const int number = static_cast<int>(i) + 1;
        const std::string title =
            chapter.Title.empty() ? "Chapter " + std::to_string(number) : chapter.Title;
        TPieceTask task{PieceChoices(whole, chapter.StartUs, lengthUs), {}, {}, {}};
        TTagMap fields = inputTags;
        AddTags({{"title", title}, {"track", std::to_string(number)}}, task.Choices, fields);
        NamePiece(folder, number, title, fields, task, claimed);
        task.Label = NumberedTitle(number, title);
        tasks.push_back(std::move(task));
    }
    return tasks;
}

std::vector<TPieceTask> AudioTrackTasks(const std::vector<TAudioTrack>& tracks,
                                        const TOutputChoices& whole) {
    std::vector<TPieceTask> tasks;
    for (const TAudioTrack& track : tracks) {
        TPieceTask task{whole, {}, {}, {}};
        TOutputChoices& choices = task.Choices;
        choices.AudioStream = track.StreamIndex;
        choices.InputAudioCodec = track.Codec;
        AddTag(choices, "title", track.Title);
        AddTag(choices, "language", track.Language);
        choices.NameSuffix = "_" + std::to_string(track.Number) +
                             (track.Language.empty() ? std::string() : "_" + track.Language);
        task.Wanted = WantedOutputFor(choices);
        task.OutputFileName = FreeOutputName(task.Wanted, choices.ClaimedNames);
        task.Label = std::to_string(track.Number) +
                     (track.Language.empty() ? std::string() : " " + track.Language);
        tasks.push_back(std::move(task));
    }
    return tasks;
}
