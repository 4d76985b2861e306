// Helpers shared by the two windows: the application title, the program-wide message boxes and
// questions (replaceable, so that tests never block on one), opening files and folders with the
// desktop, the user's settings, time texts and the optical-drive test for folders.
#ifndef SOUNDPICK_APP_UTILFUNCS_H
#define SOUNDPICK_APP_UTILFUNCS_H

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>

class QSettings;

// The application title: caption of every message box and the settings folder's name.
inline const QString AppTitle = QStringLiteral("Soundpick");

enum class TBoxIcon { Information, Warning, Error };

// Receives every box instead of the desktop when set; an empty hook restores real boxes.
using TMessageBoxHook =
    std::function<void(TBoxIcon icon, const QString& caption, const QString& text)>;
void SetMessageBoxHook(TMessageBoxHook hook);

// A modal box with the application title as caption and an OK button.
void ShowMessageBox(TBoxIcon icon, const QString& text);

// Receives every question instead of the desktop when set; its answer stands for the user's.
using TQuestionHook = std::function<bool(const QString& caption, const QString& text)>;
void SetQuestionHook(TQuestionHook hook);

// A modal Yes/No question with the application title as caption; true for Yes (No is the
// default answer).
bool AskQuestion(const QString& text);
// Ends the question being asked as No, for a question whose subject has gone meanwhile (the run
// it asks about has ended); nothing when none is being asked.
void DismissQuestion();

// The error box's text: a message ending in a character whose code is above that of "."
// (letters, digits, ":", "?") gets a final "."; others are shown unchanged.
QString ErrorBoxText(const QString& message);

// The program-wide error box: a warning icon for the engine's exceptions, an error icon for
// any other.
void ShowException(const std::exception& error);

// Runs a command of a window; an exception it raises is shown in the error box, so that none
// crosses the toolkit's own code.
template <class TCommand> void RunGuarded(TCommand&& command) {
    try {
        command();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

// Receives every request to open a file, folder or web page instead of the desktop when set.
using TShellOpenHook = std::function<bool(const QUrl& url)>;
void SetShellOpenHook(TShellOpenHook hook);
bool ShellOpen(const QUrl& url);

// The user's settings of this program (the choices remembered from one start to the next).
std::unique_ptr<QSettings> UserSettings();

// "%d.%.3d": whole seconds and milliseconds of a time in microseconds (12345678 -> "12.345").
QString TimeText(int64_t timeUs);

// A length for reading: "m:ss" below an hour, "h:mm:ss" from an hour on; negative reads as 0.
QString ClockText(int64_t timeMs);
// A time to the millisecond: "m:ss.mmm" below an hour, "h:mm:ss.mmm" from an hour on.
QString ClockMsText(int64_t timeUs);

// The folder of the running program, without a trailing separator.
QString ExecutableFolder();

// The text with a trailing "/" when it has none.
QString WithTrailingSlash(const QString& folder);

// File names between the window's texts and the core's paths (UTF-8 on this system).
std::filesystem::path ToPath(const QString& fileName);
QString FromPath(const std::filesystem::path& fileName);

// The open-file dialog's filters: "Video/Audio", "Video Files", "Audio Files" and "All Files",
// with patterns that match extensions in any case.
QStringList OpenFileFilters();

// True when the folder lies on an optical disc (iso9660 or udf, or a /dev/sr* device). Tests
// may replace the answer for every folder with SetOpticalDriveTest.
bool IsOpticalDriveFolder(const QString& folder);
void SetOpticalDriveTest(std::function<bool(const QString& folder)> test);

#endif
