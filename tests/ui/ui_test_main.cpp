// The test main of the window's suites: one QApplication for the whole binary, on the offscreen platform unless
// the environment names another.
#include "ui/fatal_error.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    morvane::ui::MarkGuiThread();
    // QApplication takes the user's locale; pin it again so that nothing depends on the machine.
    std::setlocale(LC_ALL, "C"); // NOLINT(concurrency-mt-unsafe): no other thread exists yet
    return RUN_ALL_TESTS();
}
