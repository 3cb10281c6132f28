// Fault injection and the structured exception guard: failing calls and
// their error codes, faults raised at calls, filters run before unwinding,
// each of the three verdicts, unguarded faults, UnhandledExceptionFilter's
// answer, and what the log records (and leaves out).
#include "core_support.h"
#include "platform.h"

#include <gtest/gtest.h>

namespace {

TEST(CoreFaults, FailingCallsReturnWindowsFailureValues) {
    coretest::NewWorld();
    sim::FailCall("CreateWindowExA", 1);
    sim::FailCall("SetTimer", 1);
    sim::FailCall("GetCursorPos", 2);
    sim::FailCall("DialogBoxParamA", 1);
    sim::FailCall("PostMessageA", 1);
    sim::FailCall("GetMessageA", 1);
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        size_t mark = coretest::LogMark();
        EXPECT_EQ(CreateWindowExA(0, "Rec", "x", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                                  sim::ProgramInstance(), nullptr),
                  nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_TRUE(coretest::MessagesSince(mark).empty());   // nothing reached a procedure
        HWND hwnd = CreateWindowExA(0, "Rec", "x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    sim::ProgramInstance(), nullptr);
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(SetTimer(hwnd, 1, 100, nullptr), 0u);
        EXPECT_EQ(sim::Live().timers, 0);
        POINT p = {-1, -1};
        EXPECT_TRUE(GetCursorPos(&p));
        p = {-1, -1};
        EXPECT_FALSE(GetCursorPos(&p));
        EXPECT_EQ(p.x, -1);   // untouched
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(DialogBoxParamA(sim::ProgramInstance(), MAKEINTRESOURCE(2003), nullptr, nullptr, 0), -1);
        EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
        EXPECT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));
        MSG msg;
        EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
        EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        EXPECT_EQ(msg.message, UINT(WM_USER));
        ExitProcess(0);
    });
    EXPECT_EQ(sim::CallCount("GetCursorPos"), 2);
}

TEST(CoreFaults, NthCallOfAnyFunctionAndCounts) {
    coretest::NewWorld();
    sim::FailNthCall(3);
    std::vector<BOOL> results;
    coretest::Run([&] {
        POINT p;
        for (int i = 0; i < 4; ++i) results.push_back(GetCursorPos(&p));
        ExitProcess(0);
    });
    EXPECT_EQ(results, (std::vector<BOOL>{TRUE, TRUE, FALSE, TRUE}));
    EXPECT_EQ(sim::CallCount(), 5u);   // and ExitProcess
    EXPECT_EQ(sim::CallCount("GetCursorPos"), 4);
    EXPECT_EQ(sim::CallCount("GetTickCount"), 0);
}

// What the guards saw, in order.
std::vector<std::string> trail;
LONG verdict = EXCEPTION_EXECUTE_HANDLER;
LONG outerVerdict = EXCEPTION_EXECUTE_HANDLER;

struct Unwound {
    ~Unwound() { trail.push_back("unwound"); }
};

LONG InnerFilter(EXCEPTION_POINTERS *pointers) {
    trail.push_back("inner filter " + std::to_string(pointers->ExceptionRecord->ExceptionCode));
    return verdict;
}

LONG OuterFilter(EXCEPTION_POINTERS *) {
    trail.push_back("outer filter");
    return outerVerdict;
}

INT BodyCallingTheTickCount(void *) {
    Unwound guard;
    DWORD tick = GetTickCount();
    trail.push_back("tick " + std::to_string(tick));
    return 5;
}

INT InnerGuard(void *) {
    INT result = -1;
    BOOL done = GuardedCall(BodyCallingTheTickCount, nullptr, InnerFilter, &result);
    trail.push_back("inner returned " + std::to_string(done) + " " + std::to_string(result));
    return result;
}

struct GuardCase {
    const char *name;
    LONG inner;
    LONG outer;
    std::vector<std::string> trail;
    BOOL outerDone;
    INT outerResult;
};

TEST(CoreGuard, VerdictsDecideAtTheRaisePointBeforeUnwinding) {
    const std::string av = std::to_string(EXCEPTION_ACCESS_VIOLATION);
    const std::vector<GuardCase> cases = {
        {"handled by the inner guard",
         EXCEPTION_EXECUTE_HANDLER,
         EXCEPTION_EXECUTE_HANDLER,
         {"inner filter " + av, "unwound", "inner returned 0 " + std::to_string(INT(EXCEPTION_ACCESS_VIOLATION))},
         TRUE,
         INT(EXCEPTION_ACCESS_VIOLATION)},
        {"resumed: the call goes on",
         EXCEPTION_CONTINUE_EXECUTION,
         EXCEPTION_EXECUTE_HANDLER,
         {"inner filter " + av, "tick 0", "unwound", "inner returned 1 5"},
         TRUE,
         5},
        {"searched on to the outer guard",
         EXCEPTION_CONTINUE_SEARCH,
         EXCEPTION_EXECUTE_HANDLER,
         {"inner filter " + av, "outer filter", "unwound"},
         FALSE,
         INT(EXCEPTION_ACCESS_VIOLATION)},
    };
    for (const GuardCase &c : cases) {
        coretest::NewWorld();
        sim::RaiseFaultAtCall("GetTickCount", 1);
        trail.clear();
        verdict = c.inner;
        outerVerdict = c.outer;
        BOOL done = -1;
        INT result = -1;
        sim::ProcessResult run = coretest::Run([&] {
            done = GuardedCall(InnerGuard, nullptr, OuterFilter, &result);
            ExitProcess(0);
        });
        EXPECT_TRUE(run.exited) << c.name;
        EXPECT_EQ(trail, c.trail) << c.name;
        EXPECT_EQ(done, c.outerDone) << c.name;
        EXPECT_EQ(result, c.outerResult) << c.name;
    }
}

TEST(CoreGuard, UnguardedAndUnhandledFaultsCrashTheProcess) {
    coretest::NewWorld();
    sim::RaiseFaultAtCall("GetTickCount", 1);
    sim::ProcessResult run = coretest::Run([] {
        GetTickCount();
        ADD_FAILURE() << "went on after the fault";
    });
    EXPECT_TRUE(run.crashed);
    EXPECT_EQ(run.crashCode, EXCEPTION_ACCESS_VIOLATION);

    // Every guard searches on.
    coretest::NewWorld();
    trail.clear();
    verdict = EXCEPTION_CONTINUE_SEARCH;
    outerVerdict = EXCEPTION_CONTINUE_SEARCH;
    sim::RaiseFaultAtCall("GetTickCount", 1);
    run = coretest::Run([] {
        INT result;
        GuardedCall(InnerGuard, nullptr, OuterFilter, &result);
    });
    EXPECT_TRUE(run.crashed);
    EXPECT_EQ(trail, (std::vector<std::string>{"inner filter " + std::to_string(EXCEPTION_ACCESS_VIOLATION),
                                               "outer filter", "unwound"}));
}

LONG AskTheSystem(EXCEPTION_POINTERS *pointers) { return UnhandledExceptionFilter(pointers); }
INT FaultNow(void *) { sim::RaiseAccessViolation(); }
int resumed = 0;
LONG ResumeAlways(EXCEPTION_POINTERS *) {
    ++resumed;
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(CoreGuard, TheSystemsVerdictAndAFaultingInstructionResumed) {
    // By default the system runs the handler.
    coretest::NewWorld();
    INT result = 0;
    BOOL done = TRUE;
    coretest::Run([&] {
        done = GuardedCall(FaultNow, nullptr, AskTheSystem, &result);
        ExitProcess(1);
    });
    EXPECT_FALSE(done);
    EXPECT_EQ(DWORD(result), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(coretest::CallTextsSince(0),
              (std::vector<std::string>{"UnhandledExceptionFilter(0xC0000005) = 1", "ExitProcess(1)"}));

    // A test may have it search on: nobody handles the fault.
    coretest::NewWorld();
    sim::SetUnhandledExceptionVerdict(EXCEPTION_CONTINUE_SEARCH);
    sim::ProcessResult run = coretest::Run([&] { GuardedCall(FaultNow, nullptr, AskTheSystem, &result); });
    EXPECT_TRUE(run.crashed);

    // Resuming a faulting instruction faults again and again.
    coretest::NewWorld();
    resumed = 0;
    run = coretest::Run([&] { GuardedCall(FaultNow, nullptr, ResumeAlways, &result); });
    EXPECT_TRUE(run.hung);
    EXPECT_EQ(resumed, 1000);
}

TEST(CoreLog, SystemCallsStayOutAndEventsPrintOneALine) {
    coretest::NewWorld();
    std::vector<std::string> observed;
    sim::SetObserver([&](const sim::Event &e) {
        if (e.kind == sim::EventKind::Call) observed.push_back(e.text);
    });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = CreateWindowExA(0, "Rec", "x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    sim::ProgramInstance(), nullptr);
        sim::Mark("close");
        size_t mark = coretest::LogMark();
        SendMessageA(hwnd, WM_CLOSE, 0, 0);   // DefWindowProcA destroys the window itself
        std::vector<std::string> lines;
        for (size_t i = mark; i < sim::Log().size(); ++i) lines.push_back(sim::FormatEvent(sim::Log()[i]));
        EXPECT_EQ(lines, (std::vector<std::string>{
                             "[       0] SendMessageA(w1, WM_CLOSE, 0x0, 0x0) = 0",
                             "[       0] sent w1 WM_CLOSE(0x0, 0x0)",
                             "[       0]   DefWindowProcA(w1, WM_CLOSE, 0x0, 0x0) = 0",
                             "[       0]   sent w1 WM_DESTROY(0x0, 0x0)",
                             "[       0]     DefWindowProcA(w1, WM_DESTROY, 0x0, 0x0) = 0",
                             "[       0]     w1 WM_DESTROY = 0",
                             "[       0]   sent w1 WM_NCDESTROY(0x0, 0x0)",
                             "[       0]     DefWindowProcA(w1, WM_NCDESTROY, 0x0, 0x0) = 0",
                             "[       0]     w1 WM_NCDESTROY = 0",
                             "[       0]   w1 WM_CLOSE = 0",
                         }));
        EXPECT_FALSE(IsWindow(hwnd));
        ExitProcess(0);
    });
    EXPECT_EQ(sim::CallCount("DestroyWindow"), 0);
    EXPECT_EQ(observed.back(), "ExitProcess(0)");
    EXPECT_NE(std::find(observed.begin(), observed.end(), "SendMessageA(w1, WM_CLOSE, 0x0, 0x0) = 0"),
              observed.end());
    EXPECT_NE(sim::FormatLog().find("-- close\n"), std::string::npos);
    sim::SetObserver(nullptr);
}

}  // namespace
