// Shared pieces of the window core's tests: a recording window class whose
// answers a test can override, and message sequences taken from the call
// log and held against expected tables (printed side by side on failure).
#ifndef VELLOMIRE_TESTS_SIM_CORE_SUPPORT_H
#define VELLOMIRE_TESTS_SIM_CORE_SUPPORT_H

#include "simctl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace coretest {

// One message as a window procedure received it. Windows are named "w1",
// "w2", ... in creation order; wParam is compared only where the table says so.
struct Msg {
    sim::EventKind kind;
    std::string window;
    UINT message;
    WPARAM wParam = 0;
    bool checkWParam = false;
};
inline Msg Sent(const std::string &window, UINT message) { return {sim::EventKind::Sent, window, message}; }
inline Msg Sent(const std::string &window, UINT message, WPARAM wParam) {
    return {sim::EventKind::Sent, window, message, wParam, true};
}
inline Msg Posted(const std::string &window, UINT message) { return {sim::EventKind::Posted, window, message}; }
inline Msg Posted(const std::string &window, UINT message, WPARAM wParam) {
    return {sim::EventKind::Posted, window, message, wParam, true};
}

// Sent and posted messages in the log from index `from` on.
std::vector<Msg> MessagesSince(size_t from);
// The same, leaving out the message numbers in skip.
std::vector<Msg> MessagesSinceExcept(size_t from, const std::vector<UINT> &skip);
::testing::AssertionResult SameMessages(const std::vector<Msg> &expected, const std::vector<Msg> &actual);
// The program's call texts ("Name(args) = result") from index `from` on.
std::vector<std::string> CallTextsSince(size_t from);
inline size_t LogMark() { return sim::Log().size(); }

// The recording class: every message goes to DefWindowProcA unless the hook
// answers it (returns true with the result in *result).
using Hook = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT *)>;
void SetHook(Hook hook);
LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
ATOM RegisterRecordingClass(const char *name, UINT style = 0, HBRUSH brush = nullptr);

// A fresh world (Reset) with the given configuration; the hook is cleared.
void NewWorld(const sim::Config &config = sim::Config());
// Runs body as the program's process and returns how it ended.
sim::ProcessResult Run(const std::function<void()> &body);

}  // namespace coretest

#endif
