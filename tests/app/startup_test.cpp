#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

// Started without any display, the program says so in one line instead of the toolkit's abort.
TEST(UpdaterProgramTest, WithoutADisplayItExplainsInOneLineAndFails) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("DISPLAY");
    environment.insert("WAYLAND_DISPLAY", "");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(RQM5_UPDATER_PATH, QStringList());
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(program.readAllStandardError()),
              "rqm5-updater: no display found (DISPLAY is not set); run it on a desktop, under "
              "Xvfb, or with QT_QPA_PLATFORM=offscreen.\n");
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

}  // namespace
