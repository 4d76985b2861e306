// Helpers shared by the two windows.
#include "UtilFuncs.h"

#include "engine/EngineErrors.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QSettings>
#include <QStorageInfo>

namespace {

TMessageBoxHook& MessageBoxHook() {
    static TMessageBoxHook hook;
    return hook;
}

TQuestionHook& QuestionHook() {
    static TQuestionHook hook;
    return hook;
}

// The question being asked, so that it can be dismissed.
struct TQuestionAsked {
    bool Asking = false;
    bool Dismissed = false;
    QMessageBox* Box = nullptr; // none while a hook answers
};

TQuestionAsked& QuestionAsked() {
    static TQuestionAsked asked;
    return asked;
}

TShellOpenHook& ShellOpenHook() {
    static TShellOpenHook hook;
    return hook;
}

std::function<bool(const QString&)>& OpticalDriveTest() {
    static std::function<bool(const QString&)> test;
    return test;
}

QMessageBox::Icon ToQtIcon(TBoxIcon icon) {
    switch (icon) {
    case TBoxIcon::Information:
        return QMessageBox::Information;
    case TBoxIcon::Warning:
        return QMessageBox::Warning;
    case TBoxIcon::Error:
        break;
    }
    return QMessageBox::Critical;
}

} // namespace

void SetMessageBoxHook(TMessageBoxHook hook) {
    MessageBoxHook() = std::move(hook);
}

void ShowMessageBox(TBoxIcon icon, const QString& text) {
    if (MessageBoxHook()) {
        MessageBoxHook()(icon, AppTitle, text);
        return;
    }
    QMessageBox box(ToQtIcon(icon), AppTitle, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void SetQuestionHook(TQuestionHook hook) {
    QuestionHook() = std::move(hook);
}

bool AskQuestion(const QString& text) {
    TQuestionAsked& asked = QuestionAsked();
    asked = {true, false, nullptr};
    bool yes = false;
    if (QuestionHook()) {
        yes = QuestionHook()(AppTitle, text);
    } else {
        QMessageBox box(QMessageBox::Question, AppTitle, text, QMessageBox::Yes | QMessageBox::No,
                        QApplication::activeWindow());
        box.setDefaultButton(QMessageBox::No);
        asked.Box = &box;
        yes = box.exec() == QMessageBox::Yes;
    }
    const bool dismissed = asked.Dismissed;
    asked = {};
    return yes && !dismissed;
}

void DismissQuestion() {
    TQuestionAsked& asked = QuestionAsked();
    if (!asked.Asking)
        return;
    asked.Dismissed = true;
    if (asked.Box)
        asked.Box->done(QMessageBox::No);
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void ShowException(const std::exception& error) {
    const bool fromEngine = dynamic_cast<const FFmpegException*>(&error) != nullptr;
    ShowMessageBox(fromEngine ? TBoxIcon::Warning : TBoxIcon::Error,
                   ErrorBoxText(QString::fromUtf8(error.what())));
}

void SetShellOpenHook(TShellOpenHook hook) {
    ShellOpenHook() = std::move(hook);
}

bool ShellOpen(const QUrl& url) {
    if (ShellOpenHook())
        return ShellOpenHook()(url);
    return QDesktopServices::openUrl(url);
}

QString TimeText(int64_t timeUs) {
    return QString::asprintf("%d.%.3d", static_cast<int>(timeUs / 1000000),
                             static_cast<int>(timeUs / 1000 % 1000));
}

std::unique_ptr<QSettings> UserSettings() {
    return std::make_unique<QSettings>(AppTitle, AppTitle);
}

QString ClockText(int64_t timeMs) {
    const int64_t seconds = timeMs > 0 ? timeMs / 1000 : 0;
    const int64_t hours = seconds / 3600;
    if (hours > 0)
        return QString::asprintf("%lld:%02lld:%02lld", static_cast<long long>(hours),
                                 static_cast<long long>(seconds / 60 % 60),
                                 static_cast<long long>(seconds % 60));
    return QString::asprintf("%lld:%02lld", static_cast<long long>(seconds / 60),
                             static_cast<long long>(seconds % 60));
}

QString ClockMsText(int64_t timeUs) {
    const int64_t timeMs = timeUs > 0 ? timeUs / 1000 : 0;
    return ClockText(timeMs) + QString::asprintf(".%03d", static_cast<int>(timeMs % 1000));
}

QString ExecutableFolder() {
    return QCoreApplication::applicationDirPath();
}

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

bool IsOpticalDriveFolder(const QString& folder) {
    // A copy: the answer may be asked on a worker while a test sets the next one.
    if (const auto test = OpticalDriveTest())
        return test(folder);
    const QStorageInfo storage(folder);
    if (!storage.isValid())
        return false;
    const QByteArray type = storage.fileSystemType().toLower();
    return type == "iso9660" || type == "udf" || storage.device().startsWith("/dev/sr");
}

void SetOpticalDriveTest(std::function<bool(const QString& folder)> test) {
    OpticalDriveTest() = std::move(test);
}

std::filesystem::path ToPath(const QString& fileName) {
    return std::filesystem::path(fileName.toStdString());
}

QString FromPath(const std::filesystem::path& fileName) {
    return QString::fromStdString(fileName.string());
}

namespace {

// Description and pattern list pairs. "All Files" is "*": "*.*" would hide the many files on
// this system whose names have no extension.
// Cue sheets are offered too: one adds its tracks.
constexpr const char* OpenFileFilterText =
    "Video/Audio|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;"
    "*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;"
    "*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;*.OPUS;*.CUE;|"
    "Video Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;"
    "*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;|"
    "Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;"
    "*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;*.OPUS;*.CUE;|"
    "All Files|*";

// "*.AVI" -> "*.[aA][vV][iI]": file systems here tell case apart, the dialog's patterns must not.
QString AnyCasePattern(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter())
            result += u'[' + c.toLower() + c.toUpper() + u']';
        else
            result += c;
    }
    return result;
}

} // namespace

QStringList OpenFileFilters() {
    const QStringList parts = QString::fromLatin1(OpenFileFilterText).split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(u';', Qt::SkipEmptyParts))
            patterns << AnyCasePattern(pattern);
        filters << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}
