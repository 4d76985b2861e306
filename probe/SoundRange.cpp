// Reading a stretch of a file's sound as PCM.
#include "SoundRange.h"

#include <algorithm>

TRangeEnd ReadSoundRange(const TSoundSource& source, const TPcmFormat& format, int64_t fromUs,
                         int64_t toUs, const TPcmSink& sink, std::string& errorText) {
    TSoundDecoder decoder;
    if (!decoder.Open(source, format) || (fromUs > 0 && !decoder.SeekTo(fromUs))) {
        errorText = decoder.LastError();
        return TRangeEnd::Failed;
    }
    const int rateHz = decoder.Output().SampleRateHz;
    const auto frameBytes = static_cast<std::size_t>(decoder.BytesPerFrame());
    for (;;) {
        const TSoundDecoder::TRead read = decoder.Read();
        if (read == TSoundDecoder::TRead::End)
            return TRangeEnd::Complete;
        if (read == TSoundDecoder::TRead::Failed) {
            errorText = decoder.LastError();
            return TRangeEnd::Failed;
        }
        const int frames = decoder.SampleFrames();
        const int64_t pieceUs = decoder.SamplesUs();
        const auto frameAt = [&](int64_t timeUs) {
            const double frame = static_cast<double>(timeUs - pieceUs) * rateHz / 1e6;
            return static_cast<std::size_t>(std::clamp(frame, 0.0, static_cast<double>(frames)));
        };
        // A seek lands before the time asked: what lies before it is skipped.
        const std::size_t first = frameAt(fromUs);
        const std::size_t last = toUs < 0 ? static_cast<std::size_t>(frames) : frameAt(toUs);
        if (last > first &&
            !sink(decoder.Samples().data() + first * frameBytes, (last - first) * frameBytes))
            return TRangeEnd::Stopped;
        if (last < static_cast<std::size_t>(frames))
            return TRangeEnd::Complete;
    }
}
