#include "tests/ui/window_fixture.h"
#include "ui/allocation_failure.h"
#include "ui/control_text.h"
#include "ui/fatal_error.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace morvane::ui {
namespace {

TEST(FatalErrorTextTest, piecesAppearOnlyWhenTheyHaveSomethingToSay) {
    EXPECT_EQ(ToControlText(FatalErrorText("", 0)), QStringLiteral("运行时出错!\n\n"));
    EXPECT_EQ(ToControlText(FatalErrorText("", 5)), QStringLiteral("运行时出错!\n\n错误代码：5\n\n"));
    EXPECT_EQ(ToControlText(FatalErrorText("x", -3)), QStringLiteral("运行时出错!\n\n错误代码：-3\n\n错误信息：x\n"));
    EXPECT_EQ(ToControlText(FatalErrorText(AllocationFailureMessage(64), 0)),
              QStringLiteral("运行时出错!\n\n错误信息：分配 64 字节内存失败!\n"));
    EXPECT_EQ(FatalErrorText("", 0), "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n");
}

// Presses OK on the fatal-error box once it shows, after printing its title and text to standard error, where
// the death test reads them.
void PressOkOnTheBox() {
    test::AnswerNextDialog("QMessageBox", [](QWidget& widget) {
        auto& box = *qobject_cast<QMessageBox*>(&widget);
        std::fprintf(stderr, "box[%s|%s|%d]\n", box.windowTitle().toUtf8().constData(), box.text().toUtf8().constData(),
                     box.icon() == QMessageBox::Critical ? 1 : 0);
        test::ClickMessageBoxButton(box, QMessageBox::Ok);
    });
}

std::atomic<std::size_t> g_failSize{0};

// Fails the first allocation of the chosen size, once.
bool FailTheChosenSize(std::size_t bytes) {
    std::size_t expected = bytes;
    return bytes != 0 && g_failSize.compare_exchange_strong(expected, 0);
}

using FatalErrorDeathTest = testing::Test;

TEST_F(FatalErrorDeathTest, fatalErrorShowsTheBoxAndEndsWithMinusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PressOkOnTheBox();
            ReportFatalError("\xb2\xe2", 7); // 测
        },
        testing::ExitedWithCode(255), "box\\[错误\\|运行时出错!\n\n错误代码：7\n\n错误信息：测\n\\|1\\]");
}

TEST_F(FatalErrorDeathTest, failedAllocationOnTheGuiThreadShowsTheBox) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PressOkOnTheBox();
            g_failSize.store(64);
            SetAllocationFailureInjector(FailTheChosenSize);
            // Called directly: a new-expression whose memory is unused may be left out by the compiler.
            void* memory = ::operator new(64);
            ::operator delete(memory);
        },
        testing::ExitedWithCode(255), "box\\[错误\\|运行时出错!\n\n错误信息：分配 64 字节内存失败!\n\\|1\\]");
}

// A job that runs out of memory on its worker: the box shows on the GUI thread, with the size that failed.
bool FailTheChosenSizeOffTheGuiThread(std::size_t bytes) {
    return !OnGuiThread() && FailTheChosenSize(bytes);
}

TEST_F(FatalErrorDeathTest, failedAllocationInAJobShowsTheBox) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            test::WindowFixture fixture;
            // The job's copy of this one seed line needs 5001 bytes; it gets them from the worker's first split
            // of the seed text. Too long a seed to be sent, so no request is made.
            fixture.Window().SetSeedText(std::string(5000, 'a'));
            PressOkOnTheBox();
            g_failSize.store(5001);
            SetAllocationFailureInjector(FailTheChosenSizeOffTheGuiThread);
            fixture.Window().开始获取_按钮->click();
            test::WaitUntil([] { return false; });
        },
        testing::ExitedWithCode(255), "box\\[错误\\|运行时出错!\n\n错误信息：分配 5001 字节内存失败!\n\\|1\\]");
}

// Memory that runs out while the job reads a reply: the core notes it and goes on, which a batch front end may do,
// but the window ends with the fatal-error box as for memory anywhere else.
TEST_F(FatalErrorDeathTest, failedAllocationWhileReadingAReplyShowsTheBox) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A reply that announces 1,000 bytes more than it sends: the job's reading sets aside room for the announced
    // body in one piece (its bytes and the string's terminator), a size that nothing else here asks for, not even
    // the scripted server's threads, which hold the body that is sent.
    morvane::test::ScriptedReply reply = morvane::test::WordsReply({std::string(12345, 'x')});
    reply.kind = morvane::test::ScriptedReply::Kind::BreakOff;
    const std::size_t bodyAllocation = reply.body.size() + 1000 + 1;
    EXPECT_EXIT(
        {
            test::WindowFixture fixture;
            fixture.server.AnswerAll(reply);
            fixture.Window().SetSeedText("a\r\nb");
            PressOkOnTheBox();
            g_failSize.store(bodyAllocation);
            SetAllocationFailureInjector(FailTheChosenSizeOffTheGuiThread);
            fixture.Window().开始获取_按钮->click();
            test::WaitUntil([] { return false; });
        },
        testing::ExitedWithCode(255),
        "box\\[错误\\|运行时出错!\n\n错误信息：分配 " + std::to_string(bodyAllocation) + " 字节内存失败!\n\\|1\\]");
}

} // namespace
} // namespace morvane::ui
