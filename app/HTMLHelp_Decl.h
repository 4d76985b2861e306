// The help: HTML pages shipped in the folder "help" beside the program, shown in the user's
// browser.
#ifndef SOUNDPICK_APP_HTMLHELP_DECL_H
#define SOUNDPICK_APP_HTMLHELP_DECL_H

#include <QString>

// The topic that the help commands show.
inline const QString HelpIntroductionTopic = QStringLiteral("introduction.htm");

// The full name of a topic's page for a program folder.
QString HelpTopicFile(const QString& programFolder, const QString& topic);

// Opens the topic's page in the browser. Throws std::runtime_error, for the error box, when
// the page is missing or the desktop cannot open it.
void ShowHelpTopic(const QString& programFolder, const QString& topic);

#endif
