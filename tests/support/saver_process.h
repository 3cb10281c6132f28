// Running the saver as a simulated process: a fresh world, the product's
// process-wide records as they are at program start, and the entry chain.
#ifndef VELLOMIRE_TESTS_SAVER_PROCESS_H
#define VELLOMIRE_TESTS_SAVER_PROCESS_H

#include "simctl.h"

#include <functional>
#include <string>
#include <vector>

namespace vtest {

// Puts HostState, ShowState, PaintState, ShowSettings, the name buffers and
// the random generator back to their values at program start.
void ResetProductState();

// Resets the product and runs entry (SaverEntry by default) as the program's
// process in the current simulated world.
sim::ProcessResult RunProgram(const std::function<void()> &entry = {});

// A world with the given command line, then RunProgram.
sim::ProcessResult RunCommandLine(const std::string &commandLine,
                                  const sim::Config &base = sim::Config());

// The exit code as the signed 32-bit value that the mode gave.
inline int32_t SignedExit(const sim::ProcessResult &result)
{
    return static_cast<int32_t>(result.exitCode);
}

// Calls of one platform function in the log.
int CountCalls(const std::string &function);
// The argument texts of every logged call of function, in order.
std::vector<std::vector<std::string>> CallArguments(const std::string &function);
// Whether a call of function whose text contains needle was logged.
bool Called(const std::string &function, const std::string &needle = "");
// Starts a world whose command line is "vellomire.scr" followed by tail.
void StartWorld(const std::string &tail, bool win95 = false, sim::Config base = sim::Config());

// Writes the program's control.ini section with the given keys and values.
void WriteSettings(const std::string &lines);

}  // namespace vtest

#endif
