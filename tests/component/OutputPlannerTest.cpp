// The output planner: inputs in (with their probes and the choices), planned outputs or the
// reason for none out, for every kind of input and choice. Probes are stated by each case; the
// up-to-date case compares with files the ffmpeg tool made.
#include "component/OutputPlanner.h"
#include "component/ComponentHarness.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace {

TProbedInput Sound(const std::string& codec = "flac", int64_t bitRateBps = 0) {
    TProbedInput probed;
    probed.HasSound = true;
    probed.DurationUs = 2'000'000;
    probed.AudioCodec = codec;
    probed.AudioBitRateBps = bitRateBps;
    probed.AudioTracks = {{1, 1, "eng", codec, 2, "", true}};
    return probed;
}

TProbedInput Unreadable() {
    TProbedInput probed;
    probed.ErrorText = "***File load error: invalid data";
    return probed;
}

TProbedInput TwoTracks() {
    TProbedInput probed = Sound("aac");
    probed.AudioTracks = {{1, 1, "eng", "aac", 2, "Main", true},
                          {2, 2, "ger", "ac3", 6, "Kommentar", false}};
    return probed;
}

TProbedInput WithChapters() {
    TProbedInput probed = Sound();
    probed.Chapters = {{0, 1'000'000, "Intro"}, {1'000'000, 2'000'000, "A/B"}};
    return probed;
}

struct TPlanStep {
    std::string Input; // relative to the scratch folder; under "lib/": found in an added folder
    TProbedInput Probed;
    TTagMap Tags = {};
};

struct TPlanCase {
    const char* What;
    std::vector<TPlanStep> Inputs; // planned in turn; each output is claimed by the next
    std::function<void(TOutputChoices&)> Choose = [](TOutputChoices&) {};
    TPlanRules Rules = {};
    std::vector<std::string> Existing = {}; // files there before ("name<fixture": a copy)
    // Per output: name under the folder, then " [label]", " #stream", " @start",
    // " copy" (the sound kept as it is), " +from>to" for each picture; or the verdict and
    // reason.
    std::vector<std::string> Expected = {};
};

std::string Relative(const fs::path& file, const fs::path& root) {
    return file.lexically_relative(root).generic_string();
}

std::string Describe(const TOutputPlan& plan, const fs::path& root) {
    static const char* const verdicts[] = {"outputs",  "playlist", "passed over",
                                           "no sound", "refused",  "up to date"};
    if (plan.Verdict != pvOutputs) {
        const std::string output =
            plan.UpToDateOutput.empty() ? "" : " " + Relative(plan.UpToDateOutput, root);
        return verdicts[plan.Verdict] + output;
    }
    std::string text;
    for (const TPlannedOutput& output : plan.Outputs) {
        const TOutputChoices& choices = output.Choices;
        text += (text.empty() ? "" : "; ") + Relative(output.Output, root);
        if (!output.Label.empty())
            text += " [" + output.Label + "]";
        if (choices.AudioStream >= 0)
            text += " #" + std::to_string(choices.AudioStream);
        if (choices.Piece)
            text += " @" + std::to_string(choices.Piece->StartUs);
        if (choices.Format == fmCopy)
            text += " copy";
    }
    for (const TImageCopy& image : plan.Images)
        text += " +" + Relative(image.From, root) + ">" + Relative(image.To, root);
    return text;
}

// The rules with the inputs given under the scratch folder.
TPlanRules UnderRoot(TPlanRules rules, const fs::path& root) {
    for (TPathFileName& given : rules.Given)
        given = root / given;
    return rules;
}

class TPlanRun {
public:
    TPlanRun(const TScratchFolder& folder, const TPlanCase& test)
        : Root(folder.Path()),
          Planner(
              UnderRoot(test.Rules, folder.Path()),
              [this](const std::string& base) {
                  // As a long batch asks: only the names beginning with the wanted one.
                  std::vector<TPathFileName> like;
                  for (const fs::path& name : Claims)
                      if (name.string().starts_with(base))
                          like.push_back(name);
                  return like;
              },
              [this](const TPathFileName& file) {
                  const auto probed = Probes.find(Relative(file, Root));
                  return probed == Probes.end() ? TProbedFile{Sound(), {}} : probed->second;
              }) {
        for (const TPlanStep& step : test.Inputs)
            Probes[step.Input] = {step.Probed, step.Tags};
    }

    std::string Plan(const TPlanStep& step, const TOutputChoices& chosen) {
        const bool inFolder = step.Input.starts_with("lib/");
        const TLibraryInput input{Root / step.Input,
                                  inFolder ? fs::path(step.Input).lexically_relative("lib")
                                           : fs::path(step.Input).filename(),
                                  inFolder};
        const TOutputPlan plan = Planner.Plan({input, step.Probed, step.Tags}, chosen);
        for (const TPlannedOutput& output : plan.Outputs)
            Claims.push_back(output.Output);
        return Describe(plan, Root);
    }

private:
    fs::path Root;
    std::vector<fs::path> Claims;
    std::map<std::string, TProbedFile> Probes;
    TOutputPlanner Planner;
};

void MakeFiles(const TScratchFolder& folder, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        const std::size_t from = file.find('<');
        const fs::path path = folder / file.substr(0, from);
        fs::create_directories(path.parent_path());
        if (from == std::string::npos)
            folder.Touch(file);
        else
            fs::copy_file(Fixture(file.substr(from + 1)), path);
    }
}

void IntoOut(TOutputChoices& choices, const fs::path& root) {
    choices.OutputFolder = root / "out";
}

} // namespace

TEST(OutputPlanner, PlansEveryKindOfInput) {
    EnsureLibsLoaded();
    // The output folder of a case that wants one; set per run, as it is under the scratch folder.
    const auto out = [](std::function<void(TOutputChoices&)> more = {}) {
        return [more](TOutputChoices& choices) {
            choices.OutputFolder = fs::path("out"); // made absolute below
            if (more)
                more(choices);
        };
    };
    TProbedInput tone = Sound("pcm_s16le");
    tone.DurationUs = static_cast<int64_t>(ProbeDuration(Fixture("tone_1k_stereo.wav")) * 1e6);
    const TPlanCase cases[] = {
        {"a file by itself, beside it", {{"a.flac", Sound()}}, {}, {}, {}, {"a_(new).mp3"}},
        {"a name taken on disk and by the list",
         {{"a.flac", Sound()}, {"a.wav", Sound("pcm_s16le")}},
         {},
         {},
         {"a_(new).mp3"},
         {"a_(new_1).mp3", "a_(new_2).mp3"}},
        {"names that meet once cleaned are numbered",
         {{"a:b.flac", Sound()}, {"a?b.flac", Sound()}},
         {},
         {},
         {},
         {"a_b_(new).mp3", "a_b_(new_1).mp3"}},
        {"a tree keeps the folders; pictures once per folder",
         {{"lib/Artist/Album/01 x.flac", Sound()}, {"lib/Artist/Album/02 y.flac", Sound()}},
         out([](TOutputChoices& c) { c.CopyImages = true; }),
         {},
         {"lib/Artist/Album/cover.jpg", "lib/Artist/Album/notes.txt"},
         {"out/Artist/Album/01 x.mp3 +lib/Artist/Album/cover.jpg>out/Artist/Album/cover.jpg",
          "out/Artist/Album/02 y.mp3"}},
        {"a disc folder's pictures and its album's above it",
         {{"lib/Album/CD1/01.flac", Sound()}},
         out([](TOutputChoices& c) { c.CopyImages = true; }),
         {},
         {"lib/Album/front.png", "lib/Album/CD1/disc.jpg"},
         {"out/Album/CD1/01.mp3 +lib/Album/CD1/disc.jpg>out/Album/CD1/disc.jpg "
          "+lib/Album/front.png>out/Album/front.png"}},
        {"a template's folders take the disc's and the album's pictures",
         {{"lib/Album/CD1/01.flac", Sound(), {{"album", "A"}}}},
         out([](TOutputChoices& c) {
             c.CopyImages = true;
             c.NameTemplateText = "{album}/{filename}";
         }),
         {},
         {"lib/Album/front.png", "lib/Album/CD1/disc.jpg"},
         {"out/A/01.mp3 +lib/Album/CD1/disc.jpg>out/A/disc.jpg "
          "+lib/Album/front.png>out/A/front.png"}},
        {"siblings a tree names alike, by their place",
         {{"lib/A/s.wav", Sound("pcm_s16le")}, {"lib/A/s.flac", Sound()}},
         out(),
         {},
         {"lib/A/s.flac", "lib/A/s.wav"},
         {"out/A/s_(new_1).mp3", "out/A/s.mp3"}},
        {"siblings a tree names alike, a subfolder's between them",
         {{"lib/A/s.flac", Sound()}, {"lib/A/B/s.flac", Sound()}, {"lib/A/s.wav", Sound()}},
         out(),
         {},
         {"lib/A/s.flac", "lib/A/B/s.flac", "lib/A/s.wav"},
         {"out/A/s.mp3", "out/A/B/s.mp3", "out/A/s_(new_1).mp3"}},
        {"siblings a tree names alike once cleaned, by their place",
         {{"lib/A/a_b.wav", Sound("pcm_s16le")}, {"lib/A/a:b.flac", Sound()}},
         out(),
         {},
         {"lib/A/a:b.flac", "lib/A/a_b.wav"},
         {"out/A/a_b_(new_1).mp3", "out/A/a_b.mp3"}},
        {"a share numbers the inputs a template names alike by their place in the tree",
         {{"lib/b.flac", Sound(), {{"title", "T"}}}, {"lib/a.flac", Sound(), {{"title", "T"}}}},
         out([](TOutputChoices& c) { c.NameTemplateText = "{title}"; }),
         {.Given = {"lib"}, .Shard = {2, 2}},
         {"lib/a.flac", "lib/b.flac"},
         {"out/T_(new_1).mp3", "out/T.mp3"}},
        {"a template over tags, a folder in a tag cleaned away",
         {{"lib/x.flac", Sound(), {{"artist", "AC/DC"}, {"title", "What?"}}}},
         out([](TOutputChoices& c) { c.NameTemplateText = "{artist}/{title}"; }),
         {},
         {},
         {"out/AC_DC/What_.mp3"}},
        {"without sound: refused by itself, passed over in a folder",
         {{"v.mp4", TProbedInput{}}, {"lib/v.mp4", TProbedInput{}}},
         out(),
         {},
         {},
         {"no sound", "passed over"}},
        {"damaged sound is refused, an unreadable text passed over",
         {{"lib/bad.mp3", Unreadable()},
          {"lib/notes.txt", Unreadable()},
          {"bad.flac", Unreadable()}},
         out(),
         {},
         {},
         {"refused", "passed over", "refused"}},
        {"every track, and one named by language or missing",
         {{"v.mkv", TwoTracks()}},
         [](TOutputChoices& c) { c.Pieces = pcAllTracks; },
         {},
         {},
         {"v_(new)_1_eng.mp3 [1 eng] #1; v_(new)_2_ger.mp3 [2 ger] #2"}},
        {"the track named", {{"v.mkv", TwoTracks()}}, {}, {.Track = "ger"}, {}, {"v_(new).mp3 #2"}},
        {"no such track", {{"v.mkv", TwoTracks()}}, {}, {.Track = "fre"}, {}, {"refused"}},
        {"chapters, a title's slash cleaned; none: the file whole",
         {{"c.flac", WithChapters()}, {"d.flac", Sound()}},
         [](TOutputChoices& c) { c.Pieces = pcChapters; },
         {},
         {},
         {"c/01 Intro.mp3 [01 Intro] @0; c/02 A_B.mp3 [02 A/B] @1000000", "d_(new).mp3"}},
        {"chapters named by a template from the input's tags and their own",
         {{"c.flac", WithChapters(), {{"artist", "Ann"}, {"album", "Live"}}}},
         out([](TOutputChoices& c) {
             c.Pieces = pcChapters;
             c.NameTemplateText = "{artist}/{album}/{track:02} {title}";
         }),
         {},
         {},
         {"out/Ann/Live/01 Intro.mp3 [01 Intro] @0; out/Ann/Live/02 A_B.mp3 [02 A/B] @1000000"}},
        {"chapters or else every track",
         {{"v.mkv", TwoTracks()}},
         [](TOutputChoices& c) { c.Pieces = pcChaptersOrTracks; },
         {},
         {},
         {"v_(new)_1_eng.mp3 [1 eng] #1; v_(new)_2_ger.mp3 [2 ger] #2"}},
        {"lossy sound kept in a folder, converted by itself",
         {{"lib/m.mp3", Sound("mp3", 128000)}, {"m.mp3", Sound("mp3", 128000)}},
         out([](TOutputChoices& c) { c.LossyPolicy = lpCopyInFolders; }),
         {},
         {},
         {"out/m.mp3 copy", "out/m_(new).mp3"}},
        {"sound no container keeps, copied",
         {{"a.ape", Sound("ape")}},
         [](TOutputChoices& c) { c.Format = fmCopy; },
         {},
         {},
         {"refused"}},
        {"a playlist in a folder", {{"lib/list.m3u", TProbedInput{}}}, out(), {}, {}, {"playlist"}},
        {"an output done already is passed over",
         {{"t.wav", tone}},
         {},
         {.Update = true},
         {"t.wav<tone_1k_stereo.wav", "t_(new).mp3<tone_1k_stereo.mp3"},
         {"up to date t_(new).mp3"}},
    };
    for (const TPlanCase& test : cases) {
        SCOPED_TRACE(test.What);
        TScratchFolder folder;
        MakeFiles(folder, test.Existing);
        TOutputChoices chosen;
        if (test.Choose)
            test.Choose(chosen);
        if (chosen.OutputFolder)
            IntoOut(chosen, folder.Path());
        TPlanRun run(folder, test);
        std::vector<std::string> planned;
        for (const TPlanStep& step : test.Inputs)
            planned.push_back(run.Plan(step, chosen));
        EXPECT_EQ(planned, test.Expected);
    }
}

// A cue sheet's tracks are cut at their indexes and named "NN Title" beside the file, or in
// the output folder's tree where the sheet lies; a title's "/" never makes a folder.
TEST(OutputPlanner, PlansCueTracks) {
    struct TCueCase {
        const char* What;
        bool InFolder;
        const char* Expected;
    };
    const TCueCase cases[] = {
        {"beside the file", false, "01 One.mp3 [01 One] @0; 02 A_B.mp3 [02 A/B] @2000000"},
        {"in the tree where the sheet lies", true,
         "out/Album/01 One.mp3 [01 One] @0; out/Album/02 A_B.mp3 [02 A/B] @2000000"},
    };
    for (const TCueCase& test : cases) {
        SCOPED_TRACE(test.What);
        TScratchFolder folder;
        const fs::path place = test.InFolder ? "lib/Album" : "";
        const fs::path audio = folder.Path() / place / "a.flac";
        TCueSheet sheet;
        sheet.Title = "Album";
        sheet.Tracks = {{1, audio, 0, "One", "", {}}, {2, audio, 150, "A/B", "", {}}};
        TOutputChoices choices;
        TakeProbe(audio, Sound(), {}, choices);
        if (test.InFolder)
            choices.OutputFolder = folder / "out";
        TOutputPlanner planner(
            {}, [](const std::string&) { return std::vector<TPathFileName>(); },
            [](const TPathFileName&) {
                return TProbedFile{Sound(), {}};
            });
        const TLibraryInput sheetFile{folder.Path() / place / "a.cue",
                                      test.InFolder ? "Album/a.cue" : "a.cue", test.InFolder};
        EXPECT_EQ(Describe(planner.PlanCueTracks(sheet, choices, sheetFile), folder.Path()),
                  test.Expected);
    }
}
