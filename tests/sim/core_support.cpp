// The window core tests' recording class and sequence comparison.
#include "core_support.h"

#include <algorithm>
#include <sstream>

namespace coretest {
namespace {

Hook &CurrentHook() {
    static Hook hook;
    return hook;
}

std::string Describe(const Msg &m) {
    std::string kind = m.kind == sim::EventKind::Sent ? "sent" : "posted";
    std::string text = kind + " " + m.window + " " + sim::MessageName(m.message);
    if (m.checkWParam) text += "(" + std::to_string(static_cast<unsigned long long>(m.wParam)) + ")";
    return text;
}

bool Matches(const Msg &expected, const Msg &actual) {
    return expected.kind == actual.kind && expected.window == actual.window &&
           expected.message == actual.message && (!expected.checkWParam || expected.wParam == actual.wParam);
}

}  // namespace

std::vector<Msg> MessagesSince(size_t from) { return MessagesSinceExcept(from, {}); }

std::vector<Msg> MessagesSinceExcept(size_t from, const std::vector<UINT> &skip) {
    std::vector<Msg> list;
    const auto &log = sim::Log();
    for (size_t i = from; i < log.size(); ++i) {
        const sim::Event &e = log[i];
        if (e.kind != sim::EventKind::Sent && e.kind != sim::EventKind::Posted) continue;
        if (std::find(skip.begin(), skip.end(), e.message) != skip.end()) continue;
        list.push_back(Msg{e.kind, e.function, e.message, e.wParam, true});
    }
    return list;
}

::testing::AssertionResult SameMessages(const std::vector<Msg> &expected, const std::vector<Msg> &actual) {
    bool same = expected.size() == actual.size();
    for (size_t i = 0; same && i < expected.size(); ++i) same = Matches(expected[i], actual[i]);
    if (same) return ::testing::AssertionSuccess();
    std::ostringstream out;
    out << "\n  " << std::string(34, ' ') << "expected | actual\n";
    for (size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
        std::string e = i < expected.size() ? Describe(expected[i]) : "";
        std::string a = i < actual.size() ? Describe(actual[i]) : "";
        bool ok = i < expected.size() && i < actual.size() && Matches(expected[i], actual[i]);
        out << (ok ? "  " : "! ") << std::string(e.size() < 40 ? 40 - e.size() : 0, ' ') << e << " | " << a
            << "\n";
    }
    return ::testing::AssertionFailure() << out.str();
}

std::vector<std::string> CallTextsSince(size_t from) {
    std::vector<std::string> list;
    const auto &log = sim::Log();
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].kind == sim::EventKind::Call) list.push_back(log[i].text);
    return list;
}

void SetHook(Hook hook) { CurrentHook() = std::move(hook); }

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (CurrentHook() && CurrentHook()(hwnd, message, wParam, lParam, &result)) return result;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

ATOM RegisterRecordingClass(const char *name, UINT style, HBRUSH brush) {
    WNDCLASSA wc = {};
    wc.style = style;
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = sim::ProgramInstance();
    wc.hbrBackground = brush;
    wc.lpszClassName = name;
    return RegisterClassA(&wc);
}

void NewWorld(const sim::Config &config) {
    SetHook(nullptr);
    sim::SetObserver(nullptr);
    sim::Reset(config);
}

sim::ProcessResult Run(const std::function<void()> &body) { return sim::RunProcess(body); }

}  // namespace coretest
