#pragma once
// Small system routines of the workbench: the window-effects check, the
// processor clock measurement and the SQL comment filter. Nothing here needs
// Qt Widgets, so all of it is tested on its own.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// ---- window effects --------------------------------------------------------

// The version rule: the NT family (platform id 2) with major >= 5 and
// minor >= 1, each part compared on its own (5.1, 5.2, 6.1 pass; 5.0, 6.0 and
// 10.0 do not).
bool WindowEffectsAvailable(int platformId, int major, int minor);

// Whether the window system the program runs on draws shadows for our
// frameless main window: true on desktop window systems, false on the
// offscreen, minimal and similar headless platforms. The platform name is the
// one QGuiApplication::platformName() reports.
bool WindowEffectsAvailableOn(std::string_view platformName);

// The check for this process (reads the running platform's name).
bool WindowEffectsAvailable();

// ---- processor clock -------------------------------------------------------

// What the clock measurement needs from the system; the defaults use the real
// scheduler, sleep and time-stamp counter. A step may throw; the measurement
// then falls back to 500 MHz.
struct ClockMeasureHooks {
    std::function<void()> raisePriority;   // save current priorities, go real-time
    std::function<void()> restorePriority; // back to the saved priorities
    std::function<void()> normalPriority;  // after a failure: normal priorities
    std::function<void(int ms)> sleepMs;
    std::function<std::uint64_t()> readCounter;

    static ClockMeasureHooks system();
};

constexpr double kFallbackCpuClockMHz = 500.0;

// Rate of the time-stamp counter over a 500 ms sleep, in MHz: the low 32 bits
// of the counter difference divided by 500000. 500.0 when any step fails.
double MeasureCpuClockMHz(const ClockMeasureHooks& hooks);
double MeasureCpuClockMHz();

// Process-wide clock value: 0.0 until measured. The main window starts the
// measurement when its native window comes into being; it runs on a thread of
// its own so the first paint never waits for it. Read by the about window.
extern std::atomic<double> CpuClockMHz;

// Starts the measurement once per process (later calls do nothing) and stores
// the result in CpuClockMHz. waitForCpuClock() joins it (used at exit and by
// tests); it returns at once when no measurement was started.
void startCpuClockMeasurement();
void waitForCpuClock();

// ---- SQL comments ----------------------------------------------------------

// Copies every character of source that lies outside a "--" line comment or a
// "/* ... */" block comment, as stripComments() of sqlscanner.h does: string
// literals and quoted or bracketed names are copied whole, comment markers in
// them included; block comments nest; a removed block comment between two
// characters that are not blanks leaves one blank. inBlockComment comes in from
// the caller and goes back to it, so a block comment can span several calls
// (lines). Only that is carried: a string or name left open at the end of one
// call, or the nesting depth of block comments, is not known to the next call;
// stripComments() with a SqlScanState carries all of it. Works on UTF-8 text:
// the markers are ASCII.
std::string StripSqlComments(std::string_view source, bool& inBlockComment);
