// The library's sleep: it sleeps on the process's real-time timer and
// SIGALRM, so it must hand both back as it found them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <thread>

#include "playback.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gOwnAlarms = 0;
void ownHandler(int) { gOwnAlarms = gOwnAlarms + 1; }

void installOwnHandler() {
    struct sigaction sa{};
    sa.sa_handler = ownHandler;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &sa, nullptr), 0);
    gOwnAlarms = 0;
}

void armTimer(long micros) {
    itimerval t{};
    t.it_value.tv_sec = micros / 1000000;
    t.it_value.tv_usec = micros % 1000000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &t, nullptr), 0);
}

long remainingMicros() {
    itimerval t{};
    getitimer(ITIMER_REAL, &t);
    return long(t.it_value.tv_sec) * 1000000 + long(t.it_value.tv_usec);
}

void (*currentHandler())(int) {
    struct sigaction sa{};
    sigaction(SIGALRM, nullptr, &sa);
    return sa.sa_handler;
}

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct RestoreAlarm {
    ~RestoreAlarm() {
        armTimer(0);
        signal(SIGALRM, SIG_DFL);
    }
};

}  // namespace

TEST(PlaybackSleep, SleepsAboutTheTimeAsked) {
    RestoreAlarm restore;
    auto start = Clock::now();
    EXPECT_EQ(zef::zefUsleep(0), 0);
    EXPECT_LT(millisSince(start), 5.0);
    for (uint32_t micros : {300u, 30000u, 1050000u}) {
        start = Clock::now();
        EXPECT_EQ(zef::zefUsleep(micros), 0);
        double took = millisSince(start);
        EXPECT_GE(took, micros / 1000.0) << micros;
        EXPECT_LT(took, micros / 1000.0 + 300.0) << micros;
    }
    EXPECT_EQ(remainingMicros(), 0) << "no timer is left running";
    EXPECT_EQ(currentHandler(), SIG_DFL);
}

// A later alarm keeps its handler and fires when it was due; the blocked
// signals are as they were.
TEST(PlaybackSleep, RestoresALaterAlarmAndItsHandler) {
    RestoreAlarm restore;
    installOwnHandler();
    sigset_t blocked, before, after;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigprocmask(SIG_BLOCK, &blocked, &before);
    armTimer(2000000);
    EXPECT_EQ(zef::zefUsleep(20000), 0);
    long left = remainingMicros();
    EXPECT_GT(left, 1500000);
    EXPECT_LE(left, 1980000);
    EXPECT_EQ(currentHandler(), &ownHandler);
    EXPECT_EQ(gOwnAlarms, 0);
    sigprocmask(SIG_SETMASK, &before, &after);
    EXPECT_EQ(sigismember(&after, SIGUSR1), 1);
    EXPECT_EQ(sigismember(&after, SIGALRM), 0);
}

// An alarm due within the sleep ends it, and its own handler takes it.
TEST(PlaybackSleep, AnEarlierAlarmEndsTheSleepAndStillFires) {
    RestoreAlarm restore;
    installOwnHandler();
    armTimer(20000);
    auto start = Clock::now();
    EXPECT_EQ(zef::zefUsleep(3000000), 0);
    EXPECT_LT(millisSince(start), 1000.0);
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (gOwnAlarms == 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(gOwnAlarms, 1);
    EXPECT_EQ(currentHandler(), &ownHandler);
}
