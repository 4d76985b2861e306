// The program's application object: its title, and the program-wide error box for every
// exception that reaches the event loop.
#ifndef SOUNDPICK_APP_APPLICATION_H
#define SOUNDPICK_APP_APPLICATION_H

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;
};

#endif
