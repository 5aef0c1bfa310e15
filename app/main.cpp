#include <QApplication>
#include <cstdio>

#include "app/main_window.h"
#include "platform/user_dialogs.h"

namespace {

// Without a display the toolkit would abort with a long plugin message; say plainly what is
// missing.
bool DisplayMissing() {
#if defined(Q_OS_LINUX)
    return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
           qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    if (DisplayMissing()) {
        std::fputs(
            "rqm5-updater: no display found (DISPLAY is not set); run it on a desktop, under Xvfb, "
            "or with QT_QPA_PLATFORM=offscreen.\n",
            stderr);
        return 1;
    }
    QApplication application(argc, argv);
    rqm5::QtUserDialogs dialogs;
    rqm5::FrmMain window(dialogs);
    if (!window.startedCleanly()) return 1;
    window.show();
    return application.exec();
}
