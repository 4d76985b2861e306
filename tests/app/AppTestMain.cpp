// Runs the window's test suites inside the program's own application object (its title, its
// main-thread wake-up and its error box), with boxes and the desktop recorded instead of shown
// and the user's settings kept in a temporary folder. The first argument may name one suite.
#include "AppTestSupport.h"

#include "Application.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

QObject* NewMainWindowTest();
QObject* NewOptionDialogTest();
QObject* NewConversionFlowTest();
QObject* NewSoundTrackTest();

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    TDesktopRecorder::Install();

    const std::pair<const char*, QObject* (*)()> suites[] = {
        {"MainWindowTest", NewMainWindowTest},
        {"OptionDialogTest", NewOptionDialogTest},
        {"ConversionFlowTest", NewConversionFlowTest},
        {"SoundTrackTest", NewSoundTrackTest}};
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    QStringList arguments{QString::fromLocal8Bit(argv[0])};
    for (int i = only ? 2 : 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    int failures = 0;
    for (const auto& [name, make] : suites) {
        if (only && std::strcmp(only, name) != 0)
            continue;
        std::unique_ptr<QObject> suite(make());
        failures += QTest::qExec(suite.get(), arguments);
    }
    return failures;
}
