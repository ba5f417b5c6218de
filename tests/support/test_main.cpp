#include <gtest/gtest.h>

#include <clocale>
#include <csignal>

int main(int argc, char** argv) {
    // Pin the locale so that number formatting and character classes never depend on the machine.
    std::setlocale(LC_ALL, "C");
    // A peer that closes early must give an error code, not end the test binary.
    std::signal(SIGPIPE, SIG_IGN);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
