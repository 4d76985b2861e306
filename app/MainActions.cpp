// The main window's commands.
#include "MainActions.h"

namespace {

QAction* MakeAction(QWidget* window, const char* objectName, const QString& caption,
                    const QString& iconName = {}, const QKeySequence& keys = {}) {
    auto* action = new QAction(caption, window);
    action->setObjectName(QString::fromLatin1(objectName));
    if (!iconName.isEmpty())
        action->setIcon(QIcon(QStringLiteral(":/icons/") + iconName + QStringLiteral(".svg")));
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    window->addAction(action);
    return action;
}

} // namespace

TMainActions::TMainActions(QWidget* window) {
    // The toolbar buttons carry no keys: the menu items below do (the window keeps them in the
    // buttons' state), and the menus are reached with Alt+F and Alt+H.
    btnAdd = MakeAction(window, "btnAdd", QStringLiteral("Add Task"), QStringLiteral("add"));
    btnAddFolder = MakeAction(window, "btnAddFolder", QStringLiteral("Add Folder"),
                              QStringLiteral("addfolder"));
    btnRemove = MakeAction(window, "btnRemove", QStringLiteral("Remove"), QStringLiteral("remove"));
    btnClear =
        MakeAction(window, "btnClear", QStringLiteral("Clear Task"), QStringLiteral("clear"));
    btnStart = MakeAction(window, "btnStart", QStringLiteral("Start"), QStringLiteral("start"));
    btnStop = MakeAction(window, "btnStop", QStringLiteral("Stop"), QStringLiteral("stop"));
    btnPause = MakeAction(window, "btnPause", QStringLiteral("Pause"), QStringLiteral("pause"));
    btnResume = MakeAction(window, "btnResume", QStringLiteral("Resume"), QStringLiteral("resume"));
    ToolButtonSettings = MakeAction(window, "ToolButtonSettings", QStringLiteral("Settings"),
                                    QStringLiteral("settings"));
    ToolButtonSettings->setVisible(false);
    ToolButtonHelp =
        MakeAction(window, "ToolButtonHelp", QStringLiteral("Help"), QStringLiteral("help"));

    menu1 = MakeAction(window, "menu1", QStringLiteral("&Add Task..."), QStringLiteral("add"),
                       QKeySequence(Qt::CTRL | Qt::Key_O));
    menuAddFolder =
        MakeAction(window, "menuAddFolder", QStringLiteral("Add &Folder…"),
                   QStringLiteral("addfolder"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    menu2 = MakeAction(window, "menu2", QStringLiteral("&Remove Task..."), QStringLiteral("remove"),
                       QKeySequence(Qt::Key_Delete));
    menu3 = MakeAction(window, "menu3", QStringLiteral("&Clear Task..."), QStringLiteral("clear"),
                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete));
    menu4 = MakeAction(window, "menu4", QStringLiteral("&Start Convertion"),
                       QStringLiteral("start"), QKeySequence(Qt::Key_F5));
    menu5 = MakeAction(window, "menu5", QStringLiteral("Sto&p"), QStringLiteral("stop"),
                       QKeySequence(Qt::SHIFT | Qt::Key_F5));
    menu6 = MakeAction(window, "menu6", QStringLiteral("P&ause"), QStringLiteral("pause"),
                       QKeySequence(Qt::Key_F6));
    menu7 = MakeAction(window, "menu7", QStringLiteral("Resu&me"), QStringLiteral("resume"),
                       QKeySequence(Qt::Key_F7));
    menu8 = MakeAction(window, "menu8", QStringLiteral("&Settings..."));
    menu8->setVisible(false);
    menu9 = MakeAction(window, "menu9", QStringLiteral("&Exit"), {},
                       QKeySequence(Qt::CTRL | Qt::Key_Q));
    HelpContent1 = MakeAction(window, "HelpContent1", QStringLiteral("Help Content..."),
                              QStringLiteral("help"), QKeySequence(Qt::Key_F1));
    MoreRatedSoftware1 =
        MakeAction(window, "MoreRatedSoftware1", QStringLiteral("More Free Software..."));

    popAdd = MakeAction(window, "popAdd", QStringLiteral("Add"));
    popRemove = MakeAction(window, "popRemove", QStringLiteral("Remove"));
    popClear = MakeAction(window, "popClear", QStringLiteral("Clear"));
    mnuPlay = MakeAction(window, "mnuPlay", QStringLiteral("Play Output"), {},
                         QKeySequence(Qt::CTRL | Qt::Key_P));
    mnuOpenFolder = MakeAction(window, "mnuOpenFolder", QStringLiteral("Open Folder"), {},
                               QKeySequence(Qt::CTRL | Qt::Key_L));
    popRunAgain = MakeAction(window, "popRunAgain", QStringLiteral("Run Again"), {},
                             QKeySequence(Qt::CTRL | Qt::Key_R));
}

void TMainActions::BuildToolBar(QToolBar* toolBar) const {
    toolBar->addAction(btnAdd);
    toolBar->addAction(btnAddFolder);
    toolBar->addSeparator();
    toolBar->addAction(btnRemove);
    toolBar->addAction(btnClear);
    toolBar->addSeparator();
    toolBar->addAction(btnStart);
    toolBar->addAction(btnStop);
    toolBar->addSeparator();
    toolBar->addAction(btnPause);
    toolBar->addAction(btnResume);
    toolBar->addSeparator();
    toolBar->addAction(ToolButtonSettings);
    toolBar->addAction(ToolButtonHelp);
}

void TMainActions::BuildMainMenu(QMenuBar* menuBar) const {
    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    file->addActions({menu1, menuAddFolder, menu2, menu3});
    file->addSeparator();
    file->addActions({menu4, menu5});
    file->addSeparator();
    file->addActions({menu6, menu7});
    file->addSeparator()->setVisible(false); // belongs to the hidden "&Settings..."
    file->addAction(menu8);
    file->addSeparator();
    file->addAction(menu9);
    QMenu* help = menuBar->addMenu(QStringLiteral("&Help"));
    help->addAction(HelpContent1);
    help->addSeparator();
    help->addAction(MoreRatedSoftware1);
}

void TMainActions::BuildPopupMenu(QMenu* popup) const {
    popup->setObjectName(QStringLiteral("PopupMenu1"));
    popup->addActions({popAdd, popRemove, popClear});
    popup->addSeparator();
    popup->addAction(popRunAgain);
    popup->addSeparator();
    popup->addActions({mnuPlay, mnuOpenFolder});
}
