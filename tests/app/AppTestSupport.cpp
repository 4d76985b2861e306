// What the window's tests share.
#include "AppTestSupport.h"

#include "MainFrm.h"
#include "OptionFrm.h"
#include "support/TestMedia.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

std::vector<TShownBox> TDesktopRecorder::Boxes;
std::vector<QString> TDesktopRecorder::Questions;
std::vector<QUrl> TDesktopRecorder::Opened;
bool TDesktopRecorder::AnswerYes = true;
bool TDesktopRecorder::OpenWorks = true;
std::function<void()> TDesktopRecorder::WhileAsked;

void TDesktopRecorder::Install() {
    SetMessageBoxHook([](TBoxIcon icon, const QString& caption, const QString& text) {
        Boxes.push_back({icon, caption, text});
    });
    SetQuestionHook([](const QString&, const QString& text) {
        Questions.push_back(text);
        if (WhileAsked)
            WhileAsked();
        return AnswerYes;
    });
    SetShellOpenHook([](const QUrl& url) {
        Opened.push_back(url);
        return OpenWorks;
    });
}

void TDesktopRecorder::Reset() {
    Boxes.clear();
    Questions.clear();
    Opened.clear();
    AnswerYes = OpenWorks = true;
    WhileAsked = nullptr;
}

void ResetSettings() {
    UserSettings()->clear();
}

TDialogDriver::TDialogDriver(TfrmMain& window) : Window(window) {
    connect(&Timer, &QTimer::timeout, this, &TDialogDriver::Poll);
    Timer.start(10);
}

void TDialogDriver::Poll() {
    TfrmOption* dialog = Window.OptionForm();
    if (Actions.empty() || !dialog || !dialog->isVisible() ||
        QApplication::activeModalWidget() != dialog)
        return;
    auto action = Actions.front();
    Actions.pop_front();
    action(*dialog);
}

bool AddingEnds(TfrmMain& window) {
    return QTest::qWaitFor([&window] { return !window.Adding(); }, 120000);
}

void ChooseCaption(TfrmOption& dialog, const QString& caption) {
    for (QRadioButton* button : dialog.findChildren<QRadioButton*>()) {
        if (button->text() == caption) {
            button->click();
            return;
        }
    }
    qFatal("no choice %s", qPrintable(caption));
}

void ClickButton(QWidget& parent, const char* objectName) {
    auto* button = parent.findChild<QAbstractButton*>(QString::fromLatin1(objectName));
    if (!button)
        qFatal("no button %s", objectName);
    button->click();
}

QString PlannedOutputText(TfrmOption& dialog) {
    const auto* label = dialog.findChild<QLabel*>(QStringLiteral("lblOutputExtension"));
    (void)QTest::qWaitFor(
        [label] { return !label->text().startsWith(QStringLiteral("Output file: …")); }, 120000);
    return label->text();
}

QString FixturePath(const QString& name) {
    return QString::fromStdString(Fixture(name.toStdString()).string());
}

QString ScreenshotFolder() {
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    return QDir(folder).absolutePath();
}

void SaveScreenshot(QWidget& widget, const QString& name) {
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const QString shot = ScreenshotFolder() + u'/' + name;
    QVERIFY(widget.grab().save(shot));
    qInfo("screenshot: %s", qPrintable(shot));
}

bool RunFfmpeg(const QStringList& arguments, const QString& standardOutputFile) {
    QProcess process;
    if (!standardOutputFile.isEmpty())
        process.setStandardOutputFile(standardOutputFile);
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"} + arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString ProbeText(const QString& file, const QString& entry, const QString& stream) {
    return QString::fromStdString(
        ProbeValue(file.toStdString(), entry.toStdString(), stream.toStdString()));
}
