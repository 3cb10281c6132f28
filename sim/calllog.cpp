// The call log and fault injection: every simulated platform function goes
// through BeginCall/EndCall, which count it, record it, and decide whether
// this call fails or raises a fault. Message events, markers, the observer,
// misuse records, the last-error value and the names of windows and messages.
//
// What an injected failure does to each function of the window core, as
// Windows fails it (the drawing half documents its own):
//   RegisterClassA 0, ERROR_NOT_ENOUGH_MEMORY    UnregisterClassA FALSE, ERROR_CLASS_DOES_NOT_EXIST
//   CreateWindowExA null, ERROR_NOT_ENOUGH_MEMORY, before any message
//   DestroyWindow FALSE, ERROR_ACCESS_DENIED     ShowWindow, EndPaint: cannot fail
//   GetMessageA -1 (nothing retrieved)           PeekMessageA FALSE (the message stays queued)
//   PostMessageA FALSE, ERROR_NOT_ENOUGH_QUOTA   SetTimer 0, ERROR_NO_SYSTEM_RESOURCES
//   KillTimer FALSE, ERROR_INVALID_PARAMETER (the timer goes on)
//   GetClientRect, GetWindowRect FALSE, ERROR_INVALID_WINDOW_HANDLE, the rectangle untouched
//   FindWindowA null; IsWindow, IsWindowVisible FALSE; GetParent null
//   SetForegroundWindow FALSE (as the foreground lock refuses); GetForegroundWindow null
//     (as while the activation changes); GetActiveWindow, GetFocus null; SetFocus null
//   InvalidateRect, UpdateWindow FALSE; BeginPaint null (the update region still validated)
//   GetWindowTextA 0 with an empty buffer; SetWindowTextA FALSE
//   GetCursorPos FALSE, ERROR_ACCESS_DENIED (as on a desktop the program may not read)
//   DialogBoxParamA -1, ERROR_NOT_ENOUGH_MEMORY; EndDialog FALSE; GetDlgItem null;
//     SetDlgItemTextA, CheckDlgButton FALSE; GetDlgItemTextA 0 with an empty buffer;
//     SendDlgItemMessageA, IsDlgButtonChecked 0
// Windows cannot fail these, so an injected failure is ignored: GetTickCount,
// Sleep, ExitProcess, UnhandledExceptionFilter, GetLastError, SetLastError,
// SendMessageA (a send to a window of the same thread is always delivered),
// DispatchMessageA, TranslateMessage, PostQuitMessage, DefWindowProcA,
// SetCursor, ShowCursor. A raised fault (RaiseFaultAtCall) works at any call.
#include "core.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace sim::detail {
namespace {

struct LogState {
    std::vector<Event> events;
    std::function<void(const Event &)> observer;
    std::vector<std::string> misuse;
    // Calls (and their counts) made by the program since Reset.
    uint64_t calls = 0;
    std::map<std::string, int> callsByFunction;
    // Fault injection.
    std::map<std::string, std::set<int>> failByFunction;
    std::set<uint64_t> failByNumber;
    std::map<std::string, std::set<int>> raiseByFunction;
    // The call text waiting for its result, by log index.
    std::map<size_t, std::string> pending;
    size_t observedSerial = 0;   // keys of calls observed but not logged
    int internalDepth = 0;
    int procedureDepth = 0;
    DWORD lastError = 0;
};

LogState &State() {
    static LogState state;
    return state;
}

bool Logging() { return CurrentConfig().logging; }

void Publish(const Event &event) {
    LogState &s = State();
    if (Logging()) s.events.push_back(event);
    if (s.observer) s.observer(event);
}

}  // namespace

Call BeginCall(const char *function, const std::string &arguments) {
    LogState &s = State();
    Call call;
    if (s.internalDepth > 0) return call;
    ++s.calls;
    int nth = ++s.callsByFunction[function];
    std::string text = std::string(function) + "(" + arguments + ")";
    bool recording = Logging() || s.observer;
    if (recording && Logging()) {
        Event event{EventKind::Call, function, text};
        event.time = core::ElapsedMs();
        event.depth = s.procedureDepth;
        s.events.push_back(event);
        call.logIndex = s.events.size() - 1;
        s.pending[call.logIndex] = text;
    } else if (recording) {
        // Observed only: keep the text until EndCall publishes it.
        call.logIndex = SIZE_MAX / 2 + (++s.observedSerial);
        s.pending[call.logIndex] = text;
    }
    auto raise = s.raiseByFunction.find(function);
    if (raise != s.raiseByFunction.end() && raise->second.count(nth)) {
        if (call.logIndex < s.events.size()) s.events[call.logIndex].text = text + " raised 0xC0000005";
        core::DispatchFault(EXCEPTION_ACCESS_VIOLATION, reinterpret_cast<void *>(0x00401000u));
        if (call.logIndex < s.events.size()) s.events[call.logIndex].text = text;
    }
    auto fail = s.failByFunction.find(function);
    call.fail = (fail != s.failByFunction.end() && fail->second.count(nth)) ||
                s.failByNumber.count(s.calls) > 0;
    return call;
}

void EndCall(const Call &call, const std::string &result, LRESULT value) {
    LogState &s = State();
    if (call.logIndex == SIZE_MAX) return;
    auto it = s.pending.find(call.logIndex);
    if (it == s.pending.end()) return;
    std::string text = result.empty() ? it->second : it->second + " = " + result;
    s.pending.erase(it);
    if (call.logIndex < s.events.size()) {
        Event &event = s.events[call.logIndex];
        event.text = text;
        event.result = value;
        if (s.observer) s.observer(event);
    } else if (s.observer) {
        Event event{EventKind::Call, text.substr(0, text.find('(')), text};
        event.result = value;
        event.time = core::ElapsedMs();
        event.depth = s.procedureDepth;
        s.observer(event);
    }
}

bool InInternalScope() { return State().internalDepth > 0; }
InternalScope::InternalScope() { ++State().internalDepth; }
InternalScope::~InternalScope() { --State().internalDepth; }
ProgramScope::ProgramScope() : saved(State().internalDepth) { State().internalDepth = 0; }
ProgramScope::~ProgramScope() { State().internalDepth = saved; }

std::string Name(HWND hwnd) {
    if (hwnd == nullptr) return "null";
    if (core::FindAny(hwnd)) return "w" + std::to_string(core::FindAny(hwnd)->index);
    return Format("hwnd:0x%X", unsigned(reinterpret_cast<uintptr_t>(hwnd)));
}

std::string Quote(LPCSTR text) {
    if (text == nullptr) return "null";
    if (IS_INTRESOURCE(text)) return "#" + std::to_string(unsigned(reinterpret_cast<uintptr_t>(text)));
    // Long texts are cut in the log, so a call that walks a long command line
    // one character at a time does not copy it over and over.
    const size_t shown = 160;
    size_t length = strnlen(text, shown + 1);
    if (length > shown) return "\"" + std::string(text, shown) + "\"...";
    return "\"" + std::string(text, length) + "\"";
}

std::string Format(const char *format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < int(sizeof buffer)) return std::string(buffer, n < 0 ? 0 : size_t(n));
    std::string big(size_t(n) + 1, '\0');
    va_start(args, format);
    vsnprintf(&big[0], big.size(), format, args);
    va_end(args);
    big.resize(size_t(n));
    return big;
}

void LogMessage(EventKind kind, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                LRESULT result, int depth) {
    LogState &s = State();
    if (!Logging() && !s.observer) return;
    Event event{kind, Name(hwnd), ""};
    event.message = message;
    event.wParam = wParam;
    event.lParam = lParam;
    event.result = result;
    event.depth = depth;
    event.time = core::ElapsedMs();
    if (kind == EventKind::Return)
        event.text = MessageName(message) + " = " + Format("%lld", (long long)result);
    else
        event.text = MessageName(message) + Format("(0x%llX, 0x%llX)", (unsigned long long)wParam,
                                                   (unsigned long long)(ULONG_PTR)lParam);
    Publish(event);
}

void RecordMisuse(const std::string &text) { State().misuse.push_back(text); }

void SetLastErrorInternal(DWORD error) { State().lastError = error; }

}  // namespace sim::detail

namespace sim::core {

void ResetCallLog() {
    detail::LogState &s = detail::State();
    auto observer = s.observer;
    s = detail::LogState();
    s.observer = observer;
}

bool Recording() { return detail::Logging() || bool(detail::State().observer); }
int ProcedureDepth() { return detail::State().procedureDepth; }
ProcedureFrame::ProcedureFrame() { ++detail::State().procedureDepth; }
ProcedureFrame::~ProcedureFrame() { --detail::State().procedureDepth; }

}  // namespace sim::core

namespace sim {

using namespace detail;

const std::vector<Event> &Log() { return State().events; }

void ClearLog() {
    State().events.clear();
    State().pending.clear();
}

void Mark(const std::string &text) {
    Event event{EventKind::Mark, "", text};
    event.time = core::ElapsedMs();
    Publish(event);
}

std::string FormatEvent(const Event &event) {
    std::string indent(size_t(event.depth) * 2, ' ');
    std::string time = Format("[%8llu] ", (unsigned long long)event.time);
    switch (event.kind) {
    case EventKind::Call: return time + indent + event.text;
    case EventKind::Sent: return time + indent + "sent " + event.function + " " + event.text;
    case EventKind::Posted: return time + indent + "posted " + event.function + " " + event.text;
    case EventKind::Return: return time + indent + "  " + event.function + " " + event.text;
    case EventKind::Mark: return time + "-- " + event.text;
    }
    return time + event.text;
}

std::string FormatLog() {
    std::string out;
    for (const Event &event : State().events) out += FormatEvent(event) + "\n";
    return out;
}

void SetObserver(std::function<void(const Event &)> observer) { State().observer = std::move(observer); }

std::string MessageName(UINT message) {
    static const std::map<UINT, const char *> names = {
        {WM_NULL, "WM_NULL"}, {WM_CREATE, "WM_CREATE"}, {WM_DESTROY, "WM_DESTROY"},
        {WM_MOVE, "WM_MOVE"}, {WM_SIZE, "WM_SIZE"}, {WM_ACTIVATE, "WM_ACTIVATE"},
        {WM_SETFOCUS, "WM_SETFOCUS"}, {WM_KILLFOCUS, "WM_KILLFOCUS"}, {WM_ENABLE, "WM_ENABLE"},
        {WM_SETTEXT, "WM_SETTEXT"}, {WM_GETTEXT, "WM_GETTEXT"},
        {WM_GETTEXTLENGTH, "WM_GETTEXTLENGTH"}, {WM_PAINT, "WM_PAINT"}, {WM_CLOSE, "WM_CLOSE"},
        {WM_QUIT, "WM_QUIT"}, {WM_ERASEBKGND, "WM_ERASEBKGND"}, {WM_SHOWWINDOW, "WM_SHOWWINDOW"},
        {WM_ACTIVATEAPP, "WM_ACTIVATEAPP"}, {core::kWmCancelMode, "WM_CANCELMODE"},
        {WM_SETCURSOR, "WM_SETCURSOR"}, {WM_MOUSEACTIVATE, "WM_MOUSEACTIVATE"},
        {WM_GETMINMAXINFO, "WM_GETMINMAXINFO"}, {WM_NEXTDLGCTL, "WM_NEXTDLGCTL"},
        {WM_SETFONT, "WM_SETFONT"}, {WM_GETFONT, "WM_GETFONT"},
        {WM_WINDOWPOSCHANGING, "WM_WINDOWPOSCHANGING"},
        {WM_WINDOWPOSCHANGED, "WM_WINDOWPOSCHANGED"}, {WM_HELP, "WM_HELP"},
        {WM_CONTEXTMENU, "WM_CONTEXTMENU"}, {WM_NCCREATE, "WM_NCCREATE"},
        {WM_NCDESTROY, "WM_NCDESTROY"}, {WM_NCCALCSIZE, "WM_NCCALCSIZE"},
        {WM_NCHITTEST, "WM_NCHITTEST"}, {WM_NCPAINT, "WM_NCPAINT"},
        {WM_NCACTIVATE, "WM_NCACTIVATE"}, {WM_GETDLGCODE, "WM_GETDLGCODE"},
        {WM_KEYDOWN, "WM_KEYDOWN"}, {WM_KEYUP, "WM_KEYUP"}, {WM_CHAR, "WM_CHAR"},
        {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"}, {WM_SYSKEYUP, "WM_SYSKEYUP"},
        {WM_SYSCHAR, "WM_SYSCHAR"}, {WM_INITDIALOG, "WM_INITDIALOG"},
        {WM_COMMAND, "WM_COMMAND"}, {WM_SYSCOMMAND, "WM_SYSCOMMAND"}, {WM_TIMER, "WM_TIMER"},
        {core::kWmEnterIdle, "WM_ENTERIDLE"}, {WM_CTLCOLOREDIT, "WM_CTLCOLOREDIT"},
        {WM_CTLCOLORBTN, "WM_CTLCOLORBTN"}, {WM_CTLCOLORDLG, "WM_CTLCOLORDLG"},
        {WM_CTLCOLORSTATIC, "WM_CTLCOLORSTATIC"}, {WM_MOUSEMOVE, "WM_MOUSEMOVE"},
        {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"}, {WM_LBUTTONUP, "WM_LBUTTONUP"},
        {WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK"}, {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"},
        {WM_RBUTTONUP, "WM_RBUTTONUP"}, {WM_RBUTTONDBLCLK, "WM_RBUTTONDBLCLK"},
        {WM_MBUTTONDOWN, "WM_MBUTTONDOWN"}, {WM_MBUTTONUP, "WM_MBUTTONUP"},
        {WM_MBUTTONDBLCLK, "WM_MBUTTONDBLCLK"}, {WM_MOUSEWHEEL, "WM_MOUSEWHEEL"},
        {core::kWmParentNotify, "WM_PARENTNOTIFY"}, {BM_GETCHECK, "BM_GETCHECK"},
        {BM_SETCHECK, "BM_SETCHECK"}, {core::kBmSetState, "BM_SETSTATE"},
        {core::kBmClick, "BM_CLICK"}, {EM_LIMITTEXT, "EM_LIMITTEXT"},
        {core::kEmSetSel, "EM_SETSEL"}, {core::kEmGetSel, "EM_GETSEL"},
        {WM_APP, "WM_APP"}, {0x00A1, "WM_NCLBUTTONDOWN"},
    };
    auto it = names.find(message);
    if (it != names.end()) return it->second;
    return Format("0x%04X", message);
}

void FailCall(const std::string &function, int nth) { State().failByFunction[function].insert(nth); }
void FailNthCall(uint64_t nth) { State().failByNumber.insert(nth); }
void RaiseFaultAtCall(const std::string &function, int nth) { State().raiseByFunction[function].insert(nth); }
uint64_t CallCount() { return State().calls; }
int CallCount(const std::string &function) {
    auto it = State().callsByFunction.find(function);
    return it == State().callsByFunction.end() ? 0 : it->second;
}

const std::vector<std::string> &Misuse() { return State().misuse; }

}  // namespace sim

// The last-error value of the program's thread.
DWORD GetLastError(void) {
    using namespace sim::detail;
    DWORD error = State().lastError;
    Call call = BeginCall("GetLastError", "");
    EndCall(call, Format("%u", unsigned(error)), LRESULT(error));
    return error;
}

void SetLastError(DWORD error) {
    using namespace sim::detail;
    Call call = BeginCall("SetLastError", Format("%u", unsigned(error)));
    State().lastError = error;
    EndCall(call, "");
}
