#include "VirtualEventLoop.h"

#include <gtest/gtest.h>

#include <vector>

using vts::VirtualEventLoop;

TEST(VirtualEventLoop, TimersFireInDueOrderAndOnlyWhenTimeMoves) {
    VirtualEventLoop loop;
    std::vector<int> fired;
    auto a = loop.createTimer(1000, [&] { fired.push_back(1); });
    auto b = loop.createTimer(300, [&] { fired.push_back(2); });
    a->start();
    b->start();
    loop.yield();
    EXPECT_TRUE(fired.empty());
    loop.advance(1.0);
    EXPECT_EQ(fired, (std::vector<int>{2, 2, 2, 1}));
}

TEST(VirtualEventLoop, WaitForMovesTimeAndRunsTimersMeanwhile) {
    VirtualEventLoop loop;
    const QDateTime t0 = loop.now();
    int ticks = 0;
    auto t = loop.createTimer(1000, [&] { ++ticks; });
    t->start();
    loop.waitFor(60);
    EXPECT_EQ(ticks, 60);
    EXPECT_EQ(t0.secsTo(loop.now()), 60);
}

TEST(VirtualEventLoop, CallbackThatYieldsIsNotReenteredByItsOwnTimer) {
    VirtualEventLoop loop;
    int depth = 0, maxDepth = 0, calls = 0;
    std::unique_ptr<vts::Timer> t;
    t = loop.createTimer(1000, [&] {
        ++calls;
        maxDepth = std::max(maxDepth, ++depth);
        loop.waitFor(5);  // a long wait inside the tick
        --depth;
    });
    t->start();
    loop.advance(20);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GE(calls, 2);
}

TEST(VirtualEventLoop, StopAndSingleShot) {
    VirtualEventLoop loop;
    int n = 0;
    auto t = loop.createTimer(2000, [&] { ++n; });
    t->setSingleShot(true);
    t->start();
    loop.advance(10);
    EXPECT_EQ(n, 1);
    EXPECT_FALSE(t->isActive());
    t->start();
    t->stop();
    loop.advance(10);
    EXPECT_EQ(n, 1);
}

TEST(VirtualEventLoop, TimerDestroyedInsideItsCallbackIsSafe) {
    VirtualEventLoop loop;
    std::unique_ptr<vts::Timer> t;
    int n = 0;
    t = loop.createTimer(1000, [&] {
        ++n;
        t.reset();
    });
    t->start();
    loop.advance(5);
    EXPECT_EQ(n, 1);
}
