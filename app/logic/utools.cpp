#include "app/logic/utools.h"

#include "app/logic/sqlscanner.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <stdexcept>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

// ---- window effects --------------------------------------------------------

bool WindowEffectsAvailable(int platformId, int major, int minor) {
    return platformId == 2 && major >= 5 && minor >= 1;
}

bool WindowEffectsAvailableOn(std::string_view platformName) {
    // Headless platforms draw no window decoration at all; every desktop
    // window system (X11, Wayland, ...) can give a top-level window a shadow.
    static constexpr std::string_view headless[] = {"offscreen", "minimal", "minimalegl",
                                                    "vnc",       "linuxfb", ""};
    for (auto name : headless)
        if (platformName == name)
            return false;
    return true;
}

bool WindowEffectsAvailable() {
    return WindowEffectsAvailableOn(QGuiApplication::platformName().toStdString());
}

// ---- processor clock -------------------------------------------------------

namespace {

struct SavedSchedule {
    int policy = SCHED_OTHER;
    sched_param param{};
    bool valid = false;
};

thread_local SavedSchedule savedSchedule;

void raiseThreadPriority() {
    SavedSchedule& s = savedSchedule;
    s.valid = pthread_getschedparam(pthread_self(), &s.policy, &s.param) == 0;
    sched_param rt{};
    rt.sched_priority = sched_get_priority_max(SCHED_FIFO);
    // Without the privilege the request is refused; the measurement then runs
    // at normal priority, which is good enough on an idle machine.
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &rt);
}

void restoreThreadPriority() {
    SavedSchedule& s = savedSchedule;
    if (s.valid)
        pthread_setschedparam(pthread_self(), s.policy, &s.param);
}

void normalThreadPriority() {
    sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
}

std::uint64_t readTimeStampCounter() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    throw std::runtime_error("no time-stamp counter");
#endif
}

} // namespace

ClockMeasureHooks ClockMeasureHooks::system() {
    ClockMeasureHooks h;
    h.raisePriority = raiseThreadPriority;
    h.restorePriority = restoreThreadPriority;
    h.normalPriority = normalThreadPriority;
    h.sleepMs = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    h.readCounter = readTimeStampCounter;
    return h;
}

double MeasureCpuClockMHz(const ClockMeasureHooks& h) {
    try {
        h.raisePriority();
        h.sleepMs(10);
        const std::uint64_t t0 = h.readCounter();
        h.sleepMs(500);
        const std::uint64_t t1 = h.readCounter();
        h.restorePriority();
        const auto ticks = static_cast<std::uint32_t>(t1 - t0);
        return ticks / 500000.0;
    } catch (...) {
        try {
            h.normalPriority();
        } catch (...) {
        }
        return kFallbackCpuClockMHz;
    }
}

double MeasureCpuClockMHz() {
    return MeasureCpuClockMHz(ClockMeasureHooks::system());
}

std::atomic<double> CpuClockMHz{0.0};

namespace {
std::mutex clockMutex;
std::thread clockThread;
bool clockStarted = false;
} // namespace

void startCpuClockMeasurement() {
    std::lock_guard lock(clockMutex);
    if (clockStarted)
        return;
    clockStarted = true;
    // A joinable thread left at exit would abort the process.
    std::atexit(waitForCpuClock);
    clockThread = std::thread([] {
        double mhz = kFallbackCpuClockMHz;
        try {
            mhz = MeasureCpuClockMHz();
        } catch (...) {
        }
        CpuClockMHz.store(mhz);
    });
}

void waitForCpuClock() {
    std::lock_guard lock(clockMutex);
    if (clockThread.joinable())
        clockThread.join();
}

// ---- SQL comments ----------------------------------------------------------

std::string StripSqlComments(std::string_view source, bool& inBlockComment) {
    SqlScanState state;
    if (inBlockComment)
        state = {SqlScanState::BlockComment, 1};
    std::string result = stripComments(source, state);
    inBlockComment = state.open == SqlScanState::BlockComment;
    return result;
}
