// Running the saver as a simulated process, with its records reset.
#include "saver_process.h"

#include "host.h"
#include "show.h"

#include <cstring>

namespace vtest {
namespace {

struct ProductSnapshot {
    HostStateRecord host;
    ShowStateRecord show;
    PaintStateRecord paint;
    ShowSettingsRecord settings;
    char section[SECTION_NAME_SIZE];
    char file[FILE_NAME_SIZE];
};

// Taken the first time it is asked for, which is before any run has
// changed the records.
const ProductSnapshot &Initial()
{
    static const ProductSnapshot snapshot = [] {
        ProductSnapshot s;
        s.host = HostState;
        s.show = ShowState;
        s.paint = PaintState;
        s.settings = ShowSettings;
        std::memcpy(s.section, SettingsSectionName, sizeof s.section);
        std::memcpy(s.file, SettingsFileName, sizeof s.file);
        return s;
    }();
    return snapshot;
}

// The product's records are constant-initialised, so at static
// initialisation of the test program they hold their start values.
const bool InitialTaken = (Initial(), true);

}  // namespace

void ResetProductState()
{
    const ProductSnapshot &s = Initial();
    HostState = s.host;
    ShowState = s.show;
    PaintState = s.paint;
    ShowSettings = s.settings;
    std::memcpy(SettingsSectionName, s.section, sizeof s.section);
    std::memcpy(SettingsFileName, s.file, sizeof s.file);
    SeedRandom(0);
}

sim::ProcessResult RunProgram(const std::function<void()> &entry)
{
    ResetProductState();
    return sim::RunProcess(entry ? entry : [] { SaverEntry(); });
}

sim::ProcessResult RunCommandLine(const std::string &commandLine, const sim::Config &base)
{
    sim::Config config = base;
    config.commandLine = commandLine;
    sim::Reset(config);
    return RunProgram();
}

int CountCalls(const std::string &function)
{
    int count = 0;
    for (const sim::Event &event : sim::Log())
        if (event.kind == sim::EventKind::Call && event.function == function)
            ++count;
    return count;
}

std::vector<std::vector<std::string>> CallArguments(const std::string &function)
{
    std::vector<std::vector<std::string>> calls;
    for (const sim::Event &event : sim::Log()) {
        if (event.kind != sim::EventKind::Call || event.function != function)
            continue;
        std::vector<std::string> args;
        size_t open = event.text.find('(');
        size_t close = event.text.rfind(')');
        if (open != std::string::npos && close != std::string::npos && close > open) {
            std::string list = event.text.substr(open + 1, close - open - 1);
            size_t start = 0;
            int quoted = 0;
            for (size_t i = 0; i <= list.size(); ++i) {
                if (i < list.size() && list[i] == '"')
                    quoted ^= 1;
                if (i == list.size() || (list[i] == ',' && !quoted)) {
                    std::string item = list.substr(start, i - start);
                    size_t first = item.find_first_not_of(' ');
                    args.push_back(first == std::string::npos ? "" : item.substr(first));
                    start = i + 1;
                }
            }
        }
        calls.push_back(args);
    }
    return calls;
}

bool Called(const std::string &function, const std::string &needle)
{
    for (const sim::Event &event : sim::Log())
        if (event.kind == sim::EventKind::Call && event.function == function &&
            event.text.find(needle) != std::string::npos)
            return true;
    return false;
}

void StartWorld(const std::string &tail, bool win95, sim::Config base)
{
    base.commandLine = "vellomire.scr" + (tail.empty() ? std::string() : " " + tail);
    base.win95Family = win95;
    sim::Reset(base);
}

void WriteSettings(const std::string &lines)
{
    sim::WriteWindowsFile("control.ini", "[ScreenSaver.Vellomire]\r\n" + lines);
}

}  // namespace vtest
