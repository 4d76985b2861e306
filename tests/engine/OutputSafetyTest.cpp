// What a run does to the files around its output and what it says at its end: an existing file
// is replaced only by a finished run (with its permissions, at a link's target), a stopped run
// leaves it as it was; raw inputs keep the rate their format implies; the decoders' drain, the
// clip's end and a short output. Outputs are checked with ffprobe.
#include "RunHarness.h"

#include "ffbind/MainThread.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// The names in a folder, sorted.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class OutputSafety : public ::testing::Test {
protected:
    TEngineUnderTest Run;
    TCustomFFmpeg& E = *Run.Engine;
    TTempFolder Folder;
};

// A run stopped while it writes over an existing file leaves that file byte for byte and
// removes its partial sound, saying so.
TEST_F(OutputSafety, StoppedRunLeavesTheReplacedFileAsItWas) {
    TLogCapture log;
    const fs::path old = Folder / "old.mp3";
    fs::copy_file(Fixture("tone_1k_stereo.mp3"), old);
    const std::string before = ReadWholeFile(old);
    E.Options().ReplaceExistingOutputs = true;
    // At the input's own pace (two hours): the stop surely comes while it converts.
    Run.OpenInputs({{"re", "1"}}, {Fixture("long_2h.mp3")});
    Run.CreateOutput({{"ar", "8000"}}, old);
    E.ProgressIntervalUs = 20000;
    Run.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    WaitServingMainThread(
        [&] { return Run.Progresses > 2 || std::chrono::steady_clock::now() > deadline; });
    E.Stop(swWaitForEnd);
    EXPECT_FALSE(E.Finished);
    EXPECT_EQ(ReadWholeFile(old), before);
    EXPECT_EQ(Names(Folder.Get()), std::vector<std::string>{"old.mp3"});
    EXPECT_TRUE(log.Contains(old.string() + " is left as it was")) << "no log line";
}

// An output removed while it is written is noticed with the next progress report: a run paced
// at the input's own speed (two hours) ends within seconds, failed with the reason.
TEST_F(OutputSafety, ARemovedOutputEndsTheRunAtItsNextProgress) {
    const fs::path output = Folder / "removed.wav";
    Run.OpenInputs({{"re", "1"}}, {Fixture("long_2h.mp3")});
    Run.CreateOutput({}, output);
    E.ProgressIntervalUs = 20000;
    fs::remove(output);
    Run.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    WaitServingMainThread(
        [&] { return Run.Terminations > 0 || std::chrono::steady_clock::now() > deadline; });
    EXPECT_GT(Run.Terminations.load(), 0) << "the run went on";
    E.Stop(swWaitForEnd);
    EXPECT_FALSE(E.Finished);
    EXPECT_EQ(E.ErrorMessage, output.string() + ": the output was removed while it was written");
    EXPECT_TRUE(Names(Folder.Get()).empty());
}

// A finished replacement keeps the old file's permissions. A link is replaced itself by a new
// file: the file it points at, elsewhere, is left as it was.
TEST_F(OutputSafety, ReplacementKeepsPermissionsAndReplacesLinks) {
    fs::create_directory(Folder / "real");
    const fs::path target = Folder / "real" / "target.mp3";
    const fs::path link = Folder / "link.mp3";
    fs::copy_file(Fixture("tone_1k_stereo.mp3"), target);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, link);
    const std::string before = ReadWholeFile(target);
    E.Options().ReplaceExistingOutputs = true;
    Run.OpenInputs({}, {Fixture("mono_8k.wav")});
    Run.CreateOutput({}, link);
    Run.RunToEnd();
    ASSERT_TRUE(E.Finished) << E.ErrorMessage;
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(ProbeValue(link, "stream=sample_rate", "a:0"), "8000");
    EXPECT_EQ(ReadWholeFile(target), before);

    TEngineUnderTest again;
    again.Engine->Options().ReplaceExistingOutputs = true;
    again.OpenInputs({}, {Fixture("mono_8k.wav")});
    again.CreateOutput({}, target);
    again.RunToEnd();
    ASSERT_TRUE(again.Engine->Finished) << again.Engine->ErrorMessage;
    EXPECT_EQ(ProbeValue(target, "stream=sample_rate", "a:0"), "8000");
    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(Folder / "real"), std::vector<std::string>{"target.mp3"});
}

// Without leave to replace, an existing name is refused: the engine never takes another.
TEST_F(OutputSafety, TakenNameIsRefused) {
    const fs::path taken = Folder / "taken.mp3";
    fs::copy_file(Fixture("tone_1k_stereo.mp3"), taken);
    ASSERT_TRUE(E.OpenInputFile(Fixture("mono_8k.wav")));
    EXPECT_EQ(E.OpenOutputFile(taken), -1);
    EXPECT_EQ(E.LastError, "Could not open '" + taken.string() + "': File exists");
    EXPECT_EQ(ReadWholeFile(taken), ReadWholeFile(Fixture("tone_1k_stereo.mp3")));
}

// "Finished" only for the file written at the output's name: one removed meanwhile, or another
// file put in its place (the new file is left alone), fails the run with the reason; a
// replacement whose result is in place stays finished.
TEST_F(OutputSafety, FinishedOnlyWhenTheWrittenFileIsInPlace) {
    const struct {
        const char* Name;
        bool Replace;
        bool PutOther;
        const char* Reason; // empty: finished
    } cases[] = {
        {"removed", false, false, "the output was removed while it was written"},
        {"other", false, true, "another file took the output's place while it was written"},
        {"replaced", true, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TEngineUnderTest run;
        const fs::path output = Folder / (std::string(c.Name) + ".mp3");
        if (c.Replace)
            fs::copy_file(Fixture("tone_1k_stereo.mp3"), output);
        run.Engine->Options().ReplaceExistingOutputs = c.Replace;
        run.OpenInputs({}, {Fixture("mono_8k.wav")});
        run.CreateOutput({}, output);
        if (!c.Replace)
            fs::remove(output); // the file the run writes to is unlinked
        if (c.PutOther)
            std::ofstream(output) << "someone else's";
        run.RunToEnd();
        EXPECT_EQ(run.Engine->Finished, *c.Reason == 0);
        EXPECT_EQ(run.Engine->ErrorMessage, *c.Reason ? output.string() + ": " + c.Reason : "");
        if (c.PutOther) {
            EXPECT_EQ(ReadWholeFile(output), "someone else's");
        }
        if (c.Replace) {
            EXPECT_EQ(ProbeValue(output, "stream=sample_rate", "a:0"), "8000");
        }
    }
}

// Checking an output without creating it: a folder that exists and takes files passes and
// leaves nothing behind; a missing folder or a file in the folder's place fails with the reason
// creating it would have given.
TEST_F(OutputSafety, CheckOnlyCreatesNothing) {
    std::ofstream(Folder / "file") << "x";
    const struct {
        fs::path Output;
        const char* Reason; // empty: passes
    } cases[] = {
        {Folder / "fine.mp3", ""},
        {Folder / "missing" / "x.mp3", "No such file or directory"},
        {Folder / "file" / "x.mp3", "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Output.string());
        TEngineUnderTest run;
        run.Engine->OutputCreation = ocCheckOnly;
        run.OpenInputs({}, {Fixture("mono_8k.wav")});
        const int outputs = run.Engine->OpenOutputFile(c.Output);
        EXPECT_EQ(outputs, *c.Reason ? -1 : 1);
        if (*c.Reason) {
            EXPECT_EQ(run.Engine->LastError,
                      "Could not open '" + c.Output.string() + "': " + c.Reason);
        }
        run.Engine->CloseAll();
    }
    EXPECT_EQ(Names(Folder.Get()), std::vector<std::string>{"file"});
}

// A raw GSM file is 8000 Hz by its format: no default rate is imposed on its demuxer.
TEST_F(OutputSafety, RawInputKeepsTheRateOfItsFormat) {
    Run.OpenInputs({}, {Fixture("raw_8k.gsm")});
    Run.CreateOutput({}, Folder / "out.wav");
    Run.RunToEnd();
    ASSERT_TRUE(E.Finished) << E.ErrorMessage;
    EXPECT_EQ(ProbeValue(Folder / "out.wav", "stream=sample_rate", "a:0"), "8000");
    EXPECT_NEAR(ProbeDuration(Folder / "out.wav"), 2.0, 0.1);
}

// Decode errors while the decoders are drained do not keep the encoders from being drained: the
// pictures before the six damaged packets all arrive.
TEST_F(OutputSafety, DamagedLastPacketsStillDrainTheEncoders) {
    Run.OpenInputs({}, {Fixture("damaged_end.mp4")});
    Run.CreateOutput({}, Folder / "out.m4a");
    Run.RunToEnd();
    ASSERT_TRUE(E.Finished) << E.ErrorMessage;
    EXPECT_GE(ProbePacketCount(Folder / "out.m4a", "v"), 90);
}

// A clip ends the pictures at its end, as it does the sound: 2.75 s at 25 pictures per second.
TEST_F(OutputSafety, ClipEndAppliesToPictures) {
    Run.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    Run.CreateOutput({{"t", "2.75"}}, Folder / "clip.m4a");
    Run.RunToEnd();
    ASSERT_TRUE(E.Finished) << E.ErrorMessage;
    EXPECT_EQ(ProbePacketCount(Folder / "clip.m4a", "v"), 69);
}

} // namespace
