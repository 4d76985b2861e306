// Playing a selection of the options dialog's input.
#include "SelectionPlayer.h"

#include "PcmQueue.h"

#include "probe/SoundRange.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>

namespace {

constexpr int PlayRateHz = 48000;
constexpr qint64 QueueBytes = PlayRateHz * 2 * 2; // a second of stereo sound

// Decodes [fromUs, toUs) into the queue until the end, a failure or the player's stop.
void Decode(const TSoundSource& source, const TPcmFormat& format, int64_t fromUs, int64_t toUs,
            TPcmQueue& queue, const std::atomic<bool>& cancel) {
    const auto push = [&](const uint8_t* bytes, std::size_t sizeBytes) {
        return !cancel.load() &&
               queue.Push(reinterpret_cast<const char*>(bytes), qint64(sizeBytes));
    };
    std::string error;
    ReadSoundRange(source, format, fromUs, toUs, push, error);
    queue.Finish();
}

} // namespace

TSelectionPlayer::TSelectionPlayer(QObject* parent) : QObject(parent) {}

TSelectionPlayer::~TSelectionPlayer() {
    Stop();
}

TSelectionPlayer::TStart TSelectionPlayer::Play(const TSoundSource& source, int channels,
                                                int64_t fromUs, int64_t toUs) {
    Stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return TStart::NoOutput;
    QAudioFormat format;
    format.setSampleRate(PlayRateHz);
    const int playChannels = std::clamp(channels, 1, 2);
    format.setChannelCount(playChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    Queue = std::make_unique<TPcmQueue>(QueueBytes);
    Queue->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    Cancel = false;
    const TPcmFormat pcm{AV_SAMPLE_FMT_S16, PlayRateHz, playChannels};
    Decoding = std::make_unique<TServedThread>("play decode", [this, source, pcm, fromUs, toUs] {
        Decode(source, pcm, fromUs, toUs, *Queue, Cancel);
    });
    Decoding->Start();
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
    // The decoder may be handing a library log line (a damaged file's) to this thread.
    Decoding.reset();
    if (Sink) {
        Sink->disconnect(this);
        Sink->stop();
    }
    Sink.reset();
    Queue.reset();
    if (wasPlaying)
        emit stopped();
}
