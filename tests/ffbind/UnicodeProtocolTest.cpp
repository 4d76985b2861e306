// The "unicode" protocol: which names are rewritten, and files served through our I/O contexts
// to the libraries, checked on disk and with ffprobe.
#include "ffbind/UnicodeProtocol.h"
#include "TempFolder.h"
#include "ffbind/FFUtils.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

const std::string OddName = "Grüße aus Köln – Ωmega take 1.wav";

std::string UnicodeURL(const std::filesystem::path& path) {
    return UnicodeURLPrefix + path.string();
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

std::string ReadAll(AVIOContext* context, std::size_t atMost) {
    std::string bytes(atMost, '\0');
    const int count = ff::avio_read(context, reinterpret_cast<unsigned char*>(bytes.data()),
                                    static_cast<int>(atMost));
    bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return bytes;
}

// Restores the current directory at the end of a test that changes it.
class TCurrentDirectory {
public:
    explicit TCurrentDirectory(const std::filesystem::path& path)
        : Saved(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~TCurrentDirectory() { std::filesystem::current_path(Saved); }

private:
    std::filesystem::path Saved;
};

} // namespace

// Names the libraries read as local files stay as they are, whatever their characters; URLs of
// the listed protocols and of protocols the libraries know are never rewritten.
TEST(UnicodeProtocolTest, NamesTheLibrariesCanOpenStayUnchanged) {
    EnsureLibsLoaded();
    for (const char* name :
         {"/home/u/Music/a.mp3", "a.mp3", "/tmp/Grüße ünï/Ωmega.mp3", "dir/a:b.mp3", "gopher:x",
          "pipe:0", "rtp://host:5004", "tcp://h:1", "udp://h:1", "stream:x", "file:a.mp3",
          "http://example.com/a.mp3", "https://example.com/a.mp3"}) {
        EXPECT_FALSE(NeedsUnicodeURL(name)) << name;
        EXPECT_EQ(FileNameToURL(name), name);
    }
}

// A relative name with a colon would be taken for an unknown protocol: it is rewritten, and
// the libraries open it through our I/O context where they fail by name.
TEST(UnicodeProtocolTest, NameReadAsUnknownProtocolIsRewrittenAndOpens) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const std::string name = "Talk: Grüße 1.wav";
    std::filesystem::copy_file(Fixture("tone_1k_stereo.wav"), folder / name);
    TCurrentDirectory inFolder(folder.Get());

    EXPECT_TRUE(NeedsUnicodeURL(name));
    EXPECT_TRUE(NeedsUnicodeURL("C:\\Music\\a.mp3"));
    const std::string url = FileNameToURL(name);
    EXPECT_EQ(url, "unicode:utf8:" + name);

    AVFormatContext* plain = nullptr;
    EXPECT_EQ(ff::avformat_open_input(&plain, name.c_str(), nullptr, nullptr),
              AVERROR_PROTOCOL_NOT_FOUND);

    int error = 0;
    TInputContext input = OpenInputContext(url, nullptr, nullptr, &error);
    ASSERT_TRUE(input) << ErrorText(error);
    EXPECT_EQ(URLToFileName(input.Format->url), name);
    EXPECT_STREQ(input.Format->iformat->name, "wav");
}

TEST(UnicodeProtocolTest, UnicodeURLRecognitionAndReverse) {
    EXPECT_FALSE(IsUnicodeURL("unicode:utf8:"));
    EXPECT_TRUE(IsUnicodeURL("unicode:utf8:a"));
    EXPECT_FALSE(IsUnicodeURL("Unicode:utf8:a"));
    EXPECT_FALSE(IsUnicodeURL("unicode:a.mp3"));
    EXPECT_EQ(URLToFileName("unicode:utf8:/tmp/Ωmega: 1.mp3"), "/tmp/Ωmega: 1.mp3");
    EXPECT_EQ(URLToFileName("/tmp/a.mp3"), "/tmp/a.mp3");
    EXPECT_EQ(URLToFileName("http://h/a.mp3"), "http://h/a.mp3");
}

// Writing creates the file under its exact name; reading gives the same bytes back, seeking
// lands on the right byte and the size request neither moves the position nor reads.
TEST(UnicodeProtocolTest, WritesReadsSeeksAndSizesANonAsciiFile) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const std::filesystem::path path = folder / OddName;
    const std::string bytes = Pattern(100000); // several I/O buffers
    {
        TMediaIO io;
        ASSERT_EQ(OpenUnicodeIO(UnicodeURL(path), umWrite, io), 0);
        ff::avio_write(io.Context(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       static_cast<int>(bytes.size()));
        EXPECT_EQ(io.Close(), 0);
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadWholeFile(path), bytes);

    TMediaIO io;
    ASSERT_EQ(OpenUnicodeIO(UnicodeURL(path), umRead, io), 0);
    EXPECT_EQ(ReadAll(io.Context(), 10), bytes.substr(0, 10));
    EXPECT_EQ(ff::avio_size(io.Context()), 100000);
    EXPECT_EQ(ReadAll(io.Context(), 60000), bytes.substr(10, 60000));
    EXPECT_EQ(ff::avio_seek(io.Context(), 77777, SEEK_SET), 77777);
    EXPECT_EQ(ReadAll(io.Context(), 5), bytes.substr(77777, 5));
    EXPECT_EQ(ff::avio_seek(io.Context(), -50000, SEEK_CUR), 27782);
    EXPECT_EQ(ReadAll(io.Context(), 5), bytes.substr(27782, 5));
    EXPECT_EQ(ff::avio_seek(io.Context(), 99990, SEEK_SET), 99990);
    EXPECT_EQ(ReadAll(io.Context(), 100), bytes.substr(99990));
}

// The size request of a 5-byte file is 5 and the next read still starts at the beginning.
TEST(UnicodeProtocolTest, SizeRequestOfSmallFileKeepsPosition) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const auto path = folder.WriteFile(OddName, "hello");
    TMediaIO io;
    ASSERT_EQ(OpenUnicodeIO(UnicodeURL(path), umRead, io), 0);
    EXPECT_EQ(ff::avio_size(io.Context()), 5);
    EXPECT_EQ(ReadAll(io.Context(), 100), "hello");
}

// Reading past the end reports the library's end-of-file code, not an empty success.
TEST(UnicodeProtocolTest, ReadAtEndGivesEndOfFile) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const auto path = folder.WriteFile(OddName, "abc");
    TMediaIO io;
    ASSERT_EQ(OpenUnicodeIO(UnicodeURL(path), umRead, io), 0);
    EXPECT_EQ(ReadAll(io.Context(), 3), "abc");
    unsigned char byte;
    EXPECT_EQ(ff::avio_read(io.Context(), &byte, 1), AVERROR_EOF);
    EXPECT_TRUE(ff::avio_feof(io.Context()));
}

TEST(UnicodeProtocolTest, OpenFailuresAndTruncation) {
    EnsureLibsLoaded();
    TTempFolder folder;
    TMediaIO io;
    EXPECT_EQ(OpenUnicodeIO(UnicodeURL(folder / "missing ü.wav"), umRead, io), -2);
    EXPECT_FALSE(io);
    EXPECT_FALSE(std::filesystem::exists(folder / "missing ü.wav"));
    EXPECT_EQ(OpenUnicodeIO(UnicodeURL(folder.Get()), umRead, io), AVERROR(EISDIR));
    EXPECT_EQ(OpenUnicodeIO(UnicodeURL(folder / "no folder" / "a.wav"), umWrite, io),
              AVERROR(ENOENT));

    const auto path = folder.WriteFile(OddName, Pattern(5000));
    ASSERT_EQ(OpenUnicodeIO(UnicodeURL(path), umWrite, io), 0);
    ff::avio_write(io.Context(), reinterpret_cast<const unsigned char*>("new"), 3);
    EXPECT_EQ(io.Close(), 0);
    EXPECT_EQ(ReadWholeFile(path), "new");
}

// Open errors of inputs come back with codes that tell the cases apart (the log gives the
// library's words for each): a missing file, a file with no detectable format and a known
// format with a damaged header.
TEST(UnicodeProtocolTest, InputOpenErrorsTellTheirCause) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const auto empty = folder.WriteFile("empty ü.wav", "");
    const auto text = folder.WriteFile("notes ü.txt", "just some words, no media here\n");
    const auto badWav = folder.WriteFile("bad ü.wav", std::string("RIFF\x24\0\0\0WAVE", 12) +
                                                          "junkjunkjunkjunkjunkjunkjunkjunk");
    const std::pair<std::filesystem::path, int> cases[] = {
        {folder / "missing.wav", AVERROR(ENOENT)},
        {empty, AVERROR_DEMUXER_NOT_FOUND},
        {text, AVERROR_DEMUXER_NOT_FOUND},
        {badWav, AVERROR_INVALIDDATA},
    };
    for (const auto& [path, code] : cases) {
        for (const std::string& url : {path.string(), UnicodeURL(path)}) {
            int error = 0;
            TInputContext input = OpenInputContext(url, nullptr, nullptr, &error);
            EXPECT_FALSE(input) << url;
            EXPECT_EQ(error, code) << url;
        }
    }
}

// A caller-prepared context is used (its settings survive) and is not leaked on failure.
TEST(UnicodeProtocolTest, PreparedContextIsTakenOver) {
    EnsureLibsLoaded();
    AVFormatContext* prepared = ff::avformat_alloc_context();
    prepared->flags |= AVFMT_FLAG_GENPTS;
    int error = 0;
    TInputContext input = OpenInputContext(UnicodeURL(Fixture("tone_1k_stereo.flac")), nullptr,
                                           nullptr, &error, prepared);
    ASSERT_TRUE(input) << ErrorText(error);
    EXPECT_EQ(input.Format.get(), prepared);
    EXPECT_TRUE(input.Format->flags & AVFMT_FLAG_GENPTS);

    TTempFolder folder;
    TInputContext failed = OpenInputContext(UnicodeURL(folder.WriteFile("e.wav", "")), nullptr,
                                            nullptr, &error, ff::avformat_alloc_context());
    EXPECT_FALSE(failed);
    EXPECT_FALSE(failed.IO);
}

// An input read through our I/O context gives the libraries the same streams and packets as
// ffprobe sees in the file.
TEST(UnicodeProtocolTest, InputThroughProtocolMatchesFfprobe) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const auto path = folder / "Vidéo – ünïcode.mp4";
    std::filesystem::copy_file(Fixture("video_h264_aac.mp4"), path);
    int error = 0;
    TInputContext input = OpenInputContext(UnicodeURL(path), nullptr, nullptr, &error);
    ASSERT_TRUE(input) << ErrorText(error);
    ASSERT_GE(ff::avformat_find_stream_info(input.Format.get(), nullptr), 0);
    EXPECT_EQ(static_cast<int>(input.Format->nb_streams),
              ProbeStreamCount(path, "v") + ProbeStreamCount(path, "a"));
    EXPECT_NEAR(input.Format->duration / 1e6, ProbeDuration(path), 0.05);

    PacketPtr packet(ff::av_packet_alloc());
    int packets = 0;
    while (ff::av_read_frame(input.Format.get(), packet.get()) >= 0) {
        ++packets;
        ff::av_packet_unref(packet.get());
    }
    const std::string countByFfprobe = RunCommand(
        "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
        ShellQuote(path.string()) + " | awk '{s+=$1} END {print s}'");
    EXPECT_EQ(packets, std::atoi(countByFfprobe.c_str()));
}

// A wav file written through our I/O context: the muxer seeks back to patch its header, and
// ffprobe reads the result as one second of mono sound.
TEST(UnicodeProtocolTest, OutputThroughProtocolIsAValidFile) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const auto path = folder / OddName;
    const std::string url = UnicodeURL(path);
    AVFormatContext* raw = nullptr;
    ASSERT_GE(ff::avformat_alloc_output_context2(&raw, nullptr, "wav", url.c_str()), 0);
    OutputFormatPtr output(raw);
    AVStream* stream = ff::avformat_new_stream(output.get(), nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    stream->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    stream->codecpar->sample_rate = 8000;
    stream->codecpar->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    stream->codecpar->bits_per_coded_sample = 16;
    stream->codecpar->block_align = 2;
    stream->time_base = {1, 8000};

    TMediaIO io;
    ASSERT_EQ(OpenOutputIO(output.get(), url, io), 0);
    EXPECT_TRUE(io.IsCustom());
    ASSERT_EQ(ff::avformat_write_header(output.get(), nullptr), 0);
    for (int i = 0; i < 10; ++i) {
        PacketPtr packet(ff::av_packet_alloc());
        ASSERT_EQ(ff::av_new_packet(packet.get(), 1600), 0);
        std::fill(packet->data, packet->data + 1600, static_cast<uint8_t>(i * 20));
        packet->pts = packet->dts = i * 800;
        packet->duration = 800;
        ASSERT_EQ(ff::av_write_frame(output.get(), packet.get()), 0);
    }
    ASSERT_EQ(ff::av_write_trailer(output.get()), 0);
    EXPECT_EQ(io.Close(), 0);

    // The header's RIFF size was patched after the sound was written.
    const std::string written = ReadWholeFile(path);
    ASSERT_GT(written.size(), 16000u);
    uint32_t riffSize = 0;
    std::memcpy(&riffSize, written.data() + 4, 4);
    EXPECT_EQ(riffSize, written.size() - 8);
    EXPECT_EQ(ProbeValue(path, "stream=codec_name", "a:0"), "pcm_s16le");
    EXPECT_EQ(ProbeValue(path, "stream=sample_rate", "a:0"), "8000");
    EXPECT_NEAR(ProbeDuration(path), 1.0, 0.001);
}

// Other output names are opened by the libraries themselves.
TEST(UnicodeProtocolTest, PlainOutputNameIsOpenedByTheLibraries) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const auto path = folder / "plain.wav";
    AVFormatContext* raw = nullptr;
    ASSERT_GE(ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), 0);
    OutputFormatPtr output(raw);
    TMediaIO io;
    ASSERT_EQ(OpenOutputIO(output.get(), path.string(), io), 0);
    EXPECT_FALSE(io.IsCustom());
    EXPECT_EQ(output->pb, io.Context());
    EXPECT_EQ(io.Close(), 0);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(OpenOutputIO(output.get(), (folder / "none" / "a.wav").string(), io),
              AVERROR(ENOENT));
}

// Assigning a newly opened input closes the old one, format context before its I/O, and the
// new one reads on.
TEST(UnicodeProtocolTest, ReassignedInputReplacesTheOldOne) {
    EnsureLibsLoaded();
    int error = 0;
    TInputContext input =
        OpenInputContext(UnicodeURL(Fixture("tone_1k_stereo.mp3")), nullptr, nullptr, &error);
    ASSERT_TRUE(input) << ErrorText(error);
    input = OpenInputContext(UnicodeURL(Fixture("tone_1k_stereo.wav")), nullptr, nullptr, &error);
    ASSERT_TRUE(input) << ErrorText(error);
    EXPECT_STREQ(input.Format->iformat->name, "wav");
    PacketPtr packet(ff::av_packet_alloc());
    EXPECT_GE(ff::av_read_frame(input.Format.get(), packet.get()), 0);
    input = TInputContext();
    EXPECT_FALSE(input);
    EXPECT_FALSE(input.IO);
}
