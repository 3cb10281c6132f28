// The virtual clock: GetTickCount (32 bits, wrapping), Sleep, calendar time
// for the time functions, the test's scheduled actions (At), and window
// timers (SetTimer/KillTimer) with the due times that the message retrieval
// turns into WM_TIMER.
//
// Timers follow Windows: the elapse is clamped to 10..0x7FFFFFFF ms, a timer
// is due at its start plus the elapse, and when its WM_TIMER is removed from
// the queue the next due time is the first multiple of the elapse after the
// current time, so a late timer never piles up more than one WM_TIMER.
// Windows' timers also have a coarse resolution (about 15.6 ms on NT); the
// simulation fires them at the exact millisecond.
#include "core.h"

#include <algorithm>
#include <map>

namespace sim {
namespace {

constexpr UINT kTimerMinimum = 10;           // USER_TIMER_MINIMUM
constexpr UINT kTimerMaximum = 0x7FFFFFFF;   // USER_TIMER_MAXIMUM
constexpr UINT_PTR kFirstThreadTimerId = 0x7FFE;

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    uint64_t due;
    uint64_t order;   // among timers due at the same time: the one set first
};

struct ClockState {
    uint64_t elapsed = 0;
    uint32_t startTick = 0;
    int64_t calendarSeconds = 0;
    uint64_t maxVirtualMs = 0;
    std::multimap<uint64_t, std::function<void()>> actions;
    std::function<void()> idleHook;
    std::vector<Timer> timers;
    uint64_t timerOrder = 0;
    UINT_PTR nextThreadTimerId = kFirstThreadTimerId;
};

ClockState &State() {
    static ClockState state;
    return state;
}

bool TimerMatches(const Timer &timer, HWND filter) {
    if (filter == nullptr) return true;
    if (filter == reinterpret_cast<HWND>(-1)) return timer.hwnd == nullptr;
    return timer.hwnd == filter || core::IsChildOf(filter, timer.hwnd);
}

}  // namespace

uint32_t Now() { return core::TickCount(); }
uint64_t Elapsed() { return core::ElapsedMs(); }

void At(uint64_t elapsedMs, std::function<void()> action) {
    State().actions.emplace(elapsedMs, std::move(action));
}

void SetIdleHook(std::function<void()> hook) { State().idleHook = std::move(hook); }

}  // namespace sim

namespace sim::detail {
uint64_t VirtualMilliseconds() { return State().elapsed; }
int64_t CalendarSeconds() { return State().calendarSeconds + int64_t(State().elapsed / 1000); }
}  // namespace sim::detail

namespace sim::core {

void ResetClock(const Config &config) {
    ClockState &s = State();
    s = ClockState();
    s.startTick = config.startTick;
    s.calendarSeconds = config.calendarSeconds;
    s.maxVirtualMs = config.maxVirtualMs;
}

uint64_t ElapsedMs() { return State().elapsed; }
uint32_t TickCount() { return uint32_t(State().startTick + State().elapsed); }

void AdvanceClockTo(uint64_t elapsed) {
    ClockState &s = State();
    if (elapsed <= s.elapsed) return;
    if (elapsed > s.maxVirtualMs) {
        s.elapsed = std::max(s.elapsed, s.maxVirtualMs);
        if (ProcessRunning()) EndAsHung("virtual time limit reached");
        return;
    }
    s.elapsed = elapsed;
}

void AdvanceClock(uint64_t ms) { AdvanceClockTo(State().elapsed + ms); }

bool RunDueActions() {
    ClockState &s = State();
    bool ran = false;
    while (!s.actions.empty() && s.actions.begin()->first <= s.elapsed) {
        std::function<void()> action = std::move(s.actions.begin()->second);
        s.actions.erase(s.actions.begin());
        // A test's action may call the program's procedures directly; what
        // they call is logged like any call of the program.
        detail::ProgramScope program;
        action();
        ran = true;
    }
    return ran;
}

bool NextActionTime(uint64_t *elapsed) {
    if (State().actions.empty()) return false;
    *elapsed = State().actions.begin()->first;
    return true;
}

void CallIdleHook() {
    if (State().idleHook) State().idleHook();
}

bool FindDueTimer(HWND filter, bool remove, TimerHit *hit) {
    ClockState &s = State();
    Timer *best = nullptr;
    for (Timer &timer : s.timers) {
        if (timer.due > s.elapsed || !TimerMatches(timer, filter)) continue;
        if (!best || timer.due < best->due || (timer.due == best->due && timer.order < best->order))
            best = &timer;
    }
    if (!best) return false;
    *hit = TimerHit{best->hwnd, best->id, best->proc};
    if (remove) {
        while (best->due <= s.elapsed) best->due += best->elapse;
        best->order = ++s.timerOrder;
    }
    return true;
}

bool NextTimerTime(HWND filter, uint64_t *elapsed) {
    bool found = false;
    for (const Timer &timer : State().timers) {
        if (!TimerMatches(timer, filter)) continue;
        if (!found || timer.due < *elapsed) *elapsed = timer.due;
        found = true;
    }
    return found;
}

void KillWindowTimers(HWND hwnd) {
    auto &timers = State().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [hwnd](const Timer &t) { return t.hwnd == hwnd; }),
                 timers.end());
}

int LiveTimers() { return int(State().timers.size()); }

void ResetTimers() {
    State().timers.clear();
    State().nextThreadTimerId = kFirstThreadTimerId;
}

}  // namespace sim::core

using namespace sim;
using namespace sim::detail;

DWORD GetTickCount(void) {
    Call call = BeginCall("GetTickCount", "");
    DWORD tick = core::TickCount();
    EndCall(call, Format("%u", unsigned(tick)), LRESULT(tick));
    return tick;
}

// Sleep(0) gives up the rest of the time slice: the clock doesn't move.
void Sleep(DWORD milliseconds) {
    Call call = BeginCall("Sleep", Format("%u", unsigned(milliseconds)));
    EndCall(call, "");
    core::AdvanceClock(milliseconds);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    Call call = BeginCall("SetTimer", Name(hwnd) + Format(", %llu, %u, ", (unsigned long long)id, elapse) +
                                          (proc ? "proc" : "null"));
    auto fail = [&](DWORD error) {
        SetLastErrorInternal(error);
        EndCall(call, "0");
        return UINT_PTR(0);
    };
    if (call.fail) return fail(core::kErrorNoSystemResources);
    if (hwnd != nullptr) {
        core::Window *w = core::Find(hwnd);
        if (!w) return fail(ERROR_INVALID_WINDOW_HANDLE);
        // Windows refuses timers for windows of other threads.
        if (w->kind == core::Kind::Outside) return fail(ERROR_INVALID_WINDOW_HANDLE);
    }
    elapse = std::clamp(elapse, kTimerMinimum, kTimerMaximum);
    ClockState &s = State();
    if (hwnd == nullptr) {
        // A thread timer: the system chooses the id unless it names an existing one.
        bool existing = std::any_of(s.timers.begin(), s.timers.end(),
                                    [id](const Timer &t) { return t.hwnd == nullptr && t.id == id; });
        if (!existing) id = s.nextThreadTimerId--;
    }
    auto it = std::find_if(s.timers.begin(), s.timers.end(),
                           [hwnd, id](const Timer &t) { return t.hwnd == hwnd && t.id == id; });
    Timer timer{hwnd, id, elapse, proc, s.elapsed + elapse, ++s.timerOrder};
    if (it != s.timers.end())
        *it = timer;
    else
        s.timers.push_back(timer);
    // For a window timer Windows returns a nonzero value (the id, or 1 for id 0).
    UINT_PTR result = hwnd ? (id ? id : 1) : id;
    EndCall(call, Format("%llu", (unsigned long long)result), LRESULT(result));
    return result;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    Call call = BeginCall("KillTimer", Name(hwnd) + Format(", %llu", (unsigned long long)id));
    if (call.fail) {
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        EndCall(call, "0");
        return FALSE;
    }
    auto &timers = State().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [hwnd, id](const Timer &t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) {
        SetLastErrorInternal(ERROR_INVALID_PARAMETER);
        EndCall(call, "0");
        return FALSE;
    }
    timers.erase(it);
    EndCall(call, "1", 1);
    return TRUE;
}
