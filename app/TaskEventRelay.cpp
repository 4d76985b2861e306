// Carries the component's events to the window's thread.
#include "TaskEventRelay.h"

TTaskEventRelay::TTaskEventRelay(TProgressHandler onProgress, TTerminateHandler onTerminate,
                                 TStartHandler onStart, QObject* parent)
    : QObject(parent), OnProgress(std::move(onProgress)), OnTerminate(std::move(onTerminate)),
      OnStart(std::move(onStart)) {}

void TTaskEventRelay::PostStart(int AIndex, const QString& outputFile) {
    if (Detached)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, AIndex, outputFile] {
            if (!Detached)
                OnStart(AIndex, outputFile);
        },
        Qt::QueuedConnection);
}

void TTaskEventRelay::PostProgress(int AIndex, const TProgressInfo& progress) {
    if (Detached)
        return;
    {
        std::lock_guard<std::mutex> guard(PendingLock);
        auto [entry, isNew] = PendingProgress.insert_or_assign(AIndex, progress);
        if (!isNew)
            return; // the pending update will carry these values
    }
    QMetaObject::invokeMethod(
        this, [this, AIndex] { DeliverProgress(AIndex); }, Qt::QueuedConnection);
}

void TTaskEventRelay::PostTerminate(int AIndex, TTaskEnd AEnd, const std::string& AMessage) {
    if (Detached)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, AIndex, AEnd, AMessage] {
            if (!Detached)
                OnTerminate(AIndex, AEnd, AMessage);
        },
        Qt::QueuedConnection);
}

void TTaskEventRelay::DeliverProgress(int AIndex) {
    TProgressInfo progress;
    {
        std::lock_guard<std::mutex> guard(PendingLock);
        auto entry = PendingProgress.find(AIndex);
        if (entry == PendingProgress.end())
            return;
        progress = entry->second;
        PendingProgress.erase(entry);
    }
    if (!Detached)
        OnProgress(AIndex, progress);
}
