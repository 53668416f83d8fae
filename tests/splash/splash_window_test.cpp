// The launcher's own splash window on a real display (Xvfb, or Wine's): the
// close requests and the launch's close policy, and requests from many
// threads while the window goes away (run under AddressSanitizer, a use of
// the freed window or record shows here).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "splash/splash.h"

namespace nxo::splash {
namespace {

using namespace std::chrono_literals;

bool Show() {
  std::vector<std::uint32_t> pixels(40 * 30, 0x336699);
  ShowSplash(platform::MakeSplashPicture(40, 30, pixels.data()), "");
  return SplashWindowShowing();
}

bool GoneWithin(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (SplashWindowShowing()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(SplashWindow, WithoutASplashEverythingIsANoOp) {
  ASSERT_FALSE(SplashWindowShowing());
  EXPECT_EQ(SplashWindowHandle(), nullptr);
  RequestSplashClose(0);
  CloseSplash();
  ApplyLaunchClosePolicy(0);
  ApplyMainReturnedClosePolicy(0);
  EXPECT_FALSE(SplashWindowShowing());
}

TEST(SplashWindow, LaunchPolicyYieldsToTheApplication) {
  if (!Show()) GTEST_SKIP() << "no display to show a window on";
  // The launch's first delay leaves the choice open: a later request moves it.
  ApplyLaunchClosePolicy(60000);
  RequestSplashClose(-1);  // the application takes over: no close pending
  ApplyMainReturnedClosePolicy(0);
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(SplashWindowShowing()) << "the launcher closed a splash the application took over";
  RequestSplashClose(0);
  EXPECT_TRUE(GoneWithin(10s));
}

TEST(SplashWindow, MainReturnedPolicyClosesWhenNobodyAsked) {
  if (!Show()) GTEST_SKIP() << "no display to show a window on";
  ApplyLaunchClosePolicy(60000);
  ApplyMainReturnedClosePolicy(0);
  EXPECT_TRUE(GoneWithin(10s));
}

TEST(SplashWindow, RequestsFromManyThreadsWhileTheWindowCloses) {
  for (int round = 0; round < 3; ++round) {
    if (!Show()) GTEST_SKIP() << "no display to show a window on";
    std::atomic<bool> stop{false};
    std::vector<std::thread> requesters;
    for (int i = 0; i < 4; ++i) {
      requesters.emplace_back([&stop, i] {
        while (!stop) {
          RequestSplashClose(i % 2 == 0 ? 5000 : -1);
          SplashWindowHandle();
          ApplyMainReturnedClosePolicy(5000);
          if (i == 3) CloseSplash();
        }
      });
    }
    const bool gone = GoneWithin(10s);
    stop = true;
    for (std::thread& requester : requesters) requester.join();
    EXPECT_TRUE(gone);
    // The splash thread frees the record after the window; requests made
    // now find nothing.
    std::this_thread::sleep_for(100ms);
    RequestSplashClose(0);
    EXPECT_EQ(SplashWindowHandle(), nullptr);
  }
}

}  // namespace
}  // namespace nxo::splash
