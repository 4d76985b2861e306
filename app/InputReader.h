// The window's reading of files ahead of adding them (probes, cue sheets, the checks of a new
// task) on a thread of its own, one job after another in the order given, so that a slow or
// hung input (a network share, a pipe no one writes to) never holds the window. Each job's
// result comes back to the window's thread, in the same order.
#ifndef SOUNDPICK_APP_INPUTREADER_H
#define SOUNDPICK_APP_INPUTREADER_H

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <thread>

class TInputReader : public QObject {
    Q_OBJECT
public:
    // failed: a job that threw, on the window's thread, with what it said (its result never
    // comes).
    TInputReader(std::function<void(const std::string& what)> failed, QObject* parent = nullptr);
    // Drops the jobs not yet begun and every result to come. An idle thread is joined; one in a
    // job is left to end on its own, since nothing can interrupt a thread blocked in a file's
    // open() (a pipe without a writer, a share that does not answer): it holds what its job
    // reads, drops the result and ends when the call returns.
    ~TInputReader() override;

    // Runs read() on the reader's thread, then done(result) on the window's thread. Whatever
    // read captures must stay valid on its own (held by value or shared): the window may have
    // gone by the time it runs.
    template <class TRead, class TDone> void Read(TRead read, TDone done) {
        Post([read = std::move(read), done = std::move(done)]() mutable {
            auto result = std::make_shared<decltype(read())>(read());
            return std::function<void()>([done, result]() mutable { done(std::move(*result)); });
        });
    }
    // Drops the jobs not yet begun and the results to come (a job under way still runs).
    void Cancel();
    // Cancels, and leaves a job under way to end on its own, as the destructor does: the jobs
    // given from now on run on a fresh thread, never behind a read that may not return.
    void Abandon();
    // A job given has not come back yet.
    bool Busy() const { return Pending > 0; }

private:
    // Runs on the reader's thread; returns what then runs on the window's thread.
    using TJob = std::function<std::function<void()>()>;
    struct TShared;

    void StartThread();
    // The thread is told to end: joined when idle, else left to end after its job.
    void LetThreadGo();
    void Post(TJob job);
    void Deliver(unsigned generation, const std::function<void()>& done);
    static void Serve(const std::shared_ptr<TShared>& shared);

    std::function<void(const std::string&)> Failed;
    std::shared_ptr<TShared> Shared;
    std::thread Thread;
    int Pending = 0;         // jobs given whose result has not come back
    unsigned Generation = 0; // bumped by Cancel: older results are dropped
};

#endif
