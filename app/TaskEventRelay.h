// Carries the conversion component's start, progress and terminate events from the threads that
// raise
// them to the window's thread, keeping the order in which they were raised. Progress is bounded:
// a task has at most one progress update pending, which always carries its latest values.
#ifndef SOUNDPICK_APP_TASKEVENTRELAY_H
#define SOUNDPICK_APP_TASKEVENTRELAY_H

#include "component/TaskResult.h"
#include "engine/ProgressReport.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class TTaskEventRelay : public QObject {
    Q_OBJECT
public:
    using TProgressHandler = std::function<void(int AIndex, const TProgressInfo& progress)>;
    using TTerminateHandler =
        std::function<void(int AIndex, TTaskEnd AEnd, const std::string& AMessage)>;
    using TStartHandler = std::function<void(int AIndex, const QString& outputFile)>;

    // The handlers run on the window's thread.
    TTaskEventRelay(TProgressHandler onProgress, TTerminateHandler onTerminate,
                    TStartHandler onStart, QObject* parent = nullptr);

    // Any thread.
    void PostStart(int AIndex, const QString& outputFile);
    void PostProgress(int AIndex, const TProgressInfo& progress);
    void PostTerminate(int AIndex, TTaskEnd AEnd, const std::string& AMessage);

    // From now on no handler runs, for events pending or still to come.
    void Detach() { Detached = true; }

private:
    void DeliverProgress(int AIndex);

    TProgressHandler OnProgress;
    TTerminateHandler OnTerminate;
    TStartHandler OnStart;
    std::atomic<bool> Detached{false};
    std::mutex PendingLock; // guards PendingProgress
    std::map<int, TProgressInfo> PendingProgress;
};

#endif
