// The notify protocol as systemd receives it: a datagram socket named in NOTIFY_SOCKET,
// with WATCHDOG_USEC set as a unit with WatchdogSec sets it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "service/service_notifier.h"
#include "tests/support/service_probes.h"

namespace zelvik::service {
namespace {

using std::chrono::milliseconds;

bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ServiceNotifier, SpeaksTheProtocolToTheNotifySocket) {
    test::NotifySocket socket(2'000'000);
    ASSERT_TRUE(socket.ok());
    ServiceNotifier notifier;
    ASSERT_TRUE(notifier.active());
    EXPECT_EQ(notifier.watchdog_period(), std::chrono::seconds(2));

    notifier.ready("watching 2 of 3 channels; 0 stalled; outbox 0");
    std::vector<std::string> got = socket.receive(milliseconds(300));
    EXPECT_TRUE(has(got, "READY=1"));
    EXPECT_TRUE(has(got, "STATUS=watching 2 of 3 channels; 0 stalled; outbox 0"));

    // The same status again is not sent; a changed one is.
    notifier.status("watching 2 of 3 channels; 0 stalled; outbox 0");
    notifier.status("watching 2 of 3 channels; 1 stalled; outbox 0");
    got = socket.receive(milliseconds(300));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "STATUS=watching 2 of 3 channels; 1 stalled; outbox 0");

    // Pings at most every quarter period (500 ms here).
    const auto t0 = ServiceNotifier::Clock::now();
    notifier.watchdog(t0);
    notifier.watchdog(t0 + milliseconds(100));
    notifier.watchdog(t0 + milliseconds(600));
    got = socket.receive(milliseconds(300));
    EXPECT_EQ(std::count(got.begin(), got.end(), "WATCHDOG=1"), 2);
    EXPECT_EQ(notifier.pings(), 2);

    notifier.stopping();
    EXPECT_TRUE(has(socket.receive(milliseconds(300)), "STOPPING=1"));
}

TEST(ServiceNotifier, SilentWithoutServiceManagerOrWatchdog) {
    {
        test::NotifySocket socket;  // no WATCHDOG_USEC: no pings, the rest still goes
        ServiceNotifier notifier;
        EXPECT_EQ(notifier.watchdog_period().count(), 0);
        notifier.watchdog(ServiceNotifier::Clock::now(), true);
        notifier.ready("up");
        const std::vector<std::string> got = socket.receive(milliseconds(300));
        EXPECT_FALSE(has(got, "WATCHDOG=1"));
        EXPECT_TRUE(has(got, "READY=1"));
    }
    ServiceNotifier outside;  // NOTIFY_SOCKET unset again
    EXPECT_FALSE(outside.active());
    outside.ready("up");
    outside.watchdog(ServiceNotifier::Clock::now(), true);
    EXPECT_EQ(outside.pings(), 0);
}

}  // namespace
}  // namespace zelvik::service
