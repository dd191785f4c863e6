#include "recording_sleeper.h"
#include "sleeper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <pthread.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

void ignore_signal(int) {}

} // namespace

TEST(Sleeper, DefaultIsTheRealSleepAndTakesAtLeastTheTime)
{
    linux_helper::sleeper pause;
    EXPECT_TRUE(pause.is_real());
    const auto start = std::chrono::steady_clock::now();
    pause(20ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
}

TEST(Sleeper, RealSleepIsRestartedAfterASignal)
{
    // A handler without SA_RESTART makes nanosleep return EINTR; the sleep must still last
    // its whole time. The signal is sent from another thread while the sleep runs: the
    // sleeper's duration is far longer than the delay before the signal, so it is under way
    // whenever the signal lands, and the check below holds either way.
    struct sigaction action
    {};
    action.sa_handler = ignore_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    struct sigaction previous
    {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    const pthread_t self = pthread_self();
    const auto start = std::chrono::steady_clock::now();
    std::thread interrupter([self] {
        for (int i = 0; i < 5; ++i)
        {
            std::this_thread::sleep_for(10ms);
            pthread_kill(self, SIGUSR1);
        }
    });
    linux_helper::sleeper::real_sleep(150ms);
    const auto slept = std::chrono::steady_clock::now() - start;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(slept, 150ms);
}

TEST(Sleeper, InjectedFunctionReplacesTheSleepAndZeroCallsNothing)
{
    test_support::recording_sleeper rec;
    const auto pause = rec.get();
    EXPECT_FALSE(pause.is_real());
    pause(0ms);
    pause(-5ms);
    pause(200ms);
    ASSERT_EQ(rec.pauses().size(), 1u);
    EXPECT_EQ(rec.pauses()[0].duration, 200ms);
    EXPECT_EQ(rec.total(), 200ms);
}
