// A stop while the name of the service's host is being looked up, with the lookup held by hanging_lookup_preload
// (this binary always runs with it): the request and the job end at once instead of waiting for the lookup.
#include "mining/cancel_token.h"
#include "mining/http_get.h"
#include "mining/mining_job.h"
#include "tests/support/fake_controls.h"
#include "tests/support/hanging_lookup.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace morvane {
namespace {

using test::FakeControls;
using test::HangingLookupShimLoaded;
using test::kHangingServiceBase;
using test::LookupWatchdog;
using test::WaitForHangingLookup;

class StopDuringLookupTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HangingLookupShimLoaded()) << "run this suite through ctest, which preloads the lookup shim";
    }
};

TEST_F(StopDuringLookupTest, cancelledRequestReturnsWithoutWaitingForTheLookup) {
    CancelToken cancel;
    std::optional<HttpGetResult> result;
    std::thread request([&] { result = HttpGet(std::string(kHangingServiceBase) + "/", {.cancel = &cancel}); });
    ASSERT_TRUE(WaitForHangingLookup());

    LookupWatchdog watchdog;
    cancel.Cancel();
    request.join();

    EXPECT_FALSE(watchdog.Fired());
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->outcome, HttpOutcome::Cancelled);
}

TEST_F(StopDuringLookupTest, endMiningJobReturnsWithoutWaitingForTheLookup) {
    FakeControls controls;
    controls.seedText = "a\r\nb";
    OutputTarget output;
    output.SetOutputMode(OutputTarget::kResultList);
    MiningWorker worker(controls, output, RecommendationService(kHangingServiceBase), std::chrono::milliseconds(0));
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitForHangingLookup());

    LookupWatchdog watchdog;
    worker.EndMiningJob();

    EXPECT_FALSE(watchdog.Fired());
    EXPECT_FALSE(worker.Wait());
    EXPECT_TRUE(controls.StatusTexts().empty());
    EXPECT_EQ(controls.StartEnabledCount(), 0);
}

// A new job may start while the lookup of the one ended still hangs, and is ended as quickly.
TEST_F(StopDuringLookupTest, nextJobStartsAndEndsWhileTheLastLookupStillHangs) {
    FakeControls controls;
    controls.seedText = "a";
    OutputTarget output;
    MiningWorker worker(controls, output, RecommendationService(kHangingServiceBase), std::chrono::milliseconds(0));
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitForHangingLookup());

    LookupWatchdog watchdog;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitForHangingLookup());
    worker.EndMiningJob();

    EXPECT_FALSE(watchdog.Fired());
}

} // namespace
} // namespace morvane
