// The simulated process: a new world (Reset), running the program's entry
// until it exits, hangs or crashes (RunProcess), ExitProcess, the native
// structured exception guard and fault raising, UnhandledExceptionFilter,
// and the count of the program's live objects.
//
// Faults: a raised fault runs the filters of the active guards at the raise
// point, innermost first, before anything is unwound, as the first pass of
// Windows' exception dispatch does. EXCEPTION_EXECUTE_HANDLER unwinds to that
// guard by a C++ exception. A fault raised by a faulting instruction
// (RaiseFault, RaiseAccessViolation) that a filter resumes with
// EXCEPTION_CONTINUE_EXECUTION faults again at once, as the instruction is
// executed again; the simulation ends such a run as hung after many rounds.
// A fault injected at a platform call (RaiseFaultAtCall) that is resumed lets
// the call go on normally.
#include "core.h"
#include "platform.h"

#include <vector>

namespace sim {
namespace {

struct ProcessState {
    Config config;
    bool running = false;
    LONG unhandledVerdict = EXCEPTION_EXECUTE_HANDLER;
};

ProcessState &State() {
    static ProcessState state;
    return state;
}

// The active guards of the program's thread, innermost last.
struct Guard {
    GuardFilter filter;
    int serial;
};
std::vector<Guard> &Guards() {
    static std::vector<Guard> guards;
    return guards;
}
int nextGuardSerial = 0;

// Unwinds the stack to the guard with this serial.
struct GuardUnwind {
    int serial;
    DWORD code;
};

constexpr int kFaultRepeatLimit = 1000;

}  // namespace

void Reset(const Config &config) {
    State().config = config;
    State().running = false;
    State().unhandledVerdict = EXCEPTION_EXECUTE_HANDLER;
    core::ResetFaultGuards();
    core::ResetCallLog();
    core::ResetClock(config);
    detail::ResetResources();
    detail::ResetGdi();
    detail::ResetProfiles();
    detail::ResetRegistry();
    detail::ResetModules();
    detail::ResetSystem();
    detail::ResetWindows();
}

const Config &CurrentConfig() { return State().config; }

// The program's module, loaded at the usual image base of a 32-bit program.
HINSTANCE ProgramInstance() { return reinterpret_cast<HINSTANCE>(uintptr_t(0x00400000)); }

void SetUnhandledExceptionVerdict(LONG verdict) { State().unhandledVerdict = verdict; }

namespace {

// The process is gone: its windows, timers, queue and classes go with it
// without a message. Also when a test's own exception ends the run.
struct ProcessCleanup {
    ~ProcessCleanup() {
        State().running = false;
        core::ResetFaultGuards();
        detail::InternalScope internal;
        core::ResetDialogs();
        core::ResetWindowCore();
        core::ResetTimers();
        core::ResetQueue();
    }
};

}  // namespace

ProcessResult RunProcess(const std::function<void()> &entry) {
    ProcessResult result;
    ProcessCleanup cleanup;
    State().running = true;
    core::ResetFaultGuards();
    try {
        detail::ProgramScope program;
        entry();
        result.returned = true;
    } catch (const core::ProcessEnd &end) {
        result = end.result;
    } catch (const GuardUnwind &unwind) {
        // A guard that is no longer on the stack: cannot happen, but a
        // fault that reaches nobody is a crash.
        result.crashed = true;
        result.crashCode = unwind.code;
    }
    return result;
}

LiveCounts Live() {
    LiveCounts counts;
    for (HWND hwnd : LiveWindows())
        if (!IsOutsideWindow(hwnd)) ++counts.windows;
    counts.timers = core::LiveTimers();
    counts.classes = core::LiveClasses();
    detail::FillGdiCounts(&counts);
    detail::FillModuleCounts(&counts);
    return counts;
}

bool operator==(const LiveCounts &a, const LiveCounts &b) {
    return a.windows == b.windows && a.classes == b.classes && a.timers == b.timers &&
           a.windowDcs == b.windowDcs && a.memoryDcs == b.memoryDcs && a.bitmaps == b.bitmaps &&
           a.brushes == b.brushes && a.libraries == b.libraries && a.registryKeys == b.registryKeys;
}

[[noreturn]] void RaiseAccessViolation() { detail::RaiseFault(EXCEPTION_ACCESS_VIOLATION); }

}  // namespace sim

namespace sim::core {

[[noreturn]] void EndAsHung(const std::string &reason) {
    ProcessEnd end;
    end.result.hung = true;
    end.result.hangReason = reason;
    throw end;
}

bool ProcessRunning() { return State().running; }

void ResetFaultGuards() { Guards().clear(); }

void DispatchFault(DWORD code, void *address) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.ExceptionAddress = address;
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 0;  // a read
        record.ExceptionInformation[1] = 0;  // of address 0
    }
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    // Copy: a filter may itself enter guards.
    std::vector<Guard> guards = Guards();
    for (size_t i = guards.size(); i-- > 0;) {
        LONG verdict;
        {
            detail::ProgramScope program;
            verdict = guards[i].filter ? guards[i].filter(&pointers) : EXCEPTION_EXECUTE_HANDLER;
        }
        if (verdict == EXCEPTION_CONTINUE_EXECUTION) return;
        if (verdict == EXCEPTION_EXECUTE_HANDLER) throw GuardUnwind{guards[i].serial, code};
    }
    ProcessEnd end;
    end.result.crashed = true;
    end.result.crashCode = code;
    throw end;
}

}  // namespace sim::core

namespace sim::detail {

[[noreturn]] void RaiseFault(DWORD code) {
    for (int round = 0; round < kFaultRepeatLimit; ++round)
        core::DispatchFault(code, reinterpret_cast<void *>(0x00401000u));
    core::EndAsHung("a fault resumed by its filter repeats forever");
}

}  // namespace sim::detail

[[noreturn]] void ExitProcess(UINT exitCode) {
    using namespace sim::detail;
    Call call = BeginCall("ExitProcess", Format("%u", exitCode));
    EndCall(call, "");
    sim::core::ProcessEnd end;
    end.result.exited = true;
    end.result.exitCode = exitCode;
    throw end;
}

// Without a debugger the system's answer is to run the handler (Wine answers
// the same when no debugger is configured); tests choose another verdict with
// SetUnhandledExceptionVerdict.
LONG UnhandledExceptionFilter(EXCEPTION_POINTERS *pointers) {
    using namespace sim::detail;
    DWORD code = pointers && pointers->ExceptionRecord ? pointers->ExceptionRecord->ExceptionCode : 0;
    Call call = BeginCall("UnhandledExceptionFilter", Format("0x%08X", unsigned(code)));
    LONG verdict = sim::State().unhandledVerdict;
    EndCall(call, Format("%d", int(verdict)), verdict);
    return verdict;
}

BOOL GuardedCall(GuardBody body, void *context, GuardFilter filter, INT *result) {
    using namespace sim;
    int serial = ++nextGuardSerial;
    Guards().push_back(Guard{filter, serial});
    struct Pop {
        int serial;
        ~Pop() {
            auto &guards = Guards();
            while (!guards.empty()) {
                bool mine = guards.back().serial == serial;
                guards.pop_back();
                if (mine) break;
            }
        }
    } pop{serial};
    try {
        INT value = body(context);
        if (result) *result = value;
        return TRUE;
    } catch (const GuardUnwind &unwind) {
        if (unwind.serial != serial) throw;
        if (result) *result = INT(unwind.code);
        return FALSE;
    }
}
