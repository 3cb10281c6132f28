// What the parts of the window core share among themselves (process, call
// log, clock, windows, messages, input, dialogs): the window records, the
// queue and timer hooks, activation and focus, and the ways a simulated
// process ends. The rest of the simulation sees only sim_internal.h.
#ifndef VELLOMIRE_SIM_CORE_H
#define VELLOMIRE_SIM_CORE_H

#include "sim_internal.h"

#include <functional>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim::core {

// ---------------------------------------------------------------- process end
// Thrown to end the simulated process (ExitProcess, a hang, an unhandled
// fault); RunProcess catches it. Product code never catches C++ exceptions.
struct ProcessEnd {
    ProcessResult result;
};
[[noreturn]] void EndAsHung(const std::string &reason);
bool ProcessRunning();
// Ids the system gives the program's thread and other processes' threads
// (the lParam of WM_ACTIVATEAPP).
constexpr DWORD kProgramThreadId = 0x0104;
constexpr DWORD kOutsideThreadId = 0x0208;

// ---------------------------------------------------------------- call log
void ResetCallLog();
bool Recording();              // events are logged or observed
int ProcedureDepth();          // window procedures active right now
struct ProcedureFrame {        // counts one window procedure call
    ProcedureFrame();
    ~ProcedureFrame();
};
// Raises a fault through the guards; returns only when a filter asked to
// continue execution.
void DispatchFault(DWORD code, void *address);
void ResetFaultGuards();

// ---------------------------------------------------------------- clock
void ResetClock(const Config &config);
uint64_t ElapsedMs();
uint32_t TickCount();
// Moves the clock forward; ends the process as hung past Config.maxVirtualMs.
void AdvanceClock(uint64_t ms);
void AdvanceClockTo(uint64_t elapsed);
// Runs the At() actions whose time has come, in order. True if any ran.
bool RunDueActions();
bool NextActionTime(uint64_t *elapsed);
void CallIdleHook();

// Window timers.
struct TimerHit {
    HWND hwnd;
    UINT_PTR id;
    TIMERPROC proc;
};
bool FindDueTimer(HWND filter, bool remove, TimerHit *hit);
bool NextTimerTime(HWND filter, uint64_t *elapsed);
void KillWindowTimers(HWND hwnd);
int LiveTimers();
void ResetTimers();

// ---------------------------------------------------------------- windows
enum class Kind { Program, Dialog, Button, Static, Edit, Outside };

struct Window {
    HWND hwnd = nullptr;
    int index = 0;                 // "w<index>" in the log
    Kind kind = Kind::Program;
    std::string className;         // as registered or as the system names it
    int classIndex = -1;           // program class, -1 for system classes
    WNDPROC proc = nullptr;        // the program's procedure (Kind::Program)
    DLGPROC dlgProc = nullptr;     // the dialog procedure (Kind::Dialog)
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;         // WS_CHILD windows
    HWND owner = nullptr;          // owned top-level windows
    int id = 0;                    // child id (the menu argument)
    RECT rect = {};                // window rectangle: parent's client coordinates or screen
    RECT frame = {};               // nonclient widths: left, top, right, bottom
    bool alive = true;
    bool destroying = false;
    std::vector<HWND> children;    // z-order, top first (= creation order)
    // Painting.
    bool needsPaint = false;
    bool needsErase = false;
    bool eraseFailed = false;      // the last WM_ERASEBKGND was answered 0
    RECT update = {};
    // Dialog windows.
    INT_PTR dialogResult = 0;
    bool dialogEnded = false;
    int defaultId = 0;             // DM_GETDEFID
    HWND savedFocus = nullptr;
    HWND disabledOwner = nullptr;  // the owner the modal loop disabled
    LONG_PTR msgResult = 0;        // DWLP_MSGRESULT
    // Controls.
    UINT check = 0;
    bool pushed = false;
    bool isDefault = false;        // push button drawn as the default one
    size_t selStart = 0;
    size_t selEnd = 0;
    size_t textLimit = 32767;
};

Window *Find(HWND hwnd);                    // live windows only
Window *FindAny(HWND hwnd);                 // destroyed ones too
HWND Root(HWND hwnd);                       // top-level ancestor
bool IsChildOf(HWND parent, HWND hwnd);     // hwnd is a descendant of parent
bool IsVisibleWindow(const Window *w);      // it and every ancestor visible
RECT ClientOnScreen(const Window *w);
POINT ClientOrigin(const Window *w);        // client origin on the screen
std::vector<HWND> TopLevelsTopFirst();
HWND WindowAt(POINT screen);                // deepest visible window at the point
HWND CreateWindowInternal(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                          int y, int width, int height, HWND parent, HMENU menu,
                          HINSTANCE instance, LPVOID param, DLGPROC dialogProc = nullptr);
// Client size in pixels given directly (dialogs place their client area).
BOOL DestroyWindowInternal(HWND hwnd);
BOOL ShowWindowInternal(HWND hwnd, int command);
void HideWindowNoActivate(HWND hwnd);       // SetWindowPos(SWP_HIDEWINDOW | SWP_NOACTIVATE)
RECT NonclientFrame(DWORD style, DWORD exStyle);   // widths: left, top, right, bottom
void EnableWindowInternal(HWND hwnd, bool enable);
bool IsEnabled(const Window *w);
void Invalidate(Window *w, bool erase);
void ResetWindowCore();
int LiveClasses();
HCURSOR ProgramClassCursor(HWND hwnd);
UINT ProgramClassStyle(HWND hwnd);

// Activation and focus.
HWND Foreground();
HWND ActiveWindow();
HWND FocusWindowInternal();
bool SetForegroundInternal(HWND hwnd, bool mouse);
void SetFocusInternal(HWND hwnd);           // the focus change with its messages
HWND SetFocusChecked(HWND hwnd);            // SetFocus: activates the top-level first
void ActivateOther(HWND leaving);
void LockForeground();                      // the user went to another application
void BringToTop(HWND hwnd);                 // its top-level window to the top of its band
HWND OtherApplicationWindow();

// ---------------------------------------------------------------- messages
// Delivers a message to a window's procedure as SendMessage does.
LRESULT Deliver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                EventKind kind = EventKind::Sent);
LRESULT DefWindowProcInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
bool PostInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostInput(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Input for whichever window has the focus when the program retrieves it.
void PostFocusInput(UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitInternal(int code);
// Waits for a message as GetMessageA does (the clock runs); false for WM_QUIT.
// When woken is given and answers true after the world has acted (a window
// of the thread destroyed from another process, say), the wait ends with a
// WM_NULL, as the system's cross-thread work wakes a waiting thread.
bool GetMessageInternal(MSG *msg, HWND filter, UINT min, UINT max,
                        const std::function<bool()> &woken = nullptr);
bool PeekMessageInternal(MSG *msg, HWND filter, UINT min, UINT max, bool remove);
bool TranslateInternal(const MSG *msg);
LRESULT DispatchInternal(const MSG *msg);
void RemoveWindowMessages(HWND hwnd);
void RecordOutsideMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void ResetQueue();                          // the program's queue; outside records stay
void ClearOutsideMessages();
HDC BeginPaintFor(Window *w, PAINTSTRUCT *ps);
void EndPaintFor(HWND hwnd, const PAINTSTRUCT *ps);

// ---------------------------------------------------------------- input
POINT CursorPos();
void OnKeyRetrieved(const MSG &msg);        // the thread's key state follows retrieval
bool KeyIsDown(int vk);                     // in the thread's key state
// WM_NCHITTEST, click activation, WM_SETCURSOR; false when the message is eaten.
bool OnMouseRetrieved(const MSG &msg);
HCURSOR ArrowCursor();
void OnWindowShown(HWND hwnd);              // a window appeared: maybe under the cursor
void SetCursorInternal(HCURSOR cursor);
void ResetInput(const Config &config);
char CharacterOfKey(int vk, bool shift);

// ---------------------------------------------------------------- dialogs
LRESULT DialogWindowProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam, EventKind kind);
HBRUSH FaceBrush();             // the 3D face colour of dialogs and buttons
LRESULT ButtonProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT StaticProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT EditProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam);
void ResetDialogs();

// Messages the product's header leaves out.
constexpr UINT kWmCancelMode = 0x001F;
constexpr UINT kWmParentNotify = 0x0210;
constexpr UINT kWmEnterIdle = 0x0121;
constexpr UINT kBmSetState = 0x00F3;
constexpr UINT kBmClick = 0x00F5;
constexpr UINT kEmSetSel = 0x00B1;
constexpr UINT kEmGetSel = 0x00B0;
constexpr UINT kDmSetDefId = WM_USER + 1;
constexpr WORD kDcHasDefId = 0x534B;
constexpr int kVkBack = 0x08;
constexpr int kHtClient = 1;
constexpr int kHtCaption = 2;
constexpr int kHtNowhere = 0;
constexpr int kHtBorder = 18;

// Error codes the product's header leaves out.
constexpr DWORD kErrorCannotFindClass = 1407;
constexpr DWORD kErrorClassDoesNotExist = 1411;
constexpr DWORD kErrorClassHasWindows = 1412;
constexpr DWORD kErrorTlwWithChild = 1406;
constexpr DWORD kErrorControlIdNotFound = 1421;
constexpr DWORD kErrorNoSystemResources = 1450;
constexpr DWORD kErrorNotEnoughQuota = 1816;

}  // namespace sim::core

#endif
