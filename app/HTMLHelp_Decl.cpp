// The help pages beside the program, opened with the desktop's browser.
#include "HTMLHelp_Decl.h"

#include "UtilFuncs.h"

#include <QFileInfo>

#include <stdexcept>

QString HelpTopicFile(const QString& programFolder, const QString& topic) {
    return WithTrailingSlash(programFolder) + QStringLiteral("help/") + topic;
}

void ShowHelpTopic(const QString& programFolder, const QString& topic) {
    const QString page = HelpTopicFile(programFolder, topic);
    if (!QFileInfo(page).isFile())
        throw std::runtime_error(("Help file not found: " + page).toStdString());
    if (!ShellOpen(QUrl::fromLocalFile(page)))
        throw std::runtime_error(
            ("The browser could not show the help file " + page).toStdString());
}
