// Long runs: process after process with random settings, families, screen
// and preview sizes, until a given number of pictures has been shown; the
// live objects stay flat while each run goes on and nothing is left after it.
#include "host.h"
#include "robustness_support.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

struct Totals {
    uint64_t pictures = 0;
    uint64_t runs = 0;
    uint64_t previews = 0;
    uint64_t checks = 0;
};

int Pick(std::mt19937 &random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

std::string RandomSettings(std::mt19937 &random)
{
    static const char *const seconds[] = {"-3", "0", "1", "1", "2", "3", "x", ""};
    static const char *const paint[] = {"0", "1", "1", "7", "-1"};
    switch (Pick(random, 0, 9)) {
    case 0:
        return "";   // no file: the show's defaults
    case 1:
        return "[ScreenSaver.Vellomire]\r\nPaint=0\r\n";
    default:
        return std::string("[ScreenSaver.Vellomire]\r\nSeconds=") + seconds[Pick(random, 0, 7)] +
               "\r\nPaint=" + paint[Pick(random, 0, 4)] + "\r\n";
    }
}

// One process; returns the pictures it showed.
uint64_t RunOne(std::mt19937 &random, Totals *totals, const std::string &name)
{
    vrobust::World world;
    bool preview = Pick(random, 0, 2) == 0;
    world.win95 = Pick(random, 0, 1) == 1;
    world.logging = false;
    world.settings = RandomSettings(random);
    world.maxVirtualMs = 4000000;
    world.maxMessages = 10000000;
    if (preview) {
        world.tail = "/p PARENT";
        static const int sizes[][2] = {{152, 112}, {1, 1}, {2, 200}, {300, 1}, {96, 64}};
        int which = Pick(random, 0, 5);
        world.parentWidth = which < 5 ? sizes[which][0] : Pick(random, 1, 640);
        world.parentHeight = which < 5 ? sizes[which][1] : Pick(random, 1, 480);
    } else {
        world.tail = "/s";
        world.screenWidth = Pick(random, 8, 1280);
        world.screenHeight = Pick(random, 8, 1024);
    }
    uint64_t runFor = uint64_t(Pick(random, 5, 240)) * 1000 + uint64_t(Pick(random, 0, 999));
    int badChecks = 0;
    world.prepare = [runFor, preview, totals, &badChecks, &name](HWND parent) {
        // Between messages everything of a tick has been given back: one
        // window, one class, the show's timer and nothing else.
        for (uint64_t at = 777; at < runFor; at += 3331)
            sim::At(at, [totals, &badChecks, &name] {
                ++totals->checks;
                sim::LiveCounts live = sim::Live();
                sim::LiveCounts expected;
                expected.windows = 1;
                expected.classes = 1;
                expected.timers = 1;
                if (!(live == expected) && ++badChecks <= 3)
                    ADD_FAILURE() << name << " at " << sim::Elapsed() << " ms: " << live.windows
                                  << " windows, " << live.classes << " classes, " << live.timers
                                  << " timers, " << live.windowDcs << "+" << live.memoryDcs
                                  << " DCs, " << live.bitmaps << " bitmaps, " << live.brushes
                                  << " brushes, " << live.libraries << " libraries, "
                                  << live.registryKeys << " keys";
            });
        sim::At(runFor, [preview, parent] {
            if (preview)
                sim::DestroyFromOutside(parent);
            else
                sim::KeyPress('K');
        });
    };
    vrobust::FaultRun run = vrobust::Run(world);
    // Each new picture is named once with wsprintfA; nothing else of a run
    // calls it.
    uint64_t pictures = uint64_t(sim::CallCount("wsprintfA"));
    EXPECT_TRUE(run.result.exited) << name << ": " << run.result.hangReason;
    EXPECT_EQ(vtest::SignedExit(run.result), 0) << name;
    EXPECT_TRUE(run.atExit == vrobust::ClassOnly())
        << name << ": at exit " << vrobust::Describe(run.atExit);
    EXPECT_TRUE(run.after == sim::LiveCounts()) << name << ": " << vrobust::Describe(run.after);
    EXPECT_TRUE(run.misuse.empty()) << name << ": " << run.misuse.front();
    EXPECT_EQ(run.iniAfter, run.iniBefore) << name;
    EXPECT_GT(pictures, 0u) << name;
    ++totals->runs;
    totals->previews += preview ? 1 : 0;
    return pictures;
}

void RunPictures(uint64_t target, uint32_t seed)
{
    std::mt19937 random(seed);
    Totals totals;
    while (totals.pictures < target && !::testing::Test::HasFailure()) {
        std::string name = "run " + std::to_string(totals.runs + 1) + " (seed " +
                           std::to_string(seed) + ")";
        totals.pictures += RunOne(random, &totals, name);
    }
    std::printf("long run: %llu pictures in %llu processes (%llu previews), %llu live-object checks\n",
                (unsigned long long)totals.pictures, (unsigned long long)totals.runs,
                (unsigned long long)totals.previews, (unsigned long long)totals.checks);
    EXPECT_GE(totals.pictures, target);
    EXPECT_GT(totals.checks, totals.runs);
}

TEST(LongRun, TwoThousandPictures)
{
    RunPictures(2000, 20261207);
}

// The long one runs only when VELLOMIRE_LONG is set (CTest label "long").
TEST(LongRun, HundredThousandPictures)
{
    if (std::getenv("VELLOMIRE_LONG") == nullptr)
        GTEST_SKIP() << "set VELLOMIRE_LONG=1 to run";
    RunPictures(100000, 1207);
}

}  // namespace
