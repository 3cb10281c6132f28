// Running one scenario of the robustness tests as a simulated process: its
// world, an optional failing call, and what the run left behind.
#ifndef VELLOMIRE_TESTS_ROBUSTNESS_SUPPORT_H
#define VELLOMIRE_TESTS_ROBUSTNESS_SUPPORT_H

#include "simctl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vrobust {

struct World {
    std::string tail;               // command tail; PARENT stands for the outside window
    bool win95 = false;
    int screenWidth = 1024;
    int screenHeight = 768;
    int parentWidth = 152;          // the outside window's client size
    int parentHeight = 112;
    std::string settings;           // control.ini bytes; empty: no file
    bool logging = true;
    uint64_t maxVirtualMs = 60000;
    uint64_t maxMessages = 500000;
    uint64_t failNth = 0;           // 0: nothing fails
    std::function<void(HWND parent)> prepare;
};

struct FaultRun {
    uint64_t failNth = 0;
    std::string failedFunction;     // the function whose call failed ("" if none)
    sim::ProcessResult result;
    bool exitSeen = false;
    sim::LiveCounts atExit;         // when ExitProcess was called
    sim::LiveCounts after;          // after the process, as the system left it
    uint64_t calls = 0;             // platform calls of the run
    std::vector<std::string> misuse;
    std::string iniBefore;
    std::string iniAfter;
    std::vector<std::vector<std::string>> profileWrites;   // WritePrivateProfileStringA arguments
};

FaultRun Run(const World &world);

// The counts as text, for failure messages.
std::string Describe(const sim::LiveCounts &live);
// What is alive at ExitProcess after a run that made its window and ended
// normally: the window class, which the process keeps registered until the
// system ends it, and nothing else.
sim::LiveCounts ClassOnly();

// Whether a window is still up, asked of the simulation: a test's actions
// run as the program, and a call of IsWindow there would count among its
// calls (and could be the one made to fail).
bool Alive(HWND hwnd);

// The handle number that stands for PARENT on the command line.
std::string HandleNumber(HWND hwnd);

// Counts the fault runs of the whole program and prints the total at its end.
void CountFaultRuns(uint64_t runs);

}  // namespace vrobust

#endif
