// vellomire-sim: the saver's own sources run on the simulated Win32 layer,
// as a command-line program for tests, demonstrations and benchmarks.
//
//   vellomire-sim [options] -- TAIL      runs "vellomire.scr TAIL"
//   vellomire-sim [options] --cmdline TEXT
//
// Options: --screen WxH, --parent WxH, --clock SECONDS, --family 95|nt,
// --windows-dir DIR, --for MS, --at MS:EVENT (key, click, move:DX,DY,
// deactivate), --trace, --frames DIR, --frames-every-tick, --no-log.
#include "host.h"
#include "show.h"
#include "simctl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TimedEvent {
    uint64_t at;
    std::string what;
};

struct Options {
    std::optional<std::string> commandLine;
    std::string tail;
    bool tailGiven = false;
    int screenWidth = 1024;
    int screenHeight = 768;
    int parentWidth = 0;
    int parentHeight = 0;
    int64_t clock = 0;
    bool win95 = false;
    std::string windowsDir;
    uint64_t runFor = 60000;
    std::vector<TimedEvent> events;
    bool trace = false;
    std::string framesDir;
    bool framesEveryTick = false;
};

[[noreturn]] void Usage(const std::string &problem)
{
    std::fprintf(stderr,
                 "vellomire-sim: %s\n"
                 "usage: vellomire-sim [--screen WxH] [--parent WxH] [--clock SECONDS]\n"
                 "                     [--family 95|nt] [--windows-dir DIR] [--for MS]\n"
                 "                     [--at MS:key|click|move:DX,DY|deactivate]... [--trace]\n"
                 "                     [--frames DIR] [--frames-every-tick]\n"
                 "                     (-- TAIL... | --cmdline TEXT)\n",
                 problem.c_str());
    std::exit(2);
}

bool ParseSize(const std::string &text, int *width, int *height)
{
    char extra;
    return std::sscanf(text.c_str(), "%dx%d%c", width, height, &extra) == 2 && *width > 0 &&
           *height > 0;
}

bool ParseNumber(const std::string &text, int64_t *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0')
        return false;
    *value = parsed;
    return true;
}

bool ValidEvent(const std::string &what)
{
    if (what == "key" || what == "click" || what == "deactivate")
        return true;
    int dx, dy;
    char extra;
    return std::sscanf(what.c_str(), "move:%d,%d%c", &dx, &dy, &extra) == 2;
}

Options ParseOptions(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--") {
            options.tailGiven = true;
            for (++i; i < argc; ++i) {
                if (!options.tail.empty())
                    options.tail += ' ';
                options.tail += argv[i];
            }
        } else if (arg == "--cmdline") {
            options.commandLine = value();
        } else if (arg == "--screen") {
            if (!ParseSize(value(), &options.screenWidth, &options.screenHeight))
                Usage("--screen takes WIDTHxHEIGHT");
        } else if (arg == "--parent") {
            if (!ParseSize(value(), &options.parentWidth, &options.parentHeight))
                Usage("--parent takes WIDTHxHEIGHT");
        } else if (arg == "--clock") {
            if (!ParseNumber(value(), &options.clock))
                Usage("--clock takes seconds since 1970");
        } else if (arg == "--family") {
            std::string family = value();
            if (family != "95" && family != "nt")
                Usage("--family takes 95 or nt");
            options.win95 = family == "95";
        } else if (arg == "--windows-dir") {
            options.windowsDir = value();
        } else if (arg == "--for") {
            int64_t ms;
            if (!ParseNumber(value(), &ms) || ms < 0)
                Usage("--for takes milliseconds");
            options.runFor = uint64_t(ms);
        } else if (arg == "--at") {
            std::string timed = value();
            size_t colon = timed.find(':');
            int64_t ms;
            if (colon == std::string::npos || !ParseNumber(timed.substr(0, colon), &ms) || ms < 0 ||
                !ValidEvent(timed.substr(colon + 1)))
                Usage("--at takes MS:key, MS:click, MS:move:DX,DY or MS:deactivate");
            options.events.push_back({uint64_t(ms), timed.substr(colon + 1)});
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--frames") {
            options.framesDir = value();
        } else if (arg == "--frames-every-tick") {
            options.framesEveryTick = true;
        } else {
            Usage("unknown option " + arg);
        }
    }
    if (options.commandLine && options.tailGiven)
        Usage("give either -- TAIL or --cmdline, not both");
    if (options.framesEveryTick && options.framesDir.empty())
        Usage("--frames-every-tick needs --frames DIR");
    return options;
}

// ---------------------------------------------------------------- frames
void WritePpm(const std::string &path, const sim::Image &image)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.width << ' ' << image.height << "\n255\n";
    std::vector<unsigned char> row(size_t(image.width) * 3);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint32_t p = image.at(x, y);
            row[size_t(x) * 3] = (unsigned char)(p >> 16);
            row[size_t(x) * 3 + 1] = (unsigned char)(p >> 8);
            row[size_t(x) * 3 + 2] = (unsigned char)p;
        }
        out.write(reinterpret_cast<const char *>(row.data()), std::streamsize(row.size()));
    }
}

// ---------------------------------------------------------------- trace
// Turns the simulation's call log into the runner's trace lines and frames.
struct Tracer {
    const Options &options;
    bool inPaint = false;
    bool pictureStarted = false;
    bool framePending = false;
    int frameCount = 0;

    explicit Tracer(const Options &o) : options(o) {}

    void Line(const std::string &text) const
    {
        if (options.trace)
            std::printf("%llu %s\n", (unsigned long long)sim::Elapsed(), text.c_str());
    }

    void PictureLine()
    {
        if (!pictureStarted)
            return;
        pictureStarted = false;
        char text[96];
        std::snprintf(text, sizeof text, "picture %s %d %d %d", ShowState.pictureName,
                      PaintState.originX, PaintState.originY, PaintState.pattern);
        Line(text);
        if (!options.framesDir.empty() && !options.framesEveryTick)
            framePending = true;
    }

    // The numbers between the parentheses of "Name(a, b, ...) = r".
    static std::vector<std::string> Arguments(const std::string &text)
    {
        std::vector<std::string> args;
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            return args;
        std::stringstream list(text.substr(open + 1, close - open - 1));
        std::string item;
        while (std::getline(list, item, ',')) {
            size_t first = item.find_first_not_of(' ');
            args.push_back(first == std::string::npos ? "" : item.substr(first));
        }
        return args;
    }

    static bool IsClose(const std::string &message)
    {
        return message == "WM_CLOSE" || message == "16" || message == "0x10" ||
               message == "0x0010";
    }

    void WriteFrame()
    {
        char name[64];
        std::snprintf(name, sizeof name, "/frame%05d.ppm", frameCount++);
        WritePpm(options.framesDir + name, sim::Screen());
    }

    void FlushFrame()
    {
        if (framePending) {
            framePending = false;
            WriteFrame();
        }
    }

    void Observe(const sim::Event &event)
    {
        if (event.kind == sim::EventKind::Posted) {
            // A retrieved message: whatever the last tick drew is complete.
            FlushFrame();
            if (event.message == WM_TIMER && options.framesEveryTick)
                framePending = true;
            return;
        }
        if (event.kind != sim::EventKind::Call)
            return;
        const std::string &name = event.function;
        if (name == "LoadBitmapA") {
            inPaint = true;
        } else if (name == "FillRect" && inPaint) {
            pictureStarted = true;
        } else if (name == "BitBlt") {
            PictureLine();
            std::vector<std::string> a = Arguments(event.text);
            if (a.size() >= 8)
                Line("blit " + a[1] + " " + a[2] + " " + a[3] + " " + a[4] + " " + a[6] + " " +
                     a[7]);
        } else if (name == "ReleaseDC" && inPaint) {
            PictureLine();
            inPaint = false;
        } else if (name == "PostMessageA") {
            std::vector<std::string> a = Arguments(event.text);
            if (a.size() >= 2 && IsClose(a[1]))
                Line("close");
        }
    }
};

HWND FindSaverWindow()
{
    for (HWND hwnd : sim::LiveWindows())
        if (!sim::IsOutsideWindow(hwnd) && sim::WindowClass(hwnd) == "WindowsScreenSaverClass")
            return hwnd;
    return nullptr;
}

void ScheduleEvents(const Options &options)
{
    for (const TimedEvent &event : options.events) {
        std::string what = event.what;
        sim::At(event.at, [what] {
            int dx, dy;
            if (what == "key")
                sim::KeyPress('A');
            else if (what == "click")
                sim::Click(0);
            else if (what == "deactivate")
                sim::Deactivate();
            else if (std::sscanf(what.c_str(), "move:%d,%d", &dx, &dy) == 2)
                sim::MoveCursor(dx, dy);
        });
    }
    // The run ends from outside, as the system ends a saver it no longer wants.
    sim::At(options.runFor, [] {
        if (HWND saver = FindSaverWindow())
            sim::DestroyFromOutside(saver);
        else if (HWND dialog = sim::ActiveDialog())
            sim::PressCloseBox(dialog);
    });
}

}  // namespace

int main(int argc, char **argv)
{
    Options options = ParseOptions(argc, argv);

    sim::Config config;
    config.screenWidth = options.screenWidth;
    config.screenHeight = options.screenHeight;
    config.win95Family = options.win95;
    config.windowsDir = options.windowsDir;
    config.calendarSeconds = options.clock;
    config.maxVirtualMs = options.runFor + 3600 * 1000;
    // The trace reads every call as it happens; without it nothing is logged.
    config.logging = options.trace || !options.framesDir.empty();
    sim::Reset(config);

    // The parent window is part of the world; window handles are given out
    // in creation order, so the window made again after the final reset has
    // the handle that the command line names.
    HWND parent = nullptr;
    if (options.parentWidth > 0)
        parent = sim::CreateOutsideWindow("Display Properties", options.parentWidth,
                                          options.parentHeight);
    std::string commandLine;
    if (options.commandLine) {
        commandLine = *options.commandLine;
    } else {
        std::string tail = options.tail;
        std::string handle = std::to_string((unsigned long)(uintptr_t)parent);
        for (size_t at; (at = tail.find("PARENT")) != std::string::npos;)
            tail.replace(at, 6, handle);
        commandLine = "vellomire.scr" + (tail.empty() ? std::string() : " " + tail);
    }
    config.commandLine = commandLine;
    sim::Reset(config);
    if (options.parentWidth > 0 &&
        sim::CreateOutsideWindow("Display Properties", options.parentWidth,
                                 options.parentHeight) != parent) {
        std::fprintf(stderr, "vellomire-sim: the parent window could not be made again\n");
        return 2;
    }

    Tracer tracer(options);
    if (config.logging)
        sim::SetObserver([&tracer](const sim::Event &event) { tracer.Observe(event); });
    ScheduleEvents(options);

    sim::ProcessResult result = sim::RunProcess([] { SaverEntry(); });
    tracer.FlushFrame();
    if (!options.framesDir.empty())
        tracer.WriteFrame();

    if (result.exited)
        tracer.Line("exit " + std::to_string((int32_t)result.exitCode));
    else if (result.hung)
        std::fprintf(stderr, "vellomire-sim: the run did not end: %s\n", result.hangReason.c_str());
    else if (result.crashed)
        std::fprintf(stderr, "vellomire-sim: the program crashed with 0x%08X\n", result.crashCode);
    std::fflush(stdout);
    return 0;
}
