// The picture show: choice and placement of pictures, the timing of the
// three phases, what reaches the framebuffer, and what is left alive.
#include "host.h"
#include "log_tables.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct Placed {
    std::string name;
    int x, y, pattern;
    uint64_t time;
};

// Every new picture as the show placed it, taken when its first copy is
// made or, when nothing is copied, when its paint call ends.
class PictureRecorder {
public:
    void Start()
    {
        sim::SetObserver([this](const sim::Event &event) { Observe(event); });
    }
    const std::vector<Placed> &pictures() const { return pictures_; }

private:
    void Observe(const sim::Event &event)
    {
        if (event.kind != sim::EventKind::Call)
            return;
        if (event.function == "LoadBitmapA") {
            inPaint_ = true;
        } else if (event.function == "FillRect" && inPaint_) {
            pending_ = true;
        } else if ((event.function == "BitBlt" || event.function == "ReleaseDC") && pending_) {
            pending_ = false;
            pictures_.push_back({ShowState.pictureName, PaintState.originX, PaintState.originY,
                                 PaintState.pattern, event.time});
        }
        if (event.function == "ReleaseDC")
            inPaint_ = false;
    }
    std::vector<Placed> pictures_;
    bool inPaint_ = false;
    bool pending_ = false;
};

struct ShowRun {
    std::vector<Placed> pictures;
    sim::ProcessResult result;
};

// A full-screen run of the given length with the given settings.
ShowRun RunShow(int width, int height, const std::string &settings, uint64_t length,
                int64_t seed = 1)
{
    sim::Config config;
    config.screenWidth = width;
    config.screenHeight = height;
    config.calendarSeconds = seed;
    vtest::StartWorld("/s", false, config);
    if (!settings.empty())
        vtest::WriteSettings(settings);
    PictureRecorder recorder;
    recorder.Start();
    sim::At(length, [] { sim::DestroyFromOutside(HostState.saverWindow); });
    ShowRun run;
    run.result = vtest::RunProgram();
    sim::SetObserver(nullptr);
    run.pictures = recorder.pictures();
    return run;
}

TEST(PictureShow, RandomGeneratorSequence)
{
    SeedRandom(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected)
        EXPECT_EQ(NextRandom(), value);
    SeedRandom(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        int value = NextRandom();
        EXPECT_GE(value, 0);
        EXPECT_LE(value, RANDOM_MAX);
    }
}

// The calendar second 1 seeds the generator; on an 800 x 600 screen the
// show then begins with these four pictures.
TEST(PictureShow, FirstPicturesForSeedOne)
{
    ShowRun run = RunShow(800, 600, "Seconds=1\r\n", 40000);
    ASSERT_GE(run.pictures.size(), 4u);
    const Placed expected[] = {
        {"map9", 198, 58, 4, 0},
        {"map8", 169, 107, 6, 0},
        {"map2", 263, 57, 1, 0},
        {"map6", 180, 89, 3, 0},
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(run.pictures[i].name, expected[i].name) << i;
        EXPECT_EQ(run.pictures[i].x, expected[i].x) << i;
        EXPECT_EQ(run.pictures[i].y, expected[i].y) << i;
        EXPECT_EQ(run.pictures[i].pattern, expected[i].pattern) << i;
    }
    // The same draws are consumed when pictures are painted at once.
    ShowRun atOnce = RunShow(800, 600, "Seconds=1\r\nPaint=0\r\n", 5000);
    ASSERT_GE(atOnce.pictures.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(atOnce.pictures[i].name, expected[i].name) << i;
        EXPECT_EQ(atOnce.pictures[i].x, expected[i].x) << i;
        EXPECT_EQ(atOnce.pictures[i].y, expected[i].y) << i;
    }
}

TEST(PictureShow, NeverTheSamePictureTwiceInARow)
{
    ShowRun run = RunShow(1024, 768, "Seconds=1\r\nPaint=0\r\n", 600000, 77);
    ASSERT_GT(run.pictures.size(), 500u);
    std::map<std::string, int> seen;
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        ++seen[run.pictures[i].name];
        if (i > 0) {
            EXPECT_NE(run.pictures[i].name, run.pictures[i - 1].name) << i;
        }
    }
    EXPECT_EQ(seen.size(), size_t(PICTURE_COUNT)) << "every picture comes";
}

// With "Paint" 0 each picture is complete on the tick that chose it, and
// the next comes max(seconds, 1) seconds later.
TEST(PictureShow, HoldTimes)
{
    struct Case { const char *seconds; uint64_t period; };
    const Case cases[] = {{"3", 3000}, {"1", 1000}, {"0", 1000}, {"-5", 1000}, {"10", 10000}};
    for (const Case &c : cases) {
        ShowRun run = RunShow(1024, 768, std::string("Paint=0\r\nSeconds=") + c.seconds + "\r\n",
                              30500);
        ASSERT_GE(run.pictures.size(), 3u) << c.seconds;
        // Windows raises the 1 ms of the first tick to its shortest timer, 10 ms.
        EXPECT_EQ(run.pictures[0].time, 10u);
        for (size_t i = 1; i < run.pictures.size(); ++i)
            EXPECT_EQ(run.pictures[i].time - run.pictures[i - 1].time, c.period)
                << "Seconds=" << c.seconds << " picture " << i;
        EXPECT_EQ(run.pictures.size(), size_t(1 + (30500 - 10) / c.period)) << c.seconds;
    }
    // The longest hold there is: one picture for as long as anyone watches.
    ShowRun longest = RunShow(1024, 768, "Paint=0\r\nSeconds=2147483647\r\n", 3600000);
    EXPECT_EQ(longest.pictures.size(), 1u);
    // Without any settings the show holds for 10 seconds.
    ShowRun defaults = RunShow(1024, 768, "Paint=0\r\n", 25000);
    ASSERT_EQ(defaults.pictures.size(), 3u);
    EXPECT_EQ(defaults.pictures[1].time - defaults.pictures[0].time, 10000u);
}

// A progressive picture: ticks 40 ms apart while painting, then the hold
// counts from the completing tick.
TEST(PictureShow, PaintingThenHolding)
{
    ShowRun run = RunShow(800, 600, "Seconds=3\r\n", 20000);
    ASSERT_GE(run.pictures.size(), 2u);
    // The first picture is map9 by ColumnsOpen: 75 calls, 40 ms apart.
    std::vector<uint64_t> ticks;
    for (const sim::Event &event : sim::Log())
        if (event.kind == sim::EventKind::Call && event.function == "LoadBitmapA" &&
            event.time < run.pictures[1].time)
            ticks.push_back(event.time);
    ASSERT_EQ(ticks.size(), 75u);
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_EQ(ticks[i] - ticks[i - 1], 40u) << i;
    EXPECT_EQ(run.pictures[1].time - ticks.back(), 3000u);
}

struct PlacementCase {
    int width, height;
    int minX, maxX, minY, maxY;   // for a 450 x 301 picture
};

// Origins stay in the ranges that the divisors give, for full screens and
// previews, larger and smaller than the picture.
TEST(PictureShow, PlacementRanges)
{
    const PlacementCase cases[] = {
        {800, 600, 0, 352, 0, 300},
        {640, 480, 0, 190, 0, 179},
        {152, 112, -300, 0, -189, 0},
        {450, 301, 0, 0, 0, 0},
        {1024, 768, 0, 574, 0, 468},
    };
    for (const PlacementCase &c : cases) {
        ShowRun run = RunShow(c.width, c.height, "Seconds=1\r\nPaint=0\r\n", 400000, c.width);
        int seen301 = 0;
        int lowX = 1 << 30, highX = -(1 << 30);
        for (const Placed &p : run.pictures) {
            sim::Image picture = sim::ResourceBitmap(p.name);
            if (picture.height != 301)
                continue;
            ++seen301;
            EXPECT_GE(p.x, c.minX) << c.width << "x" << c.height;
            EXPECT_LE(p.x, c.maxX) << c.width << "x" << c.height;
            EXPECT_GE(p.y, c.minY) << c.width << "x" << c.height;
            EXPECT_LE(p.y, c.maxY) << c.width << "x" << c.height;
            lowX = std::min(lowX, p.x);
            highX = std::max(highX, p.x);
        }
        EXPECT_GT(seen301, 100);
        if (c.maxX > c.minX) {
            // Spread over most of the range, not stuck in a corner.
            EXPECT_LT(lowX, c.minX + (c.maxX - c.minX) / 5) << c.width;
            EXPECT_GT(highX, c.maxX - (c.maxX - c.minX) / 5) << c.width;
        }
    }
}

// A client whose room for the picture is zero, or too large for the
// divisor, puts the picture at 0 on that axis and keeps the draw order.
TEST(PictureShow, PlacementWithoutRoom)
{
    ShowRun wide = RunShow(40000, 600, "Seconds=1\r\nPaint=0\r\n", 20000);
    ShowRun narrow = RunShow(800, 600, "Seconds=1\r\nPaint=0\r\n", 20000);
    ASSERT_GE(wide.pictures.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(wide.pictures[i].x, 0) << i;
        // The same draws, so the same pictures and rows as on a normal screen.
        EXPECT_EQ(wide.pictures[i].name, narrow.pictures[i].name) << i;
        EXPECT_EQ(wide.pictures[i].y, narrow.pictures[i].y) << i;
        EXPECT_EQ(wide.pictures[i].pattern, narrow.pictures[i].pattern) << i;
    }
    // A room of exactly 32,767 pixels is the largest that still spreads: the
    // divisor is 1, so the origin is the draw itself.
    ShowRun widest = RunShow(sim::ResourceBitmap("map9").width + RANDOM_MAX, 600,
                             "Seconds=1\r\nPaint=0\r\n", 500);
    ASSERT_FALSE(widest.pictures.empty());
    EXPECT_EQ(widest.pictures[0].name, "map9");
    EXPECT_EQ(widest.pictures[0].x, 18467) << "the second draw of seed 1";
}

// The framebuffer holds exactly the picture at its origin, clipped, and
// black everywhere else; no device context or bitmap outlives a tick.
TEST(PictureShow, PixelsOfEveryPicture)
{
    for (auto size : {std::pair<int, int>{800, 600}, {640, 480}, {300, 200}}) {
        sim::Config config;
        config.screenWidth = size.first;
        config.screenHeight = size.second;
        config.calendarSeconds = 12345;
        vtest::StartWorld("/s", false, config);
        vtest::WriteSettings("Seconds=1\r\nPaint=0\r\n");
        int checked = 0;
        int leaks = 0;
        sim::SetObserver([&leaks](const sim::Event &event) {
            if (event.kind == sim::EventKind::Posted && event.message == WM_TIMER) {
                sim::LiveCounts live = sim::Live();
                leaks += live.windowDcs + live.memoryDcs + live.bitmaps;
            }
        });
        for (int second = 0; second < 25; ++second) {
            sim::At(500 + 1000 * uint64_t(second), [&checked] {
                HWND saver = HostState.saverWindow;
                sim::Image client = sim::ClientPixels(saver);
                sim::Image picture = sim::ResourceBitmap(ShowState.pictureName);
                int ox = PaintState.originX, oy = PaintState.originY;
                int wrong = 0;
                for (int y = 0; y < client.height; ++y)
                    for (int x = 0; x < client.width; ++x) {
                        int px = x - ox, py = y - oy;
                        bool inside = px >= 0 && py >= 0 && px < picture.width &&
                                      py < picture.height;
                        uint32_t want = inside ? picture.at(px, py) : 0;
                        if (client.at(x, y) != want)
                            ++wrong;
                    }
                EXPECT_EQ(wrong, 0) << ShowState.pictureName << " at " << ox << "," << oy;
                ++checked;
            });
        }
        sim::At(26000, [] { sim::KeyPress('K'); });
        vtest::RunProgram();
        sim::SetObserver(nullptr);
        EXPECT_EQ(checked, 25);
        EXPECT_EQ(leaks, 0) << "a device context or bitmap outlived its tick";
        sim::LiveCounts live = sim::Live();
        EXPECT_EQ(live.timers, 0);
        EXPECT_EQ(live.bitmaps, 0);
        EXPECT_TRUE(sim::Misuse().empty()) << sim::Misuse().front();
    }
}

// Each picture's paint call: load, size, contexts, blacken, copy, release,
// in this order.
TEST(PictureShow, PaintCallOrder)
{
    RunShow(800, 600, "Seconds=5\r\nPaint=0\r\n", 1500);
    std::vector<std::string> calls = vtest::CallsSinceExcept(
        0, {"GetCommandLineA", "CharNextA", "GetModuleHandleA", "GetVersionExA", "LoadIconA",
            "GetSystemMetrics", "FindWindowA", "RegisterClassA", "CreateWindowExA",
            "GetCursorPos", "SetCursor", "LoadStringA", "GetPrivateProfileIntA",
            "GetSystemTimeAsFileTime", "SetForegroundWindow", "GetMessageA", "TranslateMessage",
            "DispatchMessageA", "DefWindowProcA", "PostQuitMessage", "DestroyWindow",
            "IsWindow", "ExitProcess", "PeekMessageA"});
    const std::vector<std::string> expected = {
        "GetStockObject",                    // the class brush
        "SetTimer",                          // first tick in 1 ms
        "GetClientRect", "GetStockObject", "FillRect",   // the first paint erases
        "Sleep", "KillTimer", "wsprintfA",   // the tick chooses map%d
        "LoadBitmapA", "GetObjectA", "GetDC", "CreateCompatibleDC", "SelectObject",
        "GetClientRect", "GetStockObject", "FillRect", "BitBlt",
        "SelectObject", "DeleteDC", "ReleaseDC", "DeleteObject",
        "SetTimer",                          // the hold: 1000 ms
        "Sleep", "KillTimer", "SetTimer",    // one holding tick: no drawing at all
    };
    std::vector<std::string> head(calls.begin(),
                                  calls.begin() + std::min(calls.size(), expected.size()));
    EXPECT_TRUE(vtest::SameSequence(expected, head));
}

// The background is black and WM_ERASEBKGND never reaches the host's default.
TEST(PictureShow, EraseBackground)
{
    LRESULT erased = -1;
    std::vector<std::string> calls;
    uint32_t corner = 1;
    vtest::StartWorld("/s");
    sim::At(300, [&] {
        HWND saver = HostState.saverWindow;
        HDC dc = GetDC(saver);
        RECT all = {0, 0, 1024, 768};
        FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        size_t mark = vtest::LogMark();
        erased = PictureShowProc(saver, WM_ERASEBKGND, (WPARAM)dc, 0);
        calls = vtest::CallsSince(mark);
        ReleaseDC(saver, dc);
        corner = sim::ClientPixels(saver).at(0, 0);
        sim::KeyPress('K');
    });
    vtest::RunProgram();
    EXPECT_EQ(erased, 0);
    EXPECT_TRUE(vtest::SameSequence({"GetClientRect", "GetStockObject", "FillRect"}, calls));
    EXPECT_EQ(corner, 0u);
}

// Without a timer the show stands still, and its end kills nothing.
TEST(PictureShow, FailingSetTimer)
{
    vtest::StartWorld("/s");
    sim::FailCall("SetTimer", 1);
    sim::At(5000, [] { sim::KeyPress('K'); });
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    EXPECT_EQ(vtest::CountCalls("LoadBitmapA"), 0);
    EXPECT_EQ(vtest::CountCalls("KillTimer"), 0);
    EXPECT_EQ(ShowState.timerSet, 0);
}

// The show's end kills its timer, and every message of the chain still
// reaches the host's default procedure.
TEST(PictureShow, DestroyKillsTheTimer)
{
    vtest::StartWorld("/s");
    sim::At(2500, [] { sim::KeyPress('K'); });
    vtest::RunProgram();
    std::vector<std::string> tail = vtest::CallsSince(0);
    ASSERT_FALSE(tail.empty());
    EXPECT_TRUE(
        vtest::InOrder({"PostMessageA", "DefWindowProcA", "PostQuitMessage", "KillTimer"}, tail));
    EXPECT_EQ(sim::Live().timers, 0);
}

// A picture that cannot be loaded leaves the window black and the show
// goes on with the next one.
TEST(PictureShow, MissingPictureHoldsBlack)
{
    vtest::StartWorld("/s");
    vtest::WriteSettings("Seconds=1\r\nPaint=0\r\n");
    sim::FailCall("LoadBitmapA", 1);
    uint32_t litAfterFailure = 1;
    int secondPictures = 0;
    sim::At(500, [&] {
        sim::Image client = sim::ClientPixels(HostState.saverWindow);
        litAfterFailure = 0;
        for (uint32_t p : client.pixels)
            litAfterFailure += p != 0;
    });
    sim::At(4500, [&] {
        secondPictures = vtest::CountCalls("BitBlt");
        sim::KeyPress('K');
    });
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    EXPECT_EQ(litAfterFailure, 0u);
    // Pictures at 10 ms (missing), 1010, 2010, 3010 and 4010 ms.
    EXPECT_EQ(vtest::CountCalls("GetObjectA"), 4) << "later pictures load again";
    EXPECT_EQ(secondPictures, 4);
    EXPECT_EQ(sim::Live().bitmaps, 0);
}

}  // namespace
