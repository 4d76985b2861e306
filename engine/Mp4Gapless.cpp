// The movie time scale of MPEG-4 outputs.
#include "engine/Mp4Gapless.h"
#include "engine/ItunesGaplessTag.h"

#include <cstring>

#include <string>

void ChooseMovieTimescale(const AVFormatContext& output, AVDictionary** muxerOptions) {
    const AVClass* muxer = output.oformat->priv_class;
    if (!muxer ||
        !ff::av_opt_find(const_cast<const AVClass**>(&muxer), "movie_timescale", nullptr, 0,
                         AV_OPT_SEARCH_FAKE_OBJ) ||
        ff::av_dict_get(*muxerOptions, "movie_timescale", nullptr, 0))
        return;
    for (unsigned i = 0; i < output.nb_streams; ++i) {
        const AVCodecParameters* sound = output.streams[i]->codecpar;
        if (sound->codec_type == AVMEDIA_TYPE_AUDIO && sound->sample_rate > 0) {
            ff::av_dict_set(muxerOptions, "movie_timescale",
                            std::to_string(sound->sample_rate).c_str(), 0);
            return;
        }
    }
}

bool TagMp4Gapless(const AVFormatContext& output, const std::filesystem::path& writtenFile) {
    const char* muxer = output.oformat->name;
    if (std::strcmp(muxer, "mp4") != 0 && std::strcmp(muxer, "ipod") != 0)
        return true;
    const AVCodecParameters* aac = nullptr;
    for (unsigned i = 0; i < output.nb_streams; ++i) {
        const AVCodecParameters* stream = output.streams[i]->codecpar;
        if (stream->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (aac || stream->codec_id != AV_CODEC_ID_AAC)
            return true;
        aac = stream;
    }
    bool writeFailed = false;
    if (aac)
        AddItunesGaplessTag(writtenFile, aac->frame_size, writeFailed);
    return !writeFailed;
}
