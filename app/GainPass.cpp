// The album pass of ReplayGain (see GainPass.h).
#include "GainPass.h"

#include "ffbind/MainThread.h"

TGainPass::TGainPass(QObject* context, std::function<void(const TWritten&)> done)
    : Context(context), Done(std::move(done)) {}

TGainPass::~TGainPass() {
    // The pass may be handing a log line to this thread meanwhile: it is served while waited for.
    if (!Worker)
        return;
    WaitServingMainThread([this] { return Worker->isFinished(); });
    Worker->wait();
}

void TGainPass::Add(const TPathFileName& input, const TPathFileName& output) {
    Albums.Add(input, output);
    ++Noted;
}

bool TGainPass::Start() {
    if (Noted == 0 || Worker)
        return false;
    Noted = 0;
    Worker.reset(QThread::create([this] { Written = Albums.WriteAll(); }));
    // Handed over to the context's thread once the worker is done with Written.
    QObject::connect(Worker.get(), &QThread::finished, Context, [this] {
        Worker->wait();
        Worker.release()->deleteLater(); // this is its signal's call
        const TWritten written = std::move(Written);
        Written.clear();
        Done(written);
    });
    Worker->start();
    return true;
}
