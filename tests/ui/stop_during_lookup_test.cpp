// Stop and the shut-down while the name of the service's host is being looked up, with the lookup held by
// hanging_lookup_preload (this binary always runs with it): the GUI thread never waits for the lookup.
#include "tests/support/hanging_lookup.h"
#include "tests/ui/window_fixture.h"

#include <gtest/gtest.h>

namespace morvane::ui {
namespace {

using morvane::test::HangingLookupShimLoaded;
using morvane::test::kHangingServiceBase;
using morvane::test::LookupWatchdog;
using test::HandlePendingEvents;
using test::WaitUntil;
using test::WindowFixture;

class StopDuringLookupTest : public testing::Test {
protected:
    StopDuringLookupTest() {
        // The window asks a service whose host name hangs in its lookup.
        fixture.commands.reset();
        fixture.commands =
            std::make_unique<Commands>(window, fixture.state, RecommendationService(kHangingServiceBase), kNoPause);
    }

    void SetUp() override {
        ASSERT_TRUE(HangingLookupShimLoaded()) << "run this suite through ctest, which preloads the lookup shim";
    }

    // Presses Start with one seed and waits, handling the job's control operations, until its lookup hangs.
    bool StartIntoAHangingLookup() {
        window.母词列表_编辑框->SetText(QStringLiteral("a"));
        window.开始获取_按钮->click();
        return WaitUntil([] { return morvane::test::WaitForHangingLookup(std::chrono::milliseconds(0)); });
    }

    static constexpr std::chrono::milliseconds kNoPause{0};
    WindowFixture fixture;
    MainWindow& window = fixture.Window();
};

TEST_F(StopDuringLookupTest, stopEndsTheJobAtOnce) {
    ASSERT_TRUE(StartIntoAHangingLookup());

    LookupWatchdog watchdog;
    window.停止_按钮->click();

    EXPECT_FALSE(watchdog.Fired());
    HandlePendingEvents();
    EXPECT_EQ(fixture.StatusTexts(), (QStringList{QStringLiteral("正在挖(0%)..."), QStringLiteral("强制停止！")}));
    EXPECT_TRUE(window.开始获取_按钮->isEnabled());
}

TEST_F(StopDuringLookupTest, shutDownEndsTheJobAtOnce) {
    ASSERT_TRUE(StartIntoAHangingLookup());

    LookupWatchdog watchdog;
    fixture.commands->EndMiningJob(); // what the program does once the window has closed

    EXPECT_FALSE(watchdog.Fired());
}

} // namespace
} // namespace morvane::ui
