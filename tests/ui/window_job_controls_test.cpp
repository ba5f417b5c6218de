#include "mining/cancel_token.h"
#include "tests/ui/window_fixture.h"
#include "ui/window_job_controls.h"

#include <gtest/gtest.h>

#include <thread>

namespace morvane::ui {
namespace {

using test::HandlePendingEvents;
using test::WindowFixture;

class WindowJobControlsTest : public testing::Test {
protected:
    WindowFixture fixture;
    MainWindow& window = fixture.Window();
    WindowJobControls controls{window};
};

TEST_F(WindowJobControlsTest, operationsRunOnTheGuiThreadInOrderWhileTheWorkerWaits) {
    auto cancel = std::make_shared<CancelToken>();
    controls.JobStarting(cancel);
    window.SetSeedText("a\r\nb");
    Text seeds;
    std::size_t lines = 0;
    std::thread worker([&] {
        seeds = controls.ReadSeedText();
        controls.SetStatusText("\xb2\xe2"); // 测
        controls.AppendResultText("x\r\n");
        controls.AppendResultText("y\r\n");
        lines = controls.CountResultLines();
        controls.SetKeywordTotal(std::to_string(lines));
        controls.EnableStart();
    });
    window.开始获取_按钮->setEnabled(false);
    ASSERT_TRUE(test::WaitUntil([&] { return window.开始获取_按钮->isEnabled(); }));
    worker.join();

    EXPECT_EQ(seeds, "a\r\nb");
    EXPECT_EQ(fixture.StatusTexts(), QStringList{QStringLiteral("测")});
    EXPECT_EQ(window.ReadResultText(), "x\r\ny\r\n");
    EXPECT_EQ(lines, 2U);
    EXPECT_EQ(window.关键词总数_标签->text(), QStringLiteral("2"));
}

// The GUI thread here never gets round to the operation: cancelling must free the worker all the same, and the
// operation must not run afterwards, not even once a later job has started.
TEST_F(WindowJobControlsTest, cancelledJobStopsWaitingAndItsQueuedOperationNeverRuns) {
    auto first = std::make_shared<CancelToken>();
    controls.JobStarting(first);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        controls.SetStatusText("stale");
        controls.AppendResultText("stale\r\n");
        returned.store(true);
    });
    first->Cancel();
    worker.join(); // does not hang: the worker stopped waiting
    EXPECT_TRUE(returned.load());

    auto second = std::make_shared<CancelToken>();
    controls.JobStarting(second);
    HandlePendingEvents();

    EXPECT_TRUE(fixture.StatusTexts().isEmpty());
    EXPECT_TRUE(window.ReadResultText().empty());
}

TEST_F(WindowJobControlsTest, operationsOfACancelledJobGiveDefaultsAtOnce) {
    auto cancel = std::make_shared<CancelToken>();
    cancel->Cancel();
    controls.JobStarting(cancel);
    window.SetSeedText("a");
    // On the GUI thread itself: a wait here would never end, so a default result proves no wait happened.
    EXPECT_TRUE(controls.ReadSeedText().empty());
    EXPECT_EQ(controls.CountResultLines(), 0U);
    EXPECT_EQ(controls.ReadRegionSelection(), 0);
}

} // namespace
} // namespace morvane::ui
