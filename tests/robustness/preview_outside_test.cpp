// Previews ended from outside: the Display control panel destroys the window
// that the preview lives in (or the preview itself) at any moment; the
// preview ends with 0, writes nothing, leaves no window, and a new preview
// started right after in the same world runs cleanly.
#include "host.h"
#include "robustness_support.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char StoredSettings[] = "[ScreenSaver.Vellomire]\r\nSeconds=1\r\nPaint=1\r\n";

bool CreatedWindow()
{
    for (const sim::Event &event : sim::Log())
        if (event.kind == sim::EventKind::Call && event.function == "CreateWindowExA" &&
            event.result != 0)
            return true;
    return false;
}

TEST(PreviewFromOutside, EndedAtAnyMomentThenANewPreviewStartsCleanly)
{
    struct Case {
        uint64_t at;          // virtual ms into the run
        bool destroyParent;   // otherwise the preview window itself is destroyed
    };
    const Case cases[] = {
        {2, true},    {2, false},    {41, true},    {41, false},   {120, true},
        {1000, true}, {1001, false}, {2500, true},  {2540, false}, {7000, true},
    };
    for (const Case &c : cases) {
        std::string name = std::to_string(c.at) + " ms, " + (c.destroyParent ? "parent" : "preview");
        for (bool win95 : {true, false}) {
            vrobust::World world;
            world.tail = "/p PARENT";
            world.win95 = win95;
            world.settings = StoredSettings;
            HWND preview = nullptr;
            world.prepare = [&c, &preview](HWND parent) {
                sim::At(c.at, [&c, &preview, parent] {
                    preview = HostState.saverWindow;
                    sim::DestroyFromOutside(c.destroyParent ? parent : preview);
                });
            };
            vrobust::FaultRun run = vrobust::Run(world);
            EXPECT_TRUE(run.result.exited) << name;
            EXPECT_FALSE(run.result.hung) << name << ": " << run.result.hangReason;
            EXPECT_EQ(vtest::SignedExit(run.result), 0) << name;
            ASSERT_NE(preview, nullptr) << name;
            EXPECT_TRUE(run.exitSeen) << name;
            EXPECT_TRUE(run.atExit == vrobust::ClassOnly())
                << name << ": at exit " << vrobust::Describe(run.atExit);
            EXPECT_TRUE(run.after == sim::LiveCounts()) << name << ": " << vrobust::Describe(run.after);
            EXPECT_TRUE(run.profileWrites.empty()) << name;
            EXPECT_EQ(run.iniAfter, run.iniBefore) << name;
            EXPECT_TRUE(run.misuse.empty()) << name << ": " << run.misuse.front();
            // Only the control panel's windows are left.
            for (HWND hwnd : sim::LiveWindows())
                EXPECT_TRUE(sim::IsOutsideWindow(hwnd)) << name << ": " << sim::WindowName(hwnd);

            // The control panel makes a new window for the next preview and
            // starts a fresh process with its handle, in the same world.
            HWND parent = sim::CreateOutsideWindow("Display Properties", 200, 150);
            std::string tail = "/p " + vrobust::HandleNumber(parent);
            uint64_t start = sim::Elapsed();
            HWND second = nullptr;
            RECT rect = {};
            sim::LiveCounts running;
            sim::At(start + 1500, [&] {
                second = HostState.saverWindow;
                rect = sim::WindowScreenRect(second);
                running = sim::Live();
            });
            sim::At(start + 3000, [parent] { sim::DestroyFromOutside(parent); });
            sim::ClearLog();
            sim::ProcessResult next = vtest::RunProgram([&tail] {
                ExitProcess((UINT)DispatchMode(GetModuleHandleA(NULL), tail.c_str()));
            });
            EXPECT_TRUE(next.exited) << name;
            EXPECT_EQ(vtest::SignedExit(next), 0) << name;
            EXPECT_TRUE(CreatedWindow()) << name << ": the class of the ended process is gone";
            ASSERT_NE(second, nullptr) << name;
            EXPECT_EQ(sim::WindowTitle(second), "Preview") << name;
            EXPECT_EQ(rect.right - rect.left, 200) << name;
            EXPECT_EQ(rect.bottom - rect.top, 150) << name;
            EXPECT_EQ(running.windows, 1) << name;
            EXPECT_EQ(running.classes, 1) << name;
            EXPECT_EQ(running.timers, 1) << name;
            EXPECT_EQ(running.windowDcs + running.memoryDcs + running.bitmaps, 0) << name;
            EXPECT_TRUE(sim::Live() == sim::LiveCounts()) << name;
            EXPECT_FALSE(vtest::Called("WritePrivateProfileStringA")) << name;
            EXPECT_FALSE(vtest::Called("LoadLibraryA")) << name;
        }
    }
}

}  // namespace
