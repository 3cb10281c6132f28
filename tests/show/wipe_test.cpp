// The eight wipe patterns: which lines each call copies, in which order, how
// many calls a picture takes, and what the window shows after every tick.
#include "host.h"
#include "log_tables.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const PatternNames[PATTERN_COUNT] = {"RowsDown",   "RowsUp",       "ColumnsRight",
                                                 "ColumnsLeft", "ColumnsOpen", "ColumnsClose",
                                                 "RowsOpen",   "RowsClose"};

// ---------------------------------------------------------------- copies

// Where a picture sits and which contexts a copy must go between.
struct Frame {
    std::string windowDc;
    std::string pictureDc;
    int originX = 0;
    int originY = 0;
    int width = 0;
    int height = 0;
};

struct Rect {
    int x, y, w, h;
};

// A line as the tables name it ("r5" row 5, "c7" column 7, "all") as the
// rectangle of the picture it brings.
Rect RectOfToken(const std::string &token, const Frame &frame)
{
    if (token == "all")
        return {0, 0, frame.width, frame.height};
    int index = std::stoi(token.substr(1));
    if (token[0] == 'r')
        return {0, index, frame.width, 1};
    return {index, 0, 1, frame.height};
}

// A rectangle of the picture by the name of the line it is. On pictures one
// pixel high or wide a row, a column and the whole picture can be the same
// rectangle; the name then is the first that fits, for expected and actual
// copies alike.
std::string NameOfRect(const Rect &r, const Frame &frame)
{
    if (r.x == 0 && r.w == frame.width && r.h == 1 && r.y >= 0 && r.y < frame.height)
        return "r" + std::to_string(r.y);
    if (r.y == 0 && r.h == frame.height && r.w == 1 && r.x >= 0 && r.x < frame.width)
        return "c" + std::to_string(r.x);
    if (r.x == 0 && r.y == 0 && r.w == frame.width && r.h == frame.height)
        return "all";
    std::ostringstream out;
    out << "rect " << r.x << "," << r.y << " " << r.w << "x" << r.h;
    return out.str();
}

std::string Canonical(const std::string &token, const Frame &frame)
{
    return NameOfRect(RectOfToken(token, frame), frame);
}

std::vector<std::string> Canonical(const std::vector<std::string> &tokens, const Frame &frame)
{
    std::vector<std::string> out;
    for (const std::string &token : tokens)
        out.push_back(Canonical(token, frame));
    return out;
}

std::string Joined(const std::vector<std::string> &items)
{
    std::string out;
    for (const std::string &item : items)
        out += (out.empty() ? "" : ", ") + item;
    return out;
}

// One logged BitBlt as the line of the picture it copies to its own place;
// anything else (other contexts, a sliding copy, another raster operation)
// shows verbatim with a "?".
std::string NameOfCopy(const std::vector<std::string> &a, const Frame &frame)
{
    if (a.size() != 9 || a[0] != frame.windowDc || a[5] != frame.pictureDc || a[8] != "SRCCOPY")
        return "? BitBlt(" + Joined(a) + ")";
    int x = std::stoi(a[1]), y = std::stoi(a[2]), w = std::stoi(a[3]), h = std::stoi(a[4]);
    int sx = std::stoi(a[6]), sy = std::stoi(a[7]);
    if (x - frame.originX != sx || y - frame.originY != sy)
        return "? moved BitBlt(" + Joined(a) + ")";
    return NameOfRect({sx, sy, w, h}, frame);
}

// Whether a copy reads only pixels of the picture.
bool ReadsInsidePicture(const std::vector<std::string> &a, int width, int height)
{
    if (a.size() != 9)
        return false;
    int w = std::stoi(a[3]), h = std::stoi(a[4]), sx = std::stoi(a[6]), sy = std::stoi(a[7]);
    return w > 0 && h > 0 && sx >= 0 && sy >= 0 && sx + w <= width && sy + h <= height;
}

// The text after " = " of a logged call.
std::string ResultOf(const sim::Event &event)
{
    size_t at = event.text.rfind(" = ");
    return at == std::string::npos ? std::string() : event.text.substr(at + 3);
}

std::string LastResult(const std::string &function)
{
    const std::vector<sim::Event> &log = sim::Log();
    for (size_t i = log.size(); i-- > 0;)
        if (log[i].kind == sim::EventKind::Call && log[i].function == function)
            return ResultOf(log[i]);
    return std::string();
}

std::vector<std::string> ArgumentsOf(const sim::Event &event)
{
    std::vector<std::string> args;
    size_t open = event.text.find('('), close = event.text.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return args;
    std::stringstream list(event.text.substr(open + 1, close - open - 1));
    std::string item;
    while (std::getline(list, item, ',')) {
        size_t first = item.find_first_not_of(' ');
        args.push_back(first == std::string::npos ? "" : item.substr(first));
    }
    return args;
}

// ---------------------------------------------------------------- pictures

// A test picture whose every pixel differs from black and from its
// neighbours, so that a wrong or missing line shows in the window.
sim::Image TestPicture(int width, int height)
{
    sim::Image image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels.push_back(0x800000u | uint32_t(x & 0xFF) << 8 | uint32_t(y & 0xFF));
    return image;
}

// The same picture under all eleven names, so that whichever the show
// chooses is this one.
void InstallEverywhere(const sim::Image &image)
{
    for (int i = 1; i <= PICTURE_COUNT; ++i)
        sim::InstallTestBitmap("map" + std::to_string(i), image);
}

// The generator as the show documents it, to pick the calendar second whose
// first picture gets a wanted pattern; the runs then confirm the pattern.
struct Generator {
    uint32_t state;
    int Next()
    {
        state = state * 214013u + 2531011u;
        return int((state >> 16) & 0x7FFF);
    }
};

// The first calendar second from 1 whose first picture is pictureIndex
// (-1: any) and is painted by pattern. The draws of a new picture: the
// choice, originX, originY, the pattern.
uint32_t SeedFor(int pattern, int pictureIndex = -1)
{
    for (uint32_t seed = 1;; ++seed) {
        Generator g{seed};
        int choice = g.Next() % PICTURE_COUNT;
        g.Next();
        g.Next();
        if (g.Next() % PATTERN_COUNT == pattern && (pictureIndex < 0 || choice == pictureIndex))
            return seed;
    }
}

// Calls a picture of this size takes: three steps a call, at least one call.
int ExpectedCalls(int pattern, int width, int height)
{
    auto up = [](int n) { return n <= 0 ? 1 : (n + 2) / 3; };
    switch (pattern) {
    case RowsDown:
    case RowsUp:
        return up(height);
    case ColumnsRight:
    case ColumnsLeft:
        return up(width);
    case ColumnsOpen:
    case ColumnsClose:
        return up(width / 2);
    default:
        return up(height / 2);
    }
}

// Whether pixel (x, y) of the picture is on the window after `calls` calls.
bool Revealed(int pattern, int width, int height, int calls, int x, int y)
{
    if (calls >= ExpectedCalls(pattern, width, height))
        return true;
    int lines = 3 * calls;
    switch (pattern) {
    case RowsDown: return y < lines;
    case RowsUp: return y >= height - lines;
    case ColumnsRight: return x < lines;
    case ColumnsLeft: return x >= width - lines;
    case ColumnsOpen: return x > width / 2 - lines && x < width / 2 + lines;
    case ColumnsClose: return x < lines || x >= width - lines;
    case RowsOpen: return y > height / 2 - lines && y < height / 2 + lines;
    default: return y < lines || y >= height - lines;
    }
}

// What the client area must hold: the picture's revealed lines at the
// origin, clipped, and black everywhere else. Empty when it does.
std::string CompareWindow(const sim::Image &client, const sim::Image *picture, int pattern,
                          int originX, int originY, int calls)
{
    int wrong = 0;
    std::ostringstream first;
    for (int y = 0; y < client.height; ++y) {
        for (int x = 0; x < client.width; ++x) {
            uint32_t expected = 0;
            if (picture != nullptr) {
                int px = x - originX, py = y - originY;
                if (px >= 0 && py >= 0 && px < picture->width && py < picture->height &&
                    Revealed(pattern, picture->width, picture->height, calls, px, py))
                    expected = picture->at(px, py);
            }
            uint32_t actual = client.at(x, y);
            if (actual != expected && wrong++ == 0)
                first << "first at (" << x << ", " << y << "): expected 0x" << std::hex << expected
                      << " got 0x" << actual << std::dec;
        }
    }
    if (wrong == 0)
        return std::string();
    std::ostringstream out;
    out << wrong << " pixels differ, " << first.str();
    return out.str();
}

// ---------------------------------------------------------------- direct calls

// One call of AdvanceWipe: the lines it copied and what it returned.
struct WipeCall {
    std::vector<std::string> copies;
    INT result;
    INT stepAfter;
    bool readsInside;
};

struct DirectWipe {
    Frame frame;
    std::vector<WipeCall> calls;
    bool finished = false;
};

// Drives AdvanceWipe by hand on the running saver's window with the named
// picture, from step 0 until it reports completion (at most 1000 calls).
DirectWipe DriveWipe(HWND window, const std::string &bitmap, int pattern, int originX, int originY)
{
    DirectWipe wipe;
    HDC windowDc = GetDC(window);
    wipe.frame.windowDc = LastResult("GetDC");
    HDC pictureDc = CreateCompatibleDC(windowDc);
    wipe.frame.pictureDc = LastResult("CreateCompatibleDC");
    HBITMAP picture = LoadBitmapA(HostState.instance, bitmap.c_str());
    BITMAP size = {};
    GetObjectA(picture, sizeof size, &size);
    HGDIOBJ kept = SelectObject(pictureDc, picture);
    wipe.frame.originX = originX;
    wipe.frame.originY = originY;
    wipe.frame.width = size.bmWidth;
    wipe.frame.height = size.bmHeight;

    PaintStateRecord saved = PaintState;
    PaintState.originX = originX;
    PaintState.originY = originY;
    PaintState.step = 0;
    PaintState.pattern = pattern;
    for (int i = 0; i < 1000 && !wipe.finished; ++i) {
        size_t mark = vtest::LogMark();
        WipeCall call;
        call.result = AdvanceWipe(windowDc, pictureDc, size.bmWidth, size.bmHeight);
        call.stepAfter = PaintState.step;
        call.readsInside = true;
        const std::vector<sim::Event> &log = sim::Log();
        for (size_t e = mark; e < log.size(); ++e) {
            if (log[e].kind != sim::EventKind::Call)
                continue;
            if (log[e].function != "BitBlt") {
                call.copies.push_back("? " + log[e].text);
                continue;
            }
            std::vector<std::string> args = ArgumentsOf(log[e]);
            call.copies.push_back(NameOfCopy(args, wipe.frame));
            call.readsInside = call.readsInside && ReadsInsidePicture(args, size.bmWidth, size.bmHeight);
        }
        wipe.finished = call.result != 0;
        wipe.calls.push_back(call);
    }
    PaintState = saved;

    SelectObject(pictureDc, kept);
    DeleteDC(pictureDc);
    ReleaseDC(window, windowDc);
    DeleteObject(picture);
    return wipe;
}

// Runs body as the program itself, with a plain visible window of its own
// to paint on: the calls that body makes are the program's calls and are
// logged (actions scheduled with sim::At run as the system and are not).
void WithWindow(const std::function<void(HWND)> &body, const std::function<void()> &install = {})
{
    vtest::StartWorld("");
    if (install)
        install();
    sim::ProcessResult result = vtest::RunProgram([&body] {
        HostState.instance = sim::ProgramInstance();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = HostState.instance;
        windowClass.lpszClassName = "WipeTestWindow";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, "WipeTestWindow", "wipes", WS_POPUP | WS_VISIBLE, 0, 0, 640,
                                      480, NULL, NULL, HostState.instance, NULL);
        body(window);
        DestroyWindow(window);
        ExitProcess(0);
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(vtest::SignedExit(result), 0);
}

// The exact copies of every call, by pattern, for small pictures whose odd
// and even sizes show a skipped line or an off-by-one at once.
struct OrderCase {
    int width;
    int height;
    int pattern;
    std::vector<std::vector<std::string>> calls;
};

const std::vector<OrderCase> &SmallOrders()
{
    static const std::vector<OrderCase> cases = {
        // 1 x 1: hw = hh = 0.
        {1, 1, RowsDown, {{"r0"}}},
        {1, 1, RowsUp, {{"r0"}}},
        {1, 1, ColumnsRight, {{"c0"}}},
        {1, 1, ColumnsLeft, {{"c0"}}},
        {1, 1, ColumnsOpen, {{"c0", "c0", "all"}}},
        {1, 1, ColumnsClose, {{"c0", "c0", "all"}}},
        {1, 1, RowsOpen, {{"r0", "r0", "all"}}},
        {1, 1, RowsClose, {{"r0", "r0", "all"}}},
        // 2 x 2: hw = hh = 1; the outward line of step 1 lies outside.
        {2, 2, RowsDown, {{"r0", "r1"}}},
        {2, 2, RowsUp, {{"r1", "r0"}}},
        {2, 2, ColumnsRight, {{"c0", "c1"}}},
        {2, 2, ColumnsLeft, {{"c1", "c0"}}},
        {2, 2, ColumnsOpen, {{"c1", "c1", "c0", "all"}}},
        {2, 2, ColumnsClose, {{"c0", "c1", "c1", "c0", "all"}}},
        {2, 2, RowsOpen, {{"r1", "r1", "r0", "all"}}},
        {2, 2, RowsClose, {{"r0", "r1", "r1", "r0", "all"}}},
        // 3 x 5: hw = 1, hh = 2.
        {3, 5, RowsDown, {{"r0", "r1", "r2"}, {"r3", "r4"}}},
        {3, 5, RowsUp, {{"r4", "r3", "r2"}, {"r1", "r0"}}},
        {3, 5, ColumnsRight, {{"c0", "c1", "c2"}}},
        {3, 5, ColumnsLeft, {{"c2", "c1", "c0"}}},
        {3, 5, ColumnsOpen, {{"c1", "c1", "c2", "c0", "all"}}},
        {3, 5, ColumnsClose, {{"c0", "c2", "c1", "c1", "all"}}},
        {3, 5, RowsOpen, {{"r2", "r2", "r3", "r1", "r4", "r0", "all"}}},
        {3, 5, RowsClose, {{"r0", "r4", "r1", "r3", "r2", "r2", "all"}}},
        // 4 x 1: hw = 2, hh = 0.
        {4, 1, RowsDown, {{"r0"}}},
        {4, 1, RowsUp, {{"r0"}}},
        {4, 1, ColumnsRight, {{"c0", "c1", "c2"}, {"c3"}}},
        {4, 1, ColumnsLeft, {{"c3", "c2", "c1"}, {"c0"}}},
        {4, 1, ColumnsOpen, {{"c2", "c2", "c3", "c1", "c0", "all"}}},
        {4, 1, ColumnsClose, {{"c0", "c3", "c1", "c2", "c2", "c1", "all"}}},
        {4, 1, RowsOpen, {{"r0", "r0", "all"}}},
        {4, 1, RowsClose, {{"r0", "r0", "all"}}},
        // 14 x 7: hw = 7 is reached by its own step in the last call; hh = 3
        // is reached by the call limit, so its step never comes.
        {14, 7, RowsDown, {{"r0", "r1", "r2"}, {"r3", "r4", "r5"}, {"r6"}}},
        {14, 7, RowsUp, {{"r6", "r5", "r4"}, {"r3", "r2", "r1"}, {"r0"}}},
        {14, 7, ColumnsRight,
         {{"c0", "c1", "c2"}, {"c3", "c4", "c5"}, {"c6", "c7", "c8"}, {"c9", "c10", "c11"},
          {"c12", "c13"}}},
        {14, 7, ColumnsLeft,
         {{"c13", "c12", "c11"}, {"c10", "c9", "c8"}, {"c7", "c6", "c5"}, {"c4", "c3", "c2"},
          {"c1", "c0"}}},
        {14, 7, ColumnsOpen,
         {{"c7", "c7", "c8", "c6", "c9", "c5"},
          {"c10", "c4", "c11", "c3", "c12", "c2"},
          {"c13", "c1", "c0", "all"}}},
        {14, 7, ColumnsClose,
         {{"c0", "c13", "c1", "c12", "c2", "c11"},
          {"c3", "c10", "c4", "c9", "c5", "c8"},
          {"c6", "c7", "c7", "c6", "all"}}},
        {14, 7, RowsOpen, {{"r3", "r3", "r4", "r2", "r5", "r1", "all"}}},
        {14, 7, RowsClose, {{"r0", "r6", "r1", "r5", "r2", "r4", "all"}}},
    };
    return cases;
}

std::string CaseName(int width, int height, int pattern)
{
    return std::string(PatternNames[pattern]) + " on " + std::to_string(width) + "x" +
           std::to_string(height);
}

// Each call copies the table's lines, in its order, and only the last one
// reports completion; step counts the steps taken.
TEST(Wipe, SmallPicturesLineByLine)
{
    std::map<std::string, DirectWipe> seen;
    WithWindow(
        [&seen](HWND window) {
            for (const OrderCase &c : SmallOrders()) {
                std::string bitmap = "wipe" + std::to_string(c.width) + "x" + std::to_string(c.height);
                seen[CaseName(c.width, c.height, c.pattern)] = DriveWipe(window, bitmap, c.pattern, 17, 9);
            }
        },
        [] {
            for (const OrderCase &c : SmallOrders())
                sim::InstallTestBitmap("wipe" + std::to_string(c.width) + "x" + std::to_string(c.height),
                                       TestPicture(c.width, c.height));
        });
    for (const OrderCase &c : SmallOrders()) {
        std::string name = CaseName(c.width, c.height, c.pattern);
        ASSERT_TRUE(seen.count(name)) << name;
        const DirectWipe &wipe = seen[name];
        EXPECT_TRUE(wipe.finished) << name;
        ASSERT_EQ(wipe.calls.size(), c.calls.size()) << name;
        for (size_t i = 0; i < c.calls.size(); ++i) {
            EXPECT_TRUE(vtest::SameSequence(Canonical(c.calls[i], wipe.frame), wipe.calls[i].copies))
                << name << ", call " << i + 1;
            EXPECT_EQ(wipe.calls[i].result, i + 1 == c.calls.size() ? 1 : 0) << name << ", call " << i + 1;
            EXPECT_TRUE(wipe.calls[i].readsInside) << name << ", call " << i + 1;
        }
    }
    EXPECT_TRUE(sim::Misuse().empty()) << sim::Misuse().front();
}

// The step counter after each call: three more per call, and for the paired
// sweeps the step of the half itself only when the call limit allows it.
TEST(Wipe, StepCounterAfterEachCall)
{
    struct StepCase {
        int width, height, pattern;
        std::vector<INT> steps;
    };
    const StepCase cases[] = {
        {3, 5, RowsDown, {3, 5}},
        {4, 1, ColumnsLeft, {3, 4}},
        {1, 1, ColumnsOpen, {1}},
        {2, 2, RowsClose, {2}},
        {3, 5, RowsOpen, {3}},
        {14, 7, ColumnsOpen, {3, 6, 8}},
        {14, 7, RowsClose, {3}},
    };
    std::vector<std::vector<INT>> seen;
    WithWindow(
        [&](HWND window) {
            for (const StepCase &c : cases) {
                DirectWipe wipe = DriveWipe(window, "steps" + std::to_string(c.width) + "x" +
                                                        std::to_string(c.height),
                                            c.pattern, 0, 0);
                std::vector<INT> steps;
                for (const WipeCall &call : wipe.calls)
                    steps.push_back(call.stepAfter);
                seen.push_back(steps);
            }
        },
        [&] {
            for (const StepCase &c : cases)
                sim::InstallTestBitmap("steps" + std::to_string(c.width) + "x" + std::to_string(c.height),
                                       TestPicture(c.width, c.height));
        });
    ASSERT_EQ(seen.size(), sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], cases[i].steps) << CaseName(cases[i].width, cases[i].height, cases[i].pattern);
}

// The worked examples on the pictures' own sizes, by hand on the real
// bitmaps: given calls (1-based) and the number of calls in all.
TEST(Wipe, ExamplesOnThePictureSizes)
{
    struct Example {
        const char *bitmap;
        int pattern;
        size_t totalCalls;
        std::map<size_t, std::vector<std::string>> calls;
    };
    std::vector<Example> examples = {
        {"map1", RowsDown, 101, {{101, {"r300"}}}},
        {"map1", RowsUp, 101, {{1, {"r300", "r299", "r298"}}, {101, {"r0"}}}},
        {"map1", ColumnsLeft, 150, {{1, {"c449", "c448", "c447"}}, {150, {"c2", "c1", "c0"}}}},
        {"map1", ColumnsOpen, 75,
         {{1, {"c225", "c225", "c226", "c224", "c227", "c223"}},
          {75, {"c447", "c3", "c448", "c2", "c449", "c1", "all"}}}},
        {"map1", ColumnsClose, 75,
         {{1, {"c0", "c449", "c1", "c448", "c2", "c447"}},
          {75, {"c222", "c227", "c223", "c226", "c224", "c225", "all"}}}},
        {"map6", RowsOpen, 51, {{51, {"r302", "r2", "r303", "r1", "r304", "r0", "all"}}}},
        {"map2", RowsOpen, 45, {{45, {"r267", "r3", "r268", "r2", "r269", "r1", "all"}}}},
        {"map1", RowsClose, 50, {{50, {"r147", "r153", "r148", "r152", "r149", "r151", "all"}}}},
    };
    // RowsDown on 301 rows: calls 1 to 100 copy three rows each, in order.
    for (size_t call = 1; call <= 100; ++call) {
        int row = int(call - 1) * 3;
        examples[0].calls[call] = {"r" + std::to_string(row), "r" + std::to_string(row + 1),
                                   "r" + std::to_string(row + 2)};
    }
    std::vector<DirectWipe> seen;
    WithWindow([&](HWND window) {
        for (const Example &e : examples)
            seen.push_back(DriveWipe(window, e.bitmap, e.pattern, 0, 0));
    });
    ASSERT_EQ(seen.size(), examples.size());
    for (size_t i = 0; i < examples.size(); ++i) {
        const Example &e = examples[i];
        std::string name = std::string(PatternNames[e.pattern]) + " on " + e.bitmap;
        ASSERT_EQ(seen[i].calls.size(), e.totalCalls) << name;
        EXPECT_TRUE(seen[i].finished) << name;
        for (const auto &entry : e.calls)
            EXPECT_TRUE(vtest::SameSequence(Canonical(entry.second, seen[i].frame),
                                            seen[i].calls[entry.first - 1].copies))
                << name << ", call " << entry.first;
        for (size_t c = 0; c + 1 < seen[i].calls.size(); ++c)
            EXPECT_EQ(seen[i].calls[c].result, 0) << name << ", call " << c + 1;
    }
}

// ---------------------------------------------------------------- whole runs

// One tick of the show while it paints a picture.
struct PaintTick {
    uint64_t time = 0;
    bool filled = false;            // the window was blackened: a new picture
    bool blitBeforeFill = false;    // a copy came before the blackening
    std::vector<std::vector<std::string>> copies;   // BitBlt arguments
    std::string windowDc, pictureDc;
    std::string period;             // SetTimer's period at the end of the tick
};

struct PictureRun {
    std::string name;
    int originX = 0, originY = 0, pattern = -1;
    std::vector<PaintTick> ticks;   // every tick that loaded the picture
};

struct WholeRun {
    int32_t exitCode = -99;
    std::vector<PictureRun> pictures;
    std::vector<std::string> pixelFaults;
    int snapshotsChecked = 0;
    std::vector<std::string> misuse;
};

enum class PixelChecks { EveryTick, FirstTickAndCompletion };

struct RunSetup {
    int clientWidth = 800;
    int clientHeight = 600;
    bool preview = false;
    uint32_t seed = 1;
    std::shared_ptr<sim::Image> testPicture;   // under all eleven names; null: the real ones
    std::string settings = "Seconds=1\r\n";
    uint64_t runMs = 7000;
    PixelChecks checks = PixelChecks::EveryTick;
};

// Watches a run from inside: every time a timer message is retrieved, the
// previous tick's drawing is complete, and the window must show the current
// picture's lines up to the number of calls made for it.
struct PixelWatch {
    const RunSetup &setup;
    WholeRun &run;
    std::map<std::string, sim::Image> pictures;
    bool inPaint = false;
    int picturesStarted = 0;
    int callsForPicture = 0;
    int snapshot = 0;
    bool completionChecked = false;

    const sim::Image *Picture(const std::string &name)
    {
        if (setup.testPicture)
            return setup.testPicture.get();
        auto it = pictures.find(name);
        if (it == pictures.end())
            it = pictures.emplace(name, sim::ResourceBitmap(name)).first;
        return &it->second;
    }

    void Observe(const sim::Event &event)
    {
        if (event.kind == sim::EventKind::Call) {
            if (event.function == "LoadBitmapA") {
                inPaint = true;
                ++callsForPicture;
            } else if (event.function == "FillRect" && inPaint) {
                ++picturesStarted;
                callsForPicture = 1;
                completionChecked = false;
            } else if (event.function == "ReleaseDC") {
                inPaint = false;
            }
        } else if (event.kind == sim::EventKind::Posted && event.message == WM_TIMER) {
            Check();
        }
    }

    void Check()
    {
        int index = snapshot++;
        if (HostState.saverWindow == nullptr)
            return;
        const sim::Image *picture = picturesStarted > 0 ? Picture(ShowState.pictureName) : nullptr;
        int total = picture ? ExpectedCalls(PaintState.pattern, picture->width, picture->height) : 0;
        if (picture != nullptr && int(run.pictures.size()) < picturesStarted) {
            PictureRun info;
            info.name = ShowState.pictureName;
            info.originX = PaintState.originX;
            info.originY = PaintState.originY;
            info.pattern = PaintState.pattern;
            run.pictures.push_back(info);
        }
        bool wanted = setup.checks == PixelChecks::EveryTick || picture == nullptr ||
                      callsForPicture == 1 || (callsForPicture >= total && !completionChecked);
        if (!wanted)
            return;
        if (picture != nullptr && callsForPicture >= total)
            completionChecked = true;
        ++run.snapshotsChecked;
        std::string fault = CompareWindow(sim::ClientPixels(HostState.saverWindow), picture,
                                          PaintState.pattern, PaintState.originX,
                                          PaintState.originY, callsForPicture);
        if (!fault.empty()) {
            std::ostringstream out;
            out << "snapshot " << index << ", picture " << picturesStarted << " ("
                << ShowState.pictureName << " " << PatternNames[PaintState.pattern & 7] << " at "
                << PaintState.originX << ", " << PaintState.originY << ") after "
                << callsForPicture << " calls: " << fault;
            run.pixelFaults.push_back(out.str());
        }
    }
};

struct ObserverGuard {
    ~ObserverGuard() { sim::SetObserver(nullptr); }
};

// Splits the log into the ticks that painted, grouped by picture.
void CollectTicks(WholeRun *run)
{
    const std::vector<sim::Event> &log = sim::Log();
    PaintTick tick;
    bool inTick = false, loaded = false;
    int picture = -1;
    auto finish = [&] {
        if (inTick && loaded) {
            if (tick.filled)
                ++picture;
            if (picture >= 0 && picture < int(run->pictures.size()))
                run->pictures[size_t(picture)].ticks.push_back(tick);
        }
        tick = PaintTick();
        inTick = false;
        loaded = false;
    };
    for (const sim::Event &event : log) {
        if (event.kind == sim::EventKind::Posted) {
            finish();
            if (event.message == WM_TIMER) {
                inTick = true;
                tick.time = event.time;
            }
            continue;
        }
        if (!inTick || event.kind != sim::EventKind::Call)
            continue;
        if (event.function == "LoadBitmapA") {
            loaded = true;
        } else if (event.function == "GetDC") {
            tick.windowDc = ResultOf(event);
        } else if (event.function == "CreateCompatibleDC") {
            tick.pictureDc = ResultOf(event);
        } else if (event.function == "FillRect" && loaded) {
            tick.filled = true;
            tick.blitBeforeFill = !tick.copies.empty();
        } else if (event.function == "BitBlt") {
            tick.copies.push_back(ArgumentsOf(event));
        } else if (event.function == "SetTimer") {
            std::vector<std::string> args = ArgumentsOf(event);
            tick.period = args.size() >= 3 ? args[2] : "?";
        }
    }
    finish();
}

WholeRun RunShow(const RunSetup &setup)
{
    WholeRun run;
    sim::Config config;
    config.calendarSeconds = setup.seed;
    HWND parent = nullptr;
    if (setup.preview) {
        // Window handles are given out in creation order, so the parent made
        // again after the second reset has the handle the command line names.
        sim::Reset(config);
        parent = sim::CreateOutsideWindow("Display Properties", setup.clientWidth, setup.clientHeight);
        config.commandLine = "vellomire.scr /p " + std::to_string((unsigned long)(uintptr_t)parent);
        sim::Reset(config);
        HWND again = sim::CreateOutsideWindow("Display Properties", setup.clientWidth,
                                              setup.clientHeight);
        EXPECT_EQ(again, parent);
    } else {
        config.screenWidth = setup.clientWidth;
        config.screenHeight = setup.clientHeight;
        config.commandLine = "vellomire.scr /s";
        sim::Reset(config);
    }
    if (!setup.settings.empty())
        vtest::WriteSettings(setup.settings);
    if (setup.testPicture)
        InstallEverywhere(*setup.testPicture);
    sim::At(setup.runMs, [parent] {
        if (parent != nullptr)
            sim::DestroyFromOutside(parent);
        else if (!sim::LiveWindows().empty())
            sim::KeyPress('Q');
    });
    ObserverGuard guard;
    PixelWatch watch{setup, run, {}};
    sim::SetObserver([&watch](const sim::Event &event) { watch.Observe(event); });
    sim::ProcessResult result = vtest::RunProgram();
    sim::SetObserver(nullptr);
    run.exitCode = vtest::SignedExit(result);
    run.misuse = sim::Misuse();
    CollectTicks(&run);
    return run;
}

Frame FrameOf(const PictureRun &picture, const PaintTick &tick, int width, int height)
{
    Frame frame;
    frame.windowDc = tick.windowDc;
    frame.pictureDc = tick.pictureDc;
    frame.originX = picture.originX;
    frame.originY = picture.originY;
    frame.width = width;
    frame.height = height;
    return frame;
}

// The copies of each tick by line names.
std::vector<std::vector<std::string>> CopiesByTick(const PictureRun &picture, int width, int height)
{
    std::vector<std::vector<std::string>> out;
    for (const PaintTick &tick : picture.ticks) {
        Frame frame = FrameOf(picture, tick, width, height);
        std::vector<std::string> names;
        for (const std::vector<std::string> &copy : tick.copies)
            names.push_back(NameOfCopy(copy, frame));
        out.push_back(names);
    }
    return out;
}

// What holds for every picture of every run: the counts, the 40 ms rhythm,
// the blackening before the first copies, copies only from inside the
// picture, each line of a single sweep exactly once, and the whole copy
// only at the end of a paired sweep.
void CheckPicture(const std::string &name, const PictureRun &picture, int width, int height,
                  bool complete)
{
    ASSERT_FALSE(picture.ticks.empty()) << name;
    int expected = ExpectedCalls(picture.pattern, width, height);
    if (complete) {
        EXPECT_EQ(int(picture.ticks.size()), expected) << name << ": calls";
    }
    EXPECT_TRUE(picture.ticks[0].filled) << name;
    EXPECT_FALSE(picture.ticks[0].blitBeforeFill) << name;
    EXPECT_FALSE(picture.ticks[0].copies.empty()) << name << ": the first tick copies at once";
    std::map<std::string, int> times;
    for (size_t i = 0; i < picture.ticks.size(); ++i) {
        const PaintTick &tick = picture.ticks[i];
        bool last = int(i) + 1 == expected;
        if (i > 0) {
            EXPECT_FALSE(tick.filled) << name << ", call " << i + 1;
            EXPECT_EQ(tick.time - picture.ticks[i - 1].time, 40u) << name << ", call " << i + 1;
        }
        EXPECT_EQ(tick.period, last ? "1000" : "40") << name << ", call " << i + 1;
        EXPECT_LE(tick.copies.size(), picture.pattern >= ColumnsOpen ? 7u : 3u)
            << name << ", call " << i + 1;
        Frame frame = FrameOf(picture, tick, width, height);
        for (size_t c = 0; c < tick.copies.size(); ++c) {
            EXPECT_TRUE(ReadsInsidePicture(tick.copies[c], width, height))
                << name << ", call " << i + 1 << ": " << Joined(tick.copies[c]);
            std::string line = NameOfCopy(tick.copies[c], frame);
            bool closing = picture.pattern >= ColumnsOpen && last && c + 1 == tick.copies.size();
            if (closing) {
                EXPECT_EQ(line, Canonical("all", frame)) << name << ": the closing copy";
            } else {
                ++times[line];
            }
        }
    }
    if (!complete)
        return;
    Frame frame = FrameOf(picture, picture.ticks[0], width, height);
    if (picture.pattern <= ColumnsLeft) {
        int lines = picture.pattern <= RowsUp ? height : width;
        std::string kind = picture.pattern <= RowsUp ? "r" : "c";
        for (int l = 0; l < lines; ++l)
            EXPECT_EQ(times[Canonical(kind + std::to_string(l), frame)], 1)
                << name << ": line " << kind << l;
        EXPECT_EQ(int(times.size()), lines) << name << ": nothing but its lines";
    } else if (Canonical("all", frame) == "all") {
        // (On a picture one line high or wide the whole picture is a line.)
        EXPECT_EQ(times.count("all"), 0u) << name << ": whole copy before the end";
    }
}

// Long enough for the slowest picture (150 calls 40 ms apart) and the first
// hold tick after it, at which its finished state is checked.
const uint64_t LongestPaint = 150 * 40 + 1100;

const int Heights[] = {270, 295, 301, 305};
// Calls per picture of the set, by height and pattern.
const int CallsByHeight[4][PATTERN_COUNT] = {
    {90, 90, 150, 150, 75, 75, 45, 45},
    {99, 99, 150, 150, 75, 75, 49, 49},
    {101, 101, 150, 150, 75, 75, 50, 50},
    {102, 102, 150, 150, 75, 75, 51, 51},
};
// The row of that table for each of MAP1 to MAP11, by its height.
const int HeightRowOfPicture[PICTURE_COUNT] = {2, 0, 2, 2, 2, 3, 3, 1, 2, 2, 2};

// Every pattern on each of the eleven pictures, full screen at 800 x 600:
// calls per picture held against the table, 40 ms apart, the window right
// after the first call and when the picture is complete.
TEST(Wipe, CallsPerPictureOfTheSet)
{
    for (int picture = 0; picture < PICTURE_COUNT; ++picture) {
        int row = HeightRowOfPicture[picture];
        std::string bitmap = "map" + std::to_string(picture + 1);
        sim::Reset();
        sim::Image image = sim::ResourceBitmap(bitmap);
        ASSERT_EQ(image.width, 450) << bitmap;
        ASSERT_EQ(image.height, Heights[row]) << bitmap;
        for (int pattern = 0; pattern < PATTERN_COUNT; ++pattern) {
            RunSetup setup;
            setup.seed = SeedFor(pattern, picture);
            setup.checks = PixelChecks::FirstTickAndCompletion;
            setup.runMs = LongestPaint;
            std::string name = std::string(PatternNames[pattern]) + " on " + bitmap + " (seed " +
                               std::to_string(setup.seed) + ")";
            WholeRun run = RunShow(setup);
            EXPECT_EQ(run.exitCode, 0) << name;
            ASSERT_FALSE(run.pictures.empty()) << name;
            const PictureRun &first = run.pictures[0];
            EXPECT_EQ(first.name, bitmap) << name;
            EXPECT_EQ(first.pattern, pattern) << name;
            EXPECT_EQ(int(first.ticks.size()), CallsByHeight[row][pattern]) << name;
            CheckPicture(name, first, 450, Heights[row], true);
            for (const std::string &fault : run.pixelFaults)
                ADD_FAILURE() << name << ": " << fault;
            EXPECT_GE(run.snapshotsChecked, 3) << name;
            EXPECT_TRUE(run.misuse.empty()) << name << ": " << run.misuse.front();
        }
    }
}

// The worked examples once more, this time as the show paints them in a
// run: the copies of the given ticks of the first picture.
TEST(Wipe, ExamplesInARun)
{
    struct Example {
        int pictureIndex;
        int height;
        int pattern;
        std::map<size_t, std::vector<std::string>> calls;
    };
    const Example examples[] = {
        {0, 301, RowsDown, {{1, {"r0", "r1", "r2"}}, {100, {"r297", "r298", "r299"}}, {101, {"r300"}}}},
        {0, 301, RowsUp, {{1, {"r300", "r299", "r298"}}, {101, {"r0"}}}},
        {0, 301, ColumnsLeft, {{1, {"c449", "c448", "c447"}}, {150, {"c2", "c1", "c0"}}}},
        {0, 301, ColumnsOpen,
         {{1, {"c225", "c225", "c226", "c224", "c227", "c223"}},
          {75, {"c447", "c3", "c448", "c2", "c449", "c1", "all"}}}},
        {0, 301, ColumnsClose,
         {{1, {"c0", "c449", "c1", "c448", "c2", "c447"}},
          {75, {"c222", "c227", "c223", "c226", "c224", "c225", "all"}}}},
        {5, 305, RowsOpen, {{51, {"r302", "r2", "r303", "r1", "r304", "r0", "all"}}}},
        {1, 270, RowsOpen, {{45, {"r267", "r3", "r268", "r2", "r269", "r1", "all"}}}},
        {0, 301, RowsClose, {{50, {"r147", "r153", "r148", "r152", "r149", "r151", "all"}}}},
    };
    for (const Example &e : examples) {
        RunSetup setup;
        setup.seed = SeedFor(e.pattern, e.pictureIndex);
        setup.checks = PixelChecks::FirstTickAndCompletion;
        setup.runMs = LongestPaint;
        std::string name = std::string(PatternNames[e.pattern]) + " on height " + std::to_string(e.height);
        WholeRun run = RunShow(setup);
        ASSERT_FALSE(run.pictures.empty()) << name;
        std::vector<std::vector<std::string>> copies = CopiesByTick(run.pictures[0], 450, e.height);
        Frame frame = FrameOf(run.pictures[0], run.pictures[0].ticks[0], 450, e.height);
        for (const auto &entry : e.calls) {
            ASSERT_GE(copies.size(), entry.first) << name;
            EXPECT_TRUE(vtest::SameSequence(Canonical(entry.second, frame), copies[entry.first - 1]))
                << name << ", call " << entry.first;
        }
    }
}

// Small pictures in whole runs: the table's copies tick by tick, and the
// window pixel for pixel after every tick, in windows larger and smaller
// than the picture.
TEST(Wipe, SmallPicturesInRuns)
{
    struct Client {
        int width, height;
        bool preview;
    };
    const Client clients[] = {{64, 48, false}, {2, 3, true}, {9, 4, true}};
    for (const Client &client : clients) {
        for (const OrderCase &c : SmallOrders()) {
            RunSetup setup;
            setup.clientWidth = client.width;
            setup.clientHeight = client.height;
            setup.preview = client.preview;
            setup.seed = SeedFor(c.pattern);
            setup.testPicture = std::make_shared<sim::Image>(TestPicture(c.width, c.height));
            setup.runMs = 1500;
            std::string name = CaseName(c.width, c.height, c.pattern) + " in " +
                               (client.preview ? "a preview " : "a screen ") +
                               std::to_string(client.width) + "x" + std::to_string(client.height);
            WholeRun run = RunShow(setup);
            EXPECT_EQ(run.exitCode, 0) << name;
            ASSERT_FALSE(run.pictures.empty()) << name;
            const PictureRun &first = run.pictures[0];
            ASSERT_EQ(first.pattern, c.pattern) << name;
            std::vector<std::vector<std::string>> copies = CopiesByTick(first, c.width, c.height);
            ASSERT_EQ(copies.size(), c.calls.size()) << name;
            Frame frame = FrameOf(first, first.ticks[0], c.width, c.height);
            for (size_t i = 0; i < copies.size(); ++i)
                EXPECT_TRUE(vtest::SameSequence(Canonical(c.calls[i], frame), copies[i]))
                    << name << ", call " << i + 1;
            CheckPicture(name, first, c.width, c.height, true);
            for (const std::string &fault : run.pixelFaults)
                ADD_FAILURE() << name << ": " << fault;
            EXPECT_TRUE(run.misuse.empty()) << name << ": " << run.misuse.front();
        }
    }
}

// Odd and even sizes beyond the tables: calls per picture by pattern.
TEST(Wipe, CallsPerPictureOfOtherSizes)
{
    struct SizeCase {
        int width, height;
        int calls[PATTERN_COUNT];
    };
    const SizeCase cases[] = {
        {1, 1, {1, 1, 1, 1, 1, 1, 1, 1}},
        {2, 2, {1, 1, 1, 1, 1, 1, 1, 1}},
        {3, 5, {2, 2, 1, 1, 1, 1, 1, 1}},
        {4, 1, {1, 1, 2, 2, 1, 1, 1, 1}},
        {14, 7, {3, 3, 5, 5, 3, 3, 1, 1}},
        {7, 14, {5, 5, 3, 3, 1, 1, 3, 3}},
        {13, 19, {7, 7, 5, 5, 2, 2, 3, 3}},
        {6, 20, {7, 7, 2, 2, 1, 1, 4, 4}},
        {20, 6, {2, 2, 7, 7, 4, 4, 1, 1}},
    };
    for (const SizeCase &c : cases) {
        for (int pattern = 0; pattern < PATTERN_COUNT; ++pattern) {
            RunSetup setup;
            setup.clientWidth = 40;
            setup.clientHeight = 30;
            setup.seed = SeedFor(pattern);
            setup.testPicture = std::make_shared<sim::Image>(TestPicture(c.width, c.height));
            setup.runMs = 1500;
            std::string name = CaseName(c.width, c.height, pattern);
            WholeRun run = RunShow(setup);
            ASSERT_FALSE(run.pictures.empty()) << name;
            EXPECT_EQ(int(run.pictures[0].ticks.size()), c.calls[pattern]) << name;
            CheckPicture(name, run.pictures[0], c.width, c.height, true);
            for (const std::string &fault : run.pixelFaults)
                ADD_FAILURE() << name << ": " << fault;
        }
    }
}

// Real pictures in windows of several sizes, smaller ones and previews
// included (negative origins): the window after every tick holds exactly
// the lines copied so far, clipped, and black elsewhere.
TEST(Wipe, WindowAfterEveryTick)
{
    struct Client {
        int width, height;
        bool preview;
        PixelChecks checks;
    };
    const Client clients[] = {
        {640, 480, false, PixelChecks::FirstTickAndCompletion},
        {450, 301, false, PixelChecks::FirstTickAndCompletion},
        {320, 240, false, PixelChecks::EveryTick},
        {152, 112, true, PixelChecks::EveryTick},
        {200, 320, true, PixelChecks::EveryTick},
    };
    for (const Client &client : clients) {
        for (int pattern = 0; pattern < PATTERN_COUNT; ++pattern) {
            RunSetup setup;
            setup.clientWidth = client.width;
            setup.clientHeight = client.height;
            setup.preview = client.preview;
            setup.seed = SeedFor(pattern, 0);
            setup.runMs = LongestPaint;
            setup.checks = client.checks;
            std::string name = std::string(PatternNames[pattern]) + " in " +
                               (client.preview ? "a preview " : "a screen ") +
                               std::to_string(client.width) + "x" + std::to_string(client.height);
            WholeRun run = RunShow(setup);
            EXPECT_EQ(run.exitCode, 0) << name;
            ASSERT_FALSE(run.pictures.empty()) << name;
            const PictureRun &first = run.pictures[0];
            EXPECT_EQ(first.name, "map1") << name;
            CheckPicture(name, first, 450, 301, true);
            if (client.checks == PixelChecks::EveryTick) {
                EXPECT_GT(run.snapshotsChecked, int(first.ticks.size())) << name;
            } else {
                EXPECT_GE(run.snapshotsChecked, 3) << name;
            }
            for (const std::string &fault : run.pixelFaults)
                ADD_FAILURE() << name << ": " << fault;
            EXPECT_TRUE(run.misuse.empty()) << name << ": " << run.misuse.front();
            if (client.width < 450) {
                EXPECT_LE(first.originX, 0) << name;
            }
            if (client.height < 301) {
                EXPECT_LE(first.originY, 0) << name;
            }
        }
    }
}

// The next picture starts on a freshly blackened window and its first
// steps are on it in the same tick: FillRect, then the copies.
TEST(Wipe, NextPictureStartsOnBlackWithItsFirstSteps)
{
    RunSetup setup;
    setup.seed = 1;
    setup.settings = "Seconds=1\r\n";
    // map9 by ColumnsOpen takes 75 calls; a second later the next begins.
    setup.runMs = 75 * 40 + 1000 + 3 * 40 + 20;
    WholeRun run = RunShow(setup);
    ASSERT_GE(run.pictures.size(), 2u);
    EXPECT_EQ(run.pictures[0].name, "map9");
    EXPECT_EQ(run.pictures[0].pattern, ColumnsOpen);
    EXPECT_EQ(run.pictures[0].originX, 198);
    EXPECT_EQ(run.pictures[0].originY, 58);
    EXPECT_EQ(run.pictures[1].name, "map8");
    EXPECT_EQ(run.pictures[1].pattern, RowsOpen);
    EXPECT_EQ(run.pictures[1].originX, 169);
    EXPECT_EQ(run.pictures[1].originY, 107);
    const PictureRun &second = run.pictures[1];
    ASSERT_FALSE(second.ticks.empty());
    EXPECT_EQ(second.ticks[0].time - run.pictures[0].ticks.back().time, 1000u);
    EXPECT_TRUE(second.ticks[0].filled);
    EXPECT_FALSE(second.ticks[0].blitBeforeFill);
    // RowsOpen on 295 rows (hh 147): rows 147, 147, 148, 146, 149, 145.
    Frame frame = FrameOf(second, second.ticks[0], 450, 295);
    EXPECT_TRUE(vtest::SameSequence(Canonical({"r147", "r147", "r148", "r146", "r149", "r145"}, frame),
                                    CopiesByTick(second, 450, 295)[0]));
    CheckPicture("map8", second, 450, 295, false);
    for (const std::string &fault : run.pixelFaults)
        ADD_FAILURE() << fault;
    // The tick that starts the picture, in order.
    std::vector<std::string> expected = {"KillTimer", "LoadBitmapA", "GetClientRect", "FillRect",
                                         "BitBlt",    "BitBlt",      "BitBlt",        "BitBlt",
                                         "BitBlt",    "BitBlt",      "ReleaseDC",     "SetTimer"};
    std::vector<std::string> calls;
    bool inTick = false;
    for (const sim::Event &event : sim::Log()) {
        if (event.kind == sim::EventKind::Posted) {
            inTick = event.message == WM_TIMER && event.time == second.ticks[0].time;
            continue;
        }
        if (inTick && event.kind == sim::EventKind::Call)
            calls.push_back(event.function);
    }
    EXPECT_TRUE(vtest::InOrder(expected, calls));
}

}  // namespace
