// What the fuzz targets share: running the saver as a simulated process and
// stopping at once (as a crash, so that the fuzzer keeps the input) when a
// run breaks one of the rules every run keeps.
#ifndef VELLOMIRE_FUZZ_WORLD_H
#define VELLOMIRE_FUZZ_WORLD_H

#include "saver_process.h"
#include "simctl.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace vfuzz {

[[noreturn]] inline void Broken(const std::string &what)
{
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::abort();
}

inline void Require(bool holds, const std::string &what)
{
    if (!holds)
        Broken(what);
}

// A Windows folder of the fuzzer's own, the same for every input (no
// temporary folder per input), emptied of control.ini before each run.
inline std::string WindowsFolder()
{
    static const std::string folder = [] {
        const char *given = std::getenv("VELLOMIRE_FUZZ_WINDOWS");
        std::string path = given && *given ? given : "/tmp/vellomire-fuzz-windows";
        mkdir(path.c_str(), 0755);
        return path;
    }();
    std::remove((folder + "/control.ini").c_str());
    return folder;
}

// Whether a window is still up, asked of the simulation: the fuzzers'
// actions run as the program, and IsWindow there would count as its call.
inline bool Alive(HWND hwnd)
{
    if (hwnd == nullptr)
        return false;
    std::vector<HWND> live = sim::LiveWindows();
    return std::find(live.begin(), live.end(), hwnd) != live.end();
}

// The run ended by itself, without a crash or a hang, without misuse, and
// with nothing of the program's left alive.
inline void RequireCleanEnd(const sim::ProcessResult &result)
{
    Require(!result.crashed, "crash");
    Require(!result.hung, "hang: " + result.hangReason);
    Require(result.exited, "the process did not end with ExitProcess");
    Require(sim::Misuse().empty(), sim::Misuse().empty() ? "" : "misuse: " + sim::Misuse().front());
    sim::LiveCounts live = sim::Live();
    Require(live.windowDcs == 0 && live.memoryDcs == 0 && live.bitmaps == 0 && live.brushes == 0,
            "GDI objects left");
    Require(live.libraries == 0, "libraries left");
    Require(live.registryKeys == 0, "registry keys left");
    Require(live.windows == 0 && live.timers == 0, "windows or timers left");
}

}  // namespace vfuzz

#endif
