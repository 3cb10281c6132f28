// Running one scenario of the robustness tests as a simulated process.
#include "robustness_support.h"

#include "saver_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace vrobust {
namespace {

std::string ReadIni()
{
    std::string bytes;
    if (!sim::ReadWindowsFile("control.ini", &bytes))
        return "(no file)";
    return bytes;
}

// The function of the nth platform call, from the call log.
std::string NthFunction(uint64_t nth)
{
    uint64_t seen = 0;
    for (const sim::Event &event : sim::Log())
        if (event.kind == sim::EventKind::Call && ++seen == nth)
            return event.function;
    return "";
}

uint64_t TotalFaultRuns = 0;

class FaultRunTotal : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (TotalFaultRuns > 0)
            std::printf("fault sweep: %llu fault runs in all\n", (unsigned long long)TotalFaultRuns);
    }
};
const bool TotalRegistered =
    (::testing::AddGlobalTestEnvironment(new FaultRunTotal), true);

}  // namespace

bool Alive(HWND hwnd)
{
    if (hwnd == nullptr)
        return false;
    std::vector<HWND> live = sim::LiveWindows();
    return std::find(live.begin(), live.end(), hwnd) != live.end();
}

std::string HandleNumber(HWND hwnd)
{
    return std::to_string((unsigned long)(uintptr_t)hwnd);
}

std::string Describe(const sim::LiveCounts &live)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "%d windows, %d classes, %d timers, %d window DCs, %d memory DCs, %d bitmaps, "
                  "%d brushes, %d libraries, %d registry keys",
                  live.windows, live.classes, live.timers, live.windowDcs, live.memoryDcs,
                  live.bitmaps, live.brushes, live.libraries, live.registryKeys);
    return text;
}

sim::LiveCounts ClassOnly()
{
    sim::LiveCounts live;
    live.classes = 1;
    return live;
}

void CountFaultRuns(uint64_t runs)
{
    TotalFaultRuns += runs;
}

FaultRun Run(const World &world)
{
    FaultRun run;
    run.failNth = world.failNth;

    sim::Config config;
    config.win95Family = world.win95;
    config.screenWidth = world.screenWidth;
    config.screenHeight = world.screenHeight;
    config.maxVirtualMs = world.maxVirtualMs;
    config.maxMessages = world.maxMessages;
    config.logging = world.logging;

    // A parent made in a first world has the same handle in the second,
    // where it can stand on the command line.
    std::string tail = world.tail;
    size_t at = tail.find("PARENT");
    HWND parent = nullptr;
    if (at != std::string::npos) {
        sim::Reset(config);
        parent = sim::CreateOutsideWindow("Display Properties", world.parentWidth,
                                          world.parentHeight);
        tail.replace(at, 6, HandleNumber(parent));
    }
    config.commandLine = "vellomire.scr" + (tail.empty() ? std::string() : " " + tail);
    sim::Reset(config);
    if (parent != nullptr) {
        HWND again = sim::CreateOutsideWindow("Display Properties", world.parentWidth,
                                              world.parentHeight);
        EXPECT_EQ(again, parent) << "the outside window's handle moved";
    }
    if (!world.settings.empty())
        sim::WriteWindowsFile("control.ini", world.settings);
    run.iniBefore = ReadIni();
    if (world.prepare)
        world.prepare(parent);

    sim::SetObserver([&run](const sim::Event &event) {
        if (event.kind == sim::EventKind::Call && event.function == "ExitProcess") {
            run.exitSeen = true;
            run.atExit = sim::Live();
        } else if (event.kind == sim::EventKind::Call &&
                   event.function == "WritePrivateProfileStringA" && !sim::CurrentConfig().logging) {
            run.profileWrites.push_back({event.text});
        }
    });
    if (world.failNth)
        sim::FailNthCall(world.failNth);
    run.result = vtest::RunProgram();
    sim::SetObserver(nullptr);

    run.after = sim::Live();
    run.calls = sim::CallCount();
    run.misuse = sim::Misuse();
    run.iniAfter = ReadIni();
    if (world.logging) {
        run.profileWrites = vtest::CallArguments("WritePrivateProfileStringA");
        if (world.failNth)
            run.failedFunction = NthFunction(world.failNth);
    }
    return run;
}

}  // namespace vrobust
