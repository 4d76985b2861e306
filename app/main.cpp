// Starts the Soundpick window.
#include "Application.h"
#include "MainFrm.h"
#include "PreviewWindow.h"

#include <sys/resource.h>

namespace {

// A long task list holds an input and an output per task until they run; the soft limit on
// file handles (often 1024) would refuse files long before the hard one.
void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv) {
    RaiseOpenFileLimit();
    TApplication application(argc, argv);
    SetPreviewWindowFactory(TPreviewWindowQt::Factory());
    TfrmMain frmMain;
    frmMain.show();
    return application.exec();
}
