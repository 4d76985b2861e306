// What the window's tests share: recorders that stand in for message boxes and the desktop,
// a driver that answers the options dialog, fixture copies and the screenshot folder.
#ifndef SOUNDPICK_TESTS_APP_APPTESTSUPPORT_H
#define SOUNDPICK_TESTS_APP_APPTESTSUPPORT_H

#include "UtilFuncs.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <functional>
#include <vector>

class TfrmMain;
class TfrmOption;

struct TShownBox {
    TBoxIcon Icon;
    QString Caption;
    QString Text;
};

// Every box, question and desktop request since the last Reset; questions get AnswerYes (after
// WhileAsked, when set, has run as if the user took that long), desktop requests succeed with
// OpenWorks.
struct TDesktopRecorder {
    static std::vector<TShownBox> Boxes;
    static std::vector<QString> Questions;
    static std::vector<QUrl> Opened;
    static bool AnswerYes;
    static bool OpenWorks;
    static std::function<void()> WhileAsked;
    static void Install();
    static void Reset();
};

// Empties the user's settings (kept in a temporary folder for the whole test run).
void ResetSettings();

// Answers the options dialog each time it shows, with the next action of its list.
class TDialogDriver : public QObject {
    Q_OBJECT
public:
    explicit TDialogDriver(TfrmMain& window);
    void Then(std::function<void(TfrmOption& dialog)> action) { Actions.push_back(action); }
    bool Done() const { return Actions.empty(); }

private:
    void Poll();
    TfrmMain& Window;
    std::deque<std::function<void(TfrmOption&)>> Actions;
    QTimer Timer;
};

// Waits until the window has added what it was given (its files are read on a thread of
// their own); false when it is still adding after a generous while.
bool AddingEnds(TfrmMain& window);

// Dialog actions.
void ChooseCaption(TfrmOption& dialog, const QString& caption); // a radio button by its caption
void ClickButton(QWidget& parent, const char* objectName);
// The dialog's "Output file:" text once its names are planned (on a worker of the dialog's).
QString PlannedOutputText(TfrmOption& dialog);

// The fixture folder (made by the suite's fixture step).
QString FixturePath(const QString& name);
// The folder for the tests' screenshots in the build tree.
QString ScreenshotFolder();
// Saves a shown widget's picture under the name in that folder (a test failure when it cannot).
void SaveScreenshot(QWidget& widget, const QString& name);
// Runs the ffmpeg tool with the arguments; true on success. With a standard output file the
// tool writes to "pipe:1", a stream it cannot seek back in.
bool RunFfmpeg(const QStringList& arguments, const QString& standardOutputFile = {});
// One value of ffprobe's report for a file ("format=duration", "stream=codec_name").
QString ProbeText(const QString& file, const QString& entry, const QString& stream = {});

#endif
