// Creating outputs: the streams each container gets from video and audio inputs, the encoder
// settings of an audio extraction, joining, option conflicts, metadata and refused outputs.
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

class OutputFile : public ::testing::Test {
protected:
    TEngineUnderTest Test;
    TEngineOpen& E = *Test.Engine;
    TTempFolder Folder;

    // "v:h264 a:aac": kinds and codec ids of the streams of the last output.
    std::string StreamSummary() {
        std::string summary;
        TOutputFileSetup& output = E.OutputFileSetup(E.OutputFileCount() - 1);
        for (const TOutputStreamSetup& stream : output.Streams) {
            if (!summary.empty())
                summary += " ";
            summary += stream.Encoder->codec_type == AVMEDIA_TYPE_VIDEO ? "v:" : "a:";
            summary += ff::avcodec_get_name(stream.Encoder->codec_id);
        }
        return summary;
    }
};

// The default codecs of the eleven output containers; containers that carry only sound, or
// only cover art (mp3, flac), get no video stream from a moving picture.
TEST_F(OutputFile, ElevenFormatsFromVideoAndAudioInputs) {
    struct {
        const char* Extension;
        const char* FromVideo;
        const char* FromAudio;
    } cases[] = {
        {"mp3", "a:mp3", "a:mp3"},
        {"mp2", "a:mp2", "a:mp2"},
        {"wma", "v:msmpeg4v3 a:wmav2", "a:wmav2"},
        {"ogg", "v:theora a:vorbis", "a:vorbis"},
        {"aac", "a:aac", "a:aac"},
        {"m4a", "v:h264 a:aac", "a:aac"},
        {"flac", "a:flac", "a:flac"},
        {"ac3", "a:ac3", "a:ac3"},
        {"wav", "a:pcm_s16le", "a:pcm_s16le"},
        {"au", "a:pcm_s16be", "a:pcm_s16be"},
        {"ra", "v:rv10 a:ac3", "a:ac3"},
    };
    TEngineUnderTest audioOnly;
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    ASSERT_TRUE(audioOnly.Engine->OpenInputFile(Fixture("tone_1k_stereo.wav")));
    for (const auto& c : cases) {
        ASSERT_GT(E.OpenOutputFile(Folder / (std::string("v.") + c.Extension)), 0) << E.LastError;
        EXPECT_EQ(StreamSummary(), c.FromVideo) << c.Extension;
        TEngineOpen& a = *audioOnly.Engine;
        ASSERT_GT(a.OpenOutputFile(Folder / (std::string("a.") + c.Extension)), 0) << a.LastError;
        TOutputFileSetup& output = a.OutputFileSetup(a.OutputFileCount() - 1);
        ASSERT_EQ(output.Streams.size(), 1u) << c.Extension;
        EXPECT_EQ(std::string("a:") + ff::avcodec_get_name(output.Streams[0].Encoder->codec_id),
                  c.FromAudio);
        // No name was given: the encoder was guessed, and no named encoder is recorded.
        EXPECT_NE(output.Streams[0].Codec, nullptr) << c.Extension;
        EXPECT_EQ(a.OutputCodecs.back(), nullptr);
    }
    EXPECT_EQ(E.OutputFileCount(), 11);
}

// vn, libmp3lame, 128k, 44100 Hz, 2 channels into an .mp3 name: one audio stream so set.
TEST_F(OutputFile, AudioExtractionSettings) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    for (auto [name, value] : TOptionList{
             {"vn", ""}, {"acodec", "libmp3lame"}, {"ab", "128k"}, {"ar", "44100"}, {"ac", "2"}})
        E.SetOption(name, value);
    ASSERT_EQ(E.OpenOutputFile(Folder / "out.mp3"), 1) << E.LastError;
    TOutputFileSetup& output = E.OutputFileSetup(0);
    EXPECT_STREQ(output.Context->oformat->name, "mp3");
    ASSERT_EQ(output.Streams.size(), 1u);
    const TOutputStreamSetup& stream = output.Streams[0];
    ASSERT_NE(stream.Codec, nullptr);
    EXPECT_STREQ(stream.Codec->name, "libmp3lame");
    EXPECT_EQ(E.OutputCodecs.at(0), stream.Codec);
    AVCodecContext* enc = stream.Encoder.get();
    EXPECT_EQ(enc->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(enc->sample_rate, 44100);
    EXPECT_EQ(enc->ch_layout.nb_channels, 2);
    EXPECT_EQ(enc->time_base.num, 1);
    EXPECT_EQ(enc->time_base.den, 44100);
    EXPECT_EQ(enc->bit_rate, 128000);
    // The input's sample format (ffprobe's) when the encoder takes it.
    EXPECT_STREQ(ff::av_get_sample_fmt_name(enc->sample_fmt),
                 ProbeValue(Fixture("video_h264_aac.mp4"), "stream=sample_fmt", "a:0").c_str());
    EXPECT_FALSE(stream.StreamCopy);
    // The audio stream consumed its options; vn stays for lack of a video stream to take it.
    EXPECT_TRUE(E.Options().AudioCodecName.empty());
    EXPECT_TRUE(E.Options().VideoDisable);
    EXPECT_EQ(E.Options().AudioSampleRateHz, 44100);
}

// An input sample format the encoder cannot take gives the encoder's first format.
TEST_F(OutputFile, UnsupportedSampleFormatFallsBack) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.wav"))); // s16
    E.SetOption("acodec", "libmp3lame");
    ASSERT_EQ(E.OpenOutputFile(Folder / "out.mp3"), 1) << E.LastError;
    const TOutputStreamSetup& stream = E.OutputStreamSetup(0, 0);
    EXPECT_EQ(stream.Encoder->sample_fmt, stream.Codec->sample_fmts[0]);
}

// The whole chain: the file written from these settings, as ffprobe sees it.
TEST_F(OutputFile, ExtractionRunGivesTheAskedStream) {
    const auto out = Folder / "small.mp3";
    Test.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    Test.CreateOutput({{"vn", "1"},
                       {"acodec", "libmp3lame"},
                       {"ab", "64k"},
                       {"ar", "22050"},
                       {"ac", "1"},
                       {"metadata", "title=Sound"},
                       {"metadata", "author=Someone"},
                       {"timestamp", "2010-01-02 03:04:05"}},
                      out);
    Test.RunToEnd();
    ASSERT_FALSE(E.ErrorOccurred) << E.ErrorMessage;
    EXPECT_EQ(ProbeStreamCount(out, "v"), 0);
    ASSERT_EQ(ProbeStreamCount(out, "a"), 1);
    EXPECT_EQ(ProbeValue(out, "stream=codec_name", "a:0"), "mp3");
    EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), "22050");
    EXPECT_EQ(ProbeValue(out, "stream=channels", "a:0"), "1");
    EXPECT_EQ(ProbeValue(out, "stream=bit_rate", "a:0"), "64000");
    EXPECT_EQ(ProbeValue(out, "format_tags=title"), "Sound");
    EXPECT_EQ(ProbeValue(out, "format_tags=artist"), "Someone");
    EXPECT_EQ(ProbeValue(out, "format_tags=creation_time"), "2010-01-02T03:04:05.000000Z");
}

// An existing output is replaced only by a run that ends well: a task that never runs leaves
// it as it was, and no part file stays behind either way.
TEST_F(OutputFile, ExistingFileIsReplacedOnlyByAFinishedRun) {
    const auto out = Folder / "kept.mp3";
    std::filesystem::copy_file(Fixture("tone_1k_stereo.mp3"), out);
    const auto originalSize = std::filesystem::file_size(out);
    {
        TEngineUnderTest unused;
        unused.Engine->Options().ReplaceExistingOutputs = true;
        unused.OpenInputs({}, {Fixture("tone_1k_stereo.wav")});
        unused.CreateOutput({{"acodec", "libmp3lame"}, {"ar", "8000"}}, out);
        EXPECT_EQ(std::filesystem::file_size(out), originalSize);
    }
    EXPECT_EQ(std::filesystem::file_size(out), originalSize);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Get()), {}), 1);

    E.Options().ReplaceExistingOutputs = true;
    Test.OpenInputs({}, {Fixture("tone_1k_stereo.wav")});
    Test.CreateOutput({{"acodec", "libmp3lame"}, {"ar", "8000"}}, out);
    Test.RunToEnd();
    ASSERT_FALSE(E.ErrorOccurred) << E.ErrorMessage;
    EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), "8000");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Get()), {}), 1);
}

// A finished run that cannot take the place of the existing name (here a folder) is a failure,
// not also finished, and the sound it wrote stays on disk under the name the message gives.
TEST_F(OutputFile, FailedReplacementFailsTheRunAndKeepsTheOutput) {
    const auto out = Folder / "taken.mp3";
    std::filesystem::create_directories(out / "inside");
    E.Options().ReplaceExistingOutputs = true;
    Test.OpenInputs({}, {Fixture("tone_1k_stereo.wav")});
    Test.CreateOutput({{"acodec", "libmp3lame"}, {"ar", "8000"}}, out);
    Test.RunToEnd();
    EXPECT_TRUE(E.ErrorOccurred);
    EXPECT_FALSE(E.Finished);
    const std::string keptAs = "; the output is kept as ";
    const std::size_t at = E.ErrorMessage.find(keptAs);
    ASSERT_NE(at, std::string::npos) << E.ErrorMessage;
    EXPECT_EQ(E.ErrorMessage.rfind("Could not replace", 0), 0u) << E.ErrorMessage;
    EXPECT_TRUE(std::filesystem::is_directory(out / "inside"));
    const std::filesystem::path part = E.ErrorMessage.substr(at + keptAs.size());
    EXPECT_EQ(part.parent_path(), Folder.Get());
    EXPECT_EQ(ProbeValue(part, "stream=sample_rate", "a:0"), "8000");
}

TEST_F(OutputFile, CopyAndNamedCodecs) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    E.SetOption("acodec", "copy");
    E.SetOption("vcodec", "copy");
    ASSERT_EQ(E.OpenOutputFile(Folder / "copy.mp4"), 1) << E.LastError;
    EXPECT_TRUE(E.OutputStreamSetup(0, 0).StreamCopy);
    EXPECT_TRUE(E.OutputStreamSetup(0, 1).StreamCopy);
    EXPECT_FALSE(E.Options().AudioStreamCopy);
    E.SetOption("acodec", "nosuchencoder");
    EXPECT_EQ(E.OpenOutputFile(Folder / "bad.mp4"), -1);
    EXPECT_EQ(E.LastError, "new_audio_stream fail: Unknown encoder 'nosuchencoder'");
    EXPECT_EQ(E.OutputFileCount(), 1);
    EXPECT_FALSE(std::filesystem::exists(Folder / "bad.mp4"));
    E.SetOption("acodec", "h263");
    EXPECT_EQ(E.OpenOutputFile(Folder / "bad.mp4"), -1);
    EXPECT_EQ(E.LastError, "new_audio_stream fail: Invalid encoder type 'h263'");
}

// Joining turns one output into an entry per input; nothing may follow it.
TEST_F(OutputFile, JoinAndItsRefusal) {
    const auto first = Fixture("tone_1k_stereo.wav");
    const auto second = Fixture("mono_8k.wav");
    ASSERT_TRUE(E.OpenInputFile(first));
    ASSERT_TRUE(E.OpenInputFile(second));
    ASSERT_EQ(E.OpenOutputFile(Folder / "joined.wav", ojJoin), 2) << E.LastError;
    EXPECT_TRUE(E.JoinMode);
    EXPECT_EQ(E.OutputFiles[0], E.OutputFiles[1]);
    EXPECT_NEAR(E.Options().RecordingTimeMs,
                std::llround((ProbeDuration(first) + ProbeDuration(second)) * 1000), 2);
    EXPECT_EQ(E.OpenOutputFile(Folder / "more.wav"), -1);
    EXPECT_EQ(E.LastError, "Cannot join more than one output file.");
    EXPECT_EQ(E.OutputFileCount(), 2);
}

TEST_F(OutputFile, CropPadAndFilterConflicts) {
    E.SetOption("s", "320x240");
    E.SetOption("vfilters", "scale=320:240");
    E.SetOption("padtop", "8");
    EXPECT_EQ(E.OpenOutputFile(Folder / "a.mp4"), -1);
    EXPECT_EQ(E.LastError, "Cannot enable pad options and the filters which resize frame at the "
                           "same time. (crop, rotate, scale, transpose, etc.)");
    E.Options().SetPadTop(0);
    E.SetOption("vfilters", "HFlip,Crop=100:100");
    E.SetOption("padleft", "8");
    EXPECT_EQ(E.OpenOutputFile(Folder / "a.mp4"), -1); // names compared without case
    E.Options().SetPadLeft(0);
    E.SetOption("croptop", "8");
    EXPECT_EQ(E.OpenOutputFile(Folder / "a.mp4"), -1);
    EXPECT_EQ(E.LastError, "Cannot enable crop options and filters at the same time.");
    EXPECT_EQ(E.OutputFileCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(Folder / "a.mp4"));
    E.SetOption("vfilters", "");
    E.SetOption("padtop", "8");
    EXPECT_EQ(E.OpenOutputFile(Folder / "a.mp4"), 1) << E.LastError;
    EXPECT_FALSE(E.UseVideoFilters);
}

// Refused outputs leave nothing behind; an output that stays empty is deleted on release.
TEST_F(OutputFile, RefusedAndEmptyOutputsLeaveNoFile) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.wav")));
    const auto nowhere = Folder / "no such folder" / "x.mp3";
    EXPECT_EQ(E.OpenOutputFile(nowhere), -1);
    EXPECT_EQ(E.LastError, "Could not open '" + nowhere.string() + "': No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(nowhere.parent_path()));
    const auto unknown = Folder / "x.nosuchextension";
    EXPECT_EQ(E.OpenOutputFile(unknown), -1);
    EXPECT_EQ(E.LastError,
              "Unable to find a suitable output format for '" + unknown.string() + "'");
    EXPECT_FALSE(std::filesystem::exists(unknown));
    EXPECT_EQ(E.OutputFileCount(), 0);
    const auto empty = Folder / "empty.wav";
    ASSERT_EQ(E.OpenOutputFile(empty), 1) << E.LastError;
    EXPECT_TRUE(std::filesystem::exists(empty));
    E.CloseAll();
    EXPECT_FALSE(std::filesystem::exists(empty));
}

// Missing folders below the given one (a chapter's folder, a library's tree) are made with the
// output, never by the check, and go again with an output that is discarded, unless another file
// is in them; a folder outside the given one, or below a given one that is gone, is refused.
TEST_F(OutputFile, FoldersBelowTheGivenOneComeAndGoWithTheOutput) {
    namespace fs = std::filesystem;
    struct {
        const char* From;
        const char* Output;
        const char* Other; // a file put there first, or null
        bool Opens;
        const char* LeftAfter; // the outermost folder left after the empty output goes, or null
    } cases[] = {
        {"", "a/b/x.wav", nullptr, true, nullptr},
        {"", "a/b/x.wav", "a/other.wav", true, "a"},
        {"a/", "a/b/x.wav", "a/other.wav", true, "a"},
        {"c", "d/x.wav", nullptr, false, nullptr},
        {"gone", "gone/e/x.wav", nullptr, false, nullptr},
    };
    const auto closeAndReopen = [this] {
        E.CloseAll();
        return E.OpenInputFile(Fixture("tone_1k_stereo.wav"));
    };
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.wav")));
    for (const auto& c : cases) {
        TTempFolder scratch;
        const fs::path output = scratch / c.Output;
        const fs::path outermost = scratch / *fs::path(c.Output).begin();
        if (c.Other) {
            fs::create_directories((scratch / c.Other).parent_path());
            std::ofstream(scratch / c.Other) << "x";
        }
        E.OutputFoldersFrom = scratch / c.From;
        E.OutputCreation = ocCheckOnly;
        EXPECT_EQ(E.OpenOutputFile(output) > 0, c.Opens) << c.Output << ": " << E.LastError;
        ASSERT_TRUE(closeAndReopen());
        EXPECT_EQ(fs::exists(outermost), c.Other != nullptr) << c.Output;
        E.OutputCreation = ocCreate;
        EXPECT_EQ(E.OpenOutputFile(output) > 0, c.Opens) << c.Output << ": " << E.LastError;
        EXPECT_EQ(fs::exists(output), c.Opens) << c.Output;
        ASSERT_TRUE(closeAndReopen());
        EXPECT_FALSE(fs::exists(output.parent_path())) << c.Output;
        EXPECT_EQ(fs::exists(outermost), c.LeftAfter != nullptr) << c.Output;
    }
}

// Pairs are applied with the first of a key winning and consumed by the first output; the
// creation time and the artist follow the timestamp and the author.
TEST_F(OutputFile, MetadataOfTheOutput) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.wav")));
    E.SetOption("metadata", "title=First");
    E.SetOption("metadata", "title=Second");
    E.Options().AddMetadata("author", "Someone");
    E.SetOption("timestamp", "2010-01-02 03:04:05");
    ASSERT_EQ(E.OpenOutputFile(Folder / "tags.mp3"), 1) << E.LastError;
    const AVDictionary* tags = E.OutputFiles[0]->metadata;
    auto tag = [&](const char* key) {
        const AVDictionaryEntry* entry = ff::av_dict_get(tags, key, nullptr, 0);
        return entry ? std::string(entry->value) : std::string("(none)");
    };
    EXPECT_EQ(tag("title"), "First");
    EXPECT_EQ(tag("artist"), "Someone");
    EXPECT_EQ(tag("creation_time"), "2010-01-02T03:04:05.000000Z");
    EXPECT_TRUE(E.Options().MetadataPairs.empty());
    ASSERT_EQ(E.OpenOutputFile(Folder / "second.mp3"), 2) << E.LastError;
    EXPECT_EQ(ff::av_dict_get(E.OutputFiles[1]->metadata, "title", nullptr, 0), nullptr);
}

// newaudio needs an output; it adds a stream there, with the language given.
TEST_F(OutputFile, StreamAddingOptions) {
    try {
        E.SetOption("newaudio", "");
        FAIL() << "a stream was added without an output";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    E.SetOption("vn", "1");
    ASSERT_EQ(E.OpenOutputFile(Folder / "two.mkv"), 1) << E.LastError;
    E.SetOption("alang", "eng");
    E.SetOption("acodec", "mp2");
    E.SetOption("newaudio", "");
    TOutputFileSetup& output = E.OutputFileSetup(0);
    ASSERT_EQ(output.Streams.size(), 2u);
    EXPECT_EQ(output.Streams[1].Encoder->codec_id, AV_CODEC_ID_MP2);
    const AVDictionaryEntry* language =
        ff::av_dict_get(output.Streams[1].Stream->metadata, "language", nullptr, 0);
    ASSERT_NE(language, nullptr);
    EXPECT_STREQ(language->value, "eng");
    EXPECT_TRUE(E.Options().AudioLanguage.empty());
}

// Video settings of an encoded stream: size with pads, rate, pixel format, overrides.
TEST_F(OutputFile, VideoStreamSettings) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    E.SetOption("an", "1");
    E.SetOption("padtop", "16");
    E.SetOption("rc_override", "0,100,5/200,300,-50");
    E.SetOption("qscale", "4");
    ASSERT_EQ(E.OpenOutputFile(Folder / "v.avi"), 1) << E.LastError;
    AVCodecContext* enc = E.OutputStreamSetup(0, 0).Encoder.get();
    EXPECT_EQ(enc->width, 320);
    EXPECT_EQ(enc->height, 256);
    EXPECT_EQ(enc->time_base.num, 1);
    EXPECT_EQ(enc->time_base.den, 25);
    EXPECT_EQ(enc->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_TRUE(enc->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(enc->global_quality, 4 * FF_QP2LAMBDA);
    ASSERT_EQ(enc->rc_override_count, 2);
    EXPECT_EQ(enc->rc_override[0].qscale, 5);
    EXPECT_EQ(enc->rc_override[1].end_frame, 300);
    EXPECT_FLOAT_EQ(enc->rc_override[1].quality_factor, 0.5f);
    E.SetOption("rc_override", "0,100");
    E.SetOption("an", "1");
    EXPECT_EQ(E.OpenOutputFile(Folder / "w.avi"), -1);
    EXPECT_EQ(E.LastError, "new_video_stream fail: error parsing rc_override");
}

} // namespace
