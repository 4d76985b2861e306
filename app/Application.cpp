// The program's application object.
#include "Application.h"

#include "UtilFuncs.h"

#include "ffbind/MainThread.h"

#include <QIcon>

// The pictures live in the window library; a static library's resources are registered by hand.
static void InitResources() {
    Q_INIT_RESOURCE(soundpick);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    InitResources();
    setApplicationName(AppTitle);
    setApplicationDisplayName(AppTitle);
    setDesktopFileName(QStringLiteral("soundpick"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/soundpick.svg")));
    // Work handed to the main thread (log lines, previews) runs on this event loop.
    SetMainThreadWakeup([this] {
        QMetaObject::invokeMethod(
            this, [] { CheckSynchronize(); }, Qt::QueuedConnection);
    });
}

TApplication::~TApplication() {
    SetMainThreadWakeup(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    }
    return false;
}
