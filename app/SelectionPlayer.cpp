// Playing a selection of the options dialog's input.
#include "SelectionPlayer.h"

#include "PcmQueue.h"

#include "probe/SoundDecoder.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <pthread.h>

namespace {

constexpr int PlayRateHz = 48000;
constexpr int PlayChannels = 2;
constexpr qint64 QueueBytes = PlayRateHz * PlayChannels * 2; // a second of sound

// Decodes [fromUs, toUs) into the queue until the end, a failure or the player's stop.
void Decode(const std::filesystem::path& fileName, const std::string& formatName, int64_t fromUs,
            int64_t toUs, TPcmQueue& queue, const std::atomic<bool>& cancel) {
    TSoundDecoder decoder;
    if (!decoder.Open(fileName, formatName,
                      TPcmFormat{AV_SAMPLE_FMT_S16, PlayRateHz, PlayChannels}) ||
        (fromUs > 0 && !decoder.SeekTo(fromUs))) {
        queue.Finish();
        return;
    }
    const int frameBytes = decoder.BytesPerFrame();
    while (!cancel.load() && decoder.Read() == TSoundDecoder::TRead::Samples) {
        const int64_t pieceUs = decoder.SamplesUs();
        const auto frameAt = [&](int64_t timeUs) {
            const double frames = static_cast<double>(timeUs - pieceUs) * PlayRateHz / 1e6;
            return static_cast<int64_t>(
                std::clamp(frames, 0.0, static_cast<double>(decoder.SampleFrames())));
        };
        // A seek lands before the time asked: what lies before it is skipped.
        const int64_t first = frameAt(fromUs);
        const int64_t last = toUs < 0 ? decoder.SampleFrames() : frameAt(toUs);
        const char* bytes = reinterpret_cast<const char*>(decoder.Samples().data());
        if (last > first && !queue.Push(bytes + first * frameBytes, (last - first) * frameBytes))
            return;
        if (last < decoder.SampleFrames())
            break;
    }
    queue.Finish();
}

} // namespace

TSelectionPlayer::TSelectionPlayer(QObject* parent) : QObject(parent) {}

TSelectionPlayer::~TSelectionPlayer() {
    Stop();
}

TSelectionPlayer::TStart TSelectionPlayer::Play(const std::filesystem::path& fileName,
                                                const std::string& formatName, int64_t fromUs,
                                                int64_t toUs) {
    Stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return TStart::NoOutput;
    QAudioFormat format;
    format.setSampleRate(PlayRateHz);
    format.setChannelCount(PlayChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    Queue = std::make_unique<TPcmQueue>(QueueBytes);
    Queue->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    Cancel = false;
    Decoding = std::thread([this, fileName, formatName, fromUs, toUs] {
        pthread_setname_np(pthread_self(), "play decode");
        Decode(fileName, formatName, fromUs, toUs, *Queue, Cancel);
    });
    Sink = std::make_unique<QAudioSink>(device, format);
    connect(Sink.get(), &QAudioSink::stateChanged, this, &TSelectionPlayer::SinkStateChanged);
    Sink->start(Queue.get());
    if (Sink->error() != QAudio::NoError) {
        Stop();
        return TStart::NoOutput;
    }
    return TStart::Playing;
}

// The sink idles when the queue runs dry: the end once the worker has finished it. The sink is
// let go after its signal has returned.
void TSelectionPlayer::SinkStateChanged() {
    if (!Sink)
        return;
    const bool ended = Sink->state() == QAudio::StoppedState ||
                       (Sink->state() == QAudio::IdleState && Queue->atEnd());
    if (ended)
        QMetaObject::invokeMethod(
            this,
            [this, sink = Sink.get()] {
                if (Sink.get() == sink)
                    Stop();
            },
            Qt::QueuedConnection);
}

void TSelectionPlayer::Stop() {
    const bool wasPlaying = Sink != nullptr;
    Cancel = true;
    if (Queue)
        Queue->Abort();
    if (Decoding.joinable())
        Decoding.join();
    if (Sink) {
        Sink->disconnect(this);
        Sink->stop();
    }
    Sink.reset();
    Queue.reset();
    if (wasPlaying)
        emit stopped();
}
