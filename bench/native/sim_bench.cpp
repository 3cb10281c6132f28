// sim_bench: the saver's own sources on the simulated Win32 layer, measured
// tick by tick. Two modes:
//
//   sim_bench ticks OUT.tsv [--screen WxH] [--clock S] [--pictures N]
//       A full-screen run with "Seconds" 3 and "Paint" 1. Every timer tick is
//       classified (first tick of a picture, painting, completing, holding,
//       last holding tick) and written to OUT.tsv with the platform calls it
//       made. Under valgrind --tool=callgrind (with --collect-atstart=no and
//       --toggle-collect=HostWindowProc) a sample of ticks is dumped, one
//       callgrind file per tick, labelled "tick N KIND pattern P".
//
//   sim_bench live OUT.tsv [--screen WxH] [--clock S] [--pictures N] [--paint 0|1]
//       A full-screen run with "Seconds" 1 until N pictures (default 1000)
//       have been shown; the live-object counts are written after pictures
//       1, 10, 100, 1000, ... and after the process has ended.
#include "host.h"
#include "show.h"
#include "simctl.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BENCH_HAVE_CALLGRIND 1
#else
#define BENCH_HAVE_CALLGRIND 0
#define RUNNING_ON_VALGRIND 0
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string mode;
    std::string out;
    int width = 1024;
    int height = 768;
    int64_t clock = 1700000000;
    int pictures = 0;
    int paint = 1;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr,
                 "usage: sim_bench ticks|live OUT.tsv [--screen WxH] [--clock S] "
                 "[--pictures N] [--paint 0|1]\n");
    std::exit(2);
}

Options Parse(int argc, char **argv)
{
    if (argc < 3)
        Usage();
    Options o;
    o.mode = argv[1];
    o.out = argv[2];
    if (o.mode != "ticks" && o.mode != "live")
        Usage();
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            Usage();
        std::string value = argv[++i];
        if (arg == "--screen") {
            if (std::sscanf(value.c_str(), "%dx%d", &o.width, &o.height) != 2)
                Usage();
        } else if (arg == "--clock") {
            o.clock = std::atoll(value.c_str());
        } else if (arg == "--pictures") {
            o.pictures = std::atoi(value.c_str());
        } else if (arg == "--paint") {
            o.paint = std::atoi(value.c_str());
        } else {
            Usage();
        }
    }
    if (o.pictures <= 0)
        o.pictures = o.mode == "ticks" ? 24 : 1000;
    return o;
}

// The platform functions that a tick may call; GDI ones are marked.
struct Watched {
    const char *name;
    bool gdi;
};
const Watched WatchedCalls[] = {
    {"KillTimer", false},      {"SetTimer", false},     {"Sleep", false},
    {"DefWindowProcA", false}, {"GetClientRect", false}, {"LoadBitmapA", true},
    {"GetObjectA", true},      {"GetDC", true},         {"CreateCompatibleDC", true},
    {"SelectObject", true},    {"GetStockObject", true}, {"FillRect", true},
    {"BitBlt", true},          {"DeleteDC", true},      {"ReleaseDC", true},
    {"DeleteObject", true},
    // The message loop's own calls around one dispatch, not the tick's.
    {"GetMessageA", false},    {"TranslateMessage", false}, {"DispatchMessageA", false},
};

std::map<std::string, int> CallCounts()
{
    std::map<std::string, int> counts;
    for (const Watched &w : WatchedCalls)
        counts[w.name] = sim::CallCount(w.name);
    return counts;
}

struct Snapshot {
    int phase;
    int step;
    int pattern;
    int countdown;
    uint64_t calls;
    std::map<std::string, int> byName;
};

Snapshot Take()
{
    return {ShowState.phase, PaintState.step, PaintState.pattern, ShowState.countdown,
            sim::CallCount(), CallCounts()};
}

const char *Kind(const Snapshot &before, const Snapshot &after)
{
    if (before.phase == Choosing)
        return after.phase == Painting ? "first" : "first-complete";
    if (before.phase == Painting)
        return after.phase == Painting ? "painting" : "completing";
    return after.phase == Choosing ? "holding-last" : "holding";
}

void WriteSettings(int seconds, int paint)
{
    char text[96];
    std::snprintf(text, sizeof text, "[ScreenSaver.Vellomire]\r\nSeconds=%d\r\nPaint=%d\r\n",
                  seconds, paint);
    sim::WriteWindowsFile("control.ini", text);
}

void EndRunSoon()
{
    sim::At(sim::Elapsed() + 1, [] { sim::KeyPress('A'); });
}

sim::Config World(const Options &o)
{
    sim::Config config;
    config.screenWidth = o.width;
    config.screenHeight = o.height;
    config.calendarSeconds = o.clock;
    config.commandLine = "vellomire.scr /s";
    config.logging = false;
    config.maxVirtualMs = 400ull * 24 * 3600 * 1000;
    config.maxMessages = 500000000;
    return config;
}

// ------------------------------------------------------------------ ticks
// Which ticks get a callgrind dump of their own: the first ticks of every
// picture, its completing tick, and the holding ticks.
bool Sampled(const char *kind, int tickOfPicture)
{
    return std::strcmp(kind, "painting") != 0 || tickOfPicture <= 4;
}

int RunTicks(const Options &o)
{
    sim::Reset(World(o));
    WriteSettings(3, 1);
    FILE *out = std::fopen(o.out.c_str(), "w");
    if (out == nullptr)
        return 2;
    std::fprintf(out, "tick\tkind\tpicture\tpattern\ttick_of_picture\tstep_before\tstep_after"
                      "\tdumped\tcalls");
    for (const Watched &w : WatchedCalls)
        std::fprintf(out, "\t%s", w.name);
    std::fprintf(out, "\n");

    Snapshot before = Take();
    int ticks = 0, pictures = 0, tickOfPicture = 0;
    bool ending = false;
    sim::SetIdleHook([&] {
        // Runs at each retrieval, outside the window procedure: the interval
        // since the last call is the dispatch of exactly one message.
        Snapshot after = Take();
        int killed = after.byName["KillTimer"] - before.byName["KillTimer"];
        bool dumped = false;
        if (killed > 0 && !ending) {
            ++ticks;
            const char *kind = Kind(before, after);
            if (before.phase == Choosing) {
                ++pictures;
                tickOfPicture = 0;
            }
            ++tickOfPicture;
            if (RUNNING_ON_VALGRIND && Sampled(kind, tickOfPicture)) {
                char label[96];
                std::snprintf(label, sizeof label, "tick %d %s pattern %d", ticks, kind,
                              after.pattern);
                CALLGRIND_DUMP_STATS_AT(label);
                dumped = true;
            }
            std::fprintf(out, "%d\t%s\t%d\t%d\t%d\t%d\t%d\t%d\t%llu", ticks, kind, pictures,
                         after.pattern, tickOfPicture, before.step, after.step, dumped ? 1 : 0,
                         (unsigned long long)(after.calls - before.calls));
            for (const Watched &w : WatchedCalls)
                std::fprintf(out, "\t%d", after.byName[w.name] - before.byName[w.name]);
            std::fprintf(out, "\n");
            if (after.phase == Choosing && pictures >= o.pictures) {
                ending = true;
                EndRunSoon();
            }
        }
        if (!dumped && RUNNING_ON_VALGRIND)
            CALLGRIND_ZERO_STATS;
        before = Take();
    });
    sim::ProcessResult result = sim::RunProcess([] { SaverEntry(); });
    sim::SetIdleHook(nullptr);
    std::fclose(out);
    if (!result.exited || result.exitCode != 0) {
        std::fprintf(stderr, "sim_bench: the run did not end normally (%s)\n",
                     result.hangReason.c_str());
        return 1;
    }
    std::printf("ticks %d pictures %d virtual_ms %llu\n", ticks, pictures,
                (unsigned long long)sim::Elapsed());
    return 0;
}

// ------------------------------------------------------------------ live
void WriteLive(FILE *out, const char *when, int pictures, uint64_t ticks)
{
    sim::LiveCounts live = sim::Live();
    std::fprintf(out, "%s\t%d\t%llu\t%llu\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%zu\n", when,
                 pictures, (unsigned long long)ticks, (unsigned long long)sim::Elapsed(),
                 live.windows, live.classes, live.timers, live.windowDcs, live.memoryDcs,
                 live.bitmaps, live.brushes, live.libraries, live.registryKeys,
                 sim::Misuse().size());
}

int RunLive(const Options &o)
{
    sim::Reset(World(o));
    WriteSettings(1, o.paint);
    FILE *out = std::fopen(o.out.c_str(), "w");
    if (out == nullptr)
        return 2;
    std::fprintf(out, "when\tpictures\tticks\tvirtual_ms\twindows\tclasses\ttimers\twindow_dcs"
                      "\tmemory_dcs\tbitmaps\tbrushes\tlibraries\tregistry_keys\tmisuse\n");
    int pictures = 0, next = 1;
    uint64_t ticks = 0;
    int lastPhase = ShowState.phase;
    int lastKills = 0;
    // Between two ticks nothing of a picture may be held: record the most
    // that any retrieval saw, beside the counts at the checkpoints.
    int heldBetweenTicks = 0;
    bool ending = false;
    sim::SetIdleHook([&] {
        int kills = sim::CallCount("KillTimer");
        if (kills != lastKills)
            ++ticks;
        lastKills = kills;
        if (lastPhase == Choosing && ShowState.phase != Choosing)
            ++pictures;
        lastPhase = ShowState.phase;
        sim::LiveCounts live = sim::Live();
        int held = live.windowDcs + live.memoryDcs + live.bitmaps + live.brushes;
        if (held > heldBetweenTicks)
            heldBetweenTicks = held;
        if (pictures == next && !ending) {
            WriteLive(out, "running", pictures, ticks);
            if (pictures >= o.pictures) {
                ending = true;
                EndRunSoon();
            }
            next *= 10;
            if (next > o.pictures && pictures < o.pictures)
                next = o.pictures;
        }
    });
    sim::ProcessResult result = sim::RunProcess([] { SaverEntry(); });
    sim::SetIdleHook(nullptr);
    WriteLive(out, "ended", pictures, ticks);
    std::fprintf(out, "# most picture objects held between ticks: %d\n", heldBetweenTicks);
    std::fclose(out);
    if (!result.exited || result.exitCode != 0) {
        std::fprintf(stderr, "sim_bench: the run did not end normally (%s)\n",
                     result.hangReason.c_str());
        return 1;
    }
    std::printf("pictures %d ticks %llu virtual_ms %llu held_between_ticks %d\n", pictures,
                (unsigned long long)ticks, (unsigned long long)sim::Elapsed(), heldBetweenTicks);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o = Parse(argc, argv);
    return o.mode == "ticks" ? RunTicks(o) : RunLive(o);
}
