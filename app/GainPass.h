// The album pass of ReplayGain after a run of the window: the outputs written with gain
// placeholders are measured by album on a worker, never on the window thread.
#ifndef SOUNDPICK_APP_GAINPASS_H
#define SOUNDPICK_APP_GAINPASS_H

#include "component/GainAlbums.h"
#include "component/OptionRecords.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <vector>

class TGainPass {
public:
    using TWritten = std::vector<TGainAlbums::TWritten>;

    // done is called on the thread of context (the window's) when a pass has ended.
    TGainPass(QObject* context, std::function<void(const TWritten&)> done);
    // Waits for a pass under way: the files it writes in place are left whole.
    ~TGainPass();
    TGainPass(const TGainPass&) = delete;
    TGainPass& operator=(const TGainPass&) = delete;

    // Notes an output written with gain placeholders from input.
    void Add(const TPathFileName& input, const TPathFileName& output);
    // Starts the pass over the outputs noted since the last; false (and no call of done) when
    // there are none.
    bool Start();
    bool Running() const { return Worker != nullptr; }

private:
    QObject* Context;
    std::function<void(const TWritten&)> Done;
    TGainAlbums Albums;
    int Noted = 0;
    TWritten Written; // the worker's until it has finished
    std::unique_ptr<QThread> Worker;
};

#endif
