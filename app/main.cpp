// Starts the Soundpick window.
#include "Application.h"
#include "MainFrm.h"
#include "PreviewWindow.h"

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    SetPreviewWindowFactory(TPreviewWindowQt::Factory());
    TfrmMain frmMain;
    frmMain.show();
    return application.exec();
}
