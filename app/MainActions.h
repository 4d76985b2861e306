// The main window's commands: the toolbar buttons (whose enabled state is the window's state),
// the main menu's items and the task list's pop-up menu, with their captions, pictures and keys.
#ifndef SOUNDPICK_APP_MAINACTIONS_H
#define SOUNDPICK_APP_MAINACTIONS_H

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

class TMainActions {
public:
    // Creates every action as a child of the window.
    explicit TMainActions(QWidget* window);

    // Fills the toolbar, the menu bar and the pop-up menu.
    void BuildToolBar(QToolBar* toolBar) const;
    void BuildMainMenu(QMenuBar* menuBar) const;
    void BuildPopupMenu(QMenu* popup) const;

    // Toolbar buttons.
    QAction* btnAdd;
    QAction* btnAddFolder;
    QAction* btnRemove;
    QAction* btnClear;
    QAction* btnStart;
    QAction* btnStop;
    QAction* btnPause;
    QAction* btnResume;
    QAction* ToolButtonSettings;
    QAction* ToolButtonHelp;

    // Main menu items: they call the buttons' handlers and follow the buttons' state.
    QAction* menu1;         // &Add Task...
    QAction* menuAddFolder; // Add &Folder…
    QAction* menu2;         // &Remove Task...
    QAction* menu3;         // &Clear Task...
    QAction* menu4;         // &Start Convertion
    QAction* menu5;         // Sto&p
    QAction* menu6;         // P&ause
    QAction* menu7;         // Resu&me
    QAction* menu8;         // &Settings... (hidden)
    QAction* menu9;         // &Exit
    QAction* HelpContent1;
    QAction* MoreRatedSoftware1;

    // The list's pop-up menu (PopupMenu1).
    QAction* popAdd;
    QAction* popRemove;
    QAction* popClear;
    QAction* mnuPlay;
    QAction* mnuOpenFolder;
    QAction* popRunAgain; // the selected stopped or failed task
};

#endif
