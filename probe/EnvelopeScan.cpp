// Measuring the peak envelope of a file's sound.
#include "EnvelopeScan.h"

#include "SoundDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

constexpr std::size_t BatchBins = 500; // 5 s of sound per hand-over
constexpr uint32_t InfinityBits = 0x7f800000u;
// A time stamp past this (a damaged file's jump) ends the scan instead of asking for the memory
// of its bins.
constexpr int64_t LongestSoundUs = int64_t{48} * 3600 * 1000000;
// Below this a second scan's opening and seek cost more than they save.
constexpr int64_t SplitFromUs = int64_t{60} * 1000000;

// Gathers the peaks of consecutive pieces of sound into bins and hands them over in batches.
class TBinCollector {
public:
    TBinCollector(const TScanRange& range, const TEnvelopeBins& onBins)
        : Range(range), OnBins(onBins),
          NextBin(static_cast<std::size_t>(range.FromUs / TSoundEnvelope::BinUs)) {}

    // Takes a piece of interleaved samples; false once the range's end is passed.
    bool Add(const float* samples, int frames, int channels, int rateHz, int64_t pieceUs) {
        // The pieces' own times drift by rounding; they count only after a gap or a jump.
        if (!Started || std::llabs(pieceUs - ExpectedUs()) > TSoundEnvelope::BinUs) {
            BaseUs = pieceUs;
            FramesCounted = 0;
            Started = true;
        }
        RateHz = rateHz;
        for (int i = 0; i < frames;) {
            const int64_t timeUs = ExpectedUs();
            if (timeUs >= std::min(Range.ToUs, LongestSoundUs))
                return false;
            const int64_t bin = timeUs / TSoundEnvelope::BinUs;
            const int64_t binEndUs = (bin + 1) * TSoundEnvelope::BinUs;
            const auto binFrames = static_cast<int64_t>(
                std::ceil(static_cast<double>(binEndUs - BaseUs) * rateHz / 1e6) - FramesCounted);
            const int count = static_cast<int>(std::clamp<int64_t>(binFrames, 1, frames - i));
            if (timeUs >= Range.FromUs)
                Take(static_cast<std::size_t>(bin), Peak(samples + i * channels, count * channels));
            i += count;
            FramesCounted += count;
        }
        return true;
    }

    void Flush() {
        if (Batch.empty())
            return;
        const std::size_t first = NextBin;
        NextBin += Batch.size();
        OnBins(first, std::move(Batch));
        Batch.clear();
    }

private:
    int64_t ExpectedUs() const {
        return BaseUs + (RateHz > 0 ? FramesCounted * 1000000 / RateHz : 0);
    }

    // The largest magnitude. The magnitude bits of floats order them by size when read as
    // integers, which lets the compiler compare many samples at once; a NaN reads as infinity.
    static float Peak(const float* samples, int count) {
        uint32_t peakBits = 0;
        for (int i = 0; i < count; ++i) {
            uint32_t bits;
            std::memcpy(&bits, samples + i, sizeof bits);
            peakBits = std::max(peakBits, bits & 0x7fffffffu);
        }
        peakBits = std::min(peakBits, InfinityBits);
        float peak;
        std::memcpy(&peak, &peakBits, sizeof peak);
        return peak;
    }

    void Take(std::size_t bin, float peak) {
        if (bin < NextBin)
            return; // before the range's first bin
        if (bin >= NextBin + Batch.size())
            Batch.resize(bin - NextBin + 1, 0.0f);
        Batch[bin - NextBin] = std::max(Batch[bin - NextBin], peak);
        // The bin before the last is complete: a batch is handed over when it is full.
        if (Batch.size() > BatchBins) {
            const float open = Batch.back();
            Batch.pop_back();
            Flush();
            Batch.push_back(open);
        }
    }

    const TScanRange& Range;
    const TEnvelopeBins& OnBins;
    std::size_t NextBin;      // the bin of Batch[0]
    std::vector<float> Batch; // the bins not yet handed over
    bool Started = false;
    int64_t BaseUs = 0;
    int64_t FramesCounted = 0;
    int RateHz = 0;
};

// The edges scanned for the sound's start and end before the whole.
constexpr int64_t EdgeUs = 60'000'000;

// Keeps handed-over bins in the envelope, at their place.
TEnvelopeBins KeepIn(TSoundEnvelope& envelope) {
    return [&envelope](std::size_t firstBin, std::vector<float> peaks) {
        if (envelope.Peaks.size() < firstBin + peaks.size())
            envelope.Peaks.resize(firstBin + peaks.size(), 0.0f);
        std::copy(peaks.begin(), peaks.end(), envelope.Peaks.begin() + static_cast<long>(firstBin));
    };
}

// Scans the ranges into one envelope; false with errorText when a scan failed.
bool ScanInto(TSoundEnvelope& envelope, const TSoundSource& source,
              std::initializer_list<TScanRange> ranges, std::string& errorText) {
    const std::atomic<bool> never{false};
    for (const TScanRange& range : ranges)
        if (ScanSoundEnvelope(source, range, never, KeepIn(envelope), errorText) !=
            TScanEnd::Complete)
            return false;
    return true;
}

} // namespace

std::vector<TScanRange> EnvelopeParts(int64_t durationUs, unsigned processors) {
    if (durationUs < SplitFromUs || processors < 2)
        return {TScanRange{}};
    const int64_t middleUs = durationUs / 2 / TSoundEnvelope::BinUs * TSoundEnvelope::BinUs;
    return {TScanRange{0, middleUs}, TScanRange{middleUs}};
}

TScanEnd ScanSoundEnvelope(const TSoundSource& source, const TScanRange& range,
                           const std::atomic<bool>& cancel, const TEnvelopeBins& onBins,
                           std::string& errorText) {
    TSoundDecoder decoder;
    if (!decoder.Open(source, TPcmFormat{AV_SAMPLE_FMT_FLT, 0, 0})) {
        errorText = decoder.LastError();
        return TScanEnd::Failed;
    }
    if (range.FromUs > 0 && !decoder.SeekTo(range.FromUs)) {
        errorText = decoder.LastError();
        return TScanEnd::Failed;
    }
    TBinCollector collector(range, onBins);
    const TPcmFormat& format = decoder.Output();
    for (;;) {
        if (cancel.load())
            return TScanEnd::Cancelled;
        const TSoundDecoder::TRead read = decoder.Read();
        if (read == TSoundDecoder::TRead::Failed) {
            errorText = decoder.LastError();
            return TScanEnd::Failed;
        }
        if (read == TSoundDecoder::TRead::End ||
            !collector.Add(reinterpret_cast<const float*>(decoder.Samples().data()),
                           decoder.SampleFrames(), format.Channels, format.SampleRateHz,
                           decoder.SamplesUs()))
            break;
    }
    collector.Flush();
    return TScanEnd::Complete;
}

std::optional<TSoundEnvelope> ReadSoundEnvelope(const TSoundSource& source,
                                                std::string& errorText) {
    TSoundEnvelope envelope;
    if (!ScanInto(envelope, source, {TScanRange{}}, errorText))
        return std::nullopt;
    return envelope;
}

std::optional<TSoundBounds> ReadSoundBounds(const TSoundSource& source, int64_t durationUs,
                                            double levelDb, std::string& errorText) {
    if (durationUs >= 3 * EdgeUs) {
        const int64_t tailFromUs =
            (durationUs - EdgeUs) / TSoundEnvelope::BinUs * TSoundEnvelope::BinUs;
        TSoundEnvelope edges;
        std::string edgeError;
        // The bins between stay silent: bounds in both edges are the whole sound's.
        if (ScanInto(edges, source, {{0, EdgeUs}, {tailFromUs}}, edgeError))
            if (const std::optional<TSoundBounds> bounds = edges.SoundAbove(levelDb);
                bounds && bounds->StartUs < EdgeUs && bounds->EndUs > tailFromUs)
                return bounds;
    }
    const std::optional<TSoundEnvelope> whole = ReadSoundEnvelope(source, errorText);
    return whole ? whole->SoundAbove(levelDb) : std::nullopt;
}
