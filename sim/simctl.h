// Test controls of the simulated Win32 layer: build a world, run the program
// in it as a simulated process, inject input at virtual times, make calls
// fail, and read back the call log, the framebuffers, files and live objects.
// Product code never includes this header.
#ifndef VELLOMIRE_SIMCTL_H
#define VELLOMIRE_SIMCTL_H

#include "sim_windows.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// ---------------------------------------------------------------- the world
struct Config {
    int screenWidth = 1024;
    int screenHeight = 768;
    bool win95Family = false;       // GetVersionExA reports platform id 1 instead of 2
    bool versionFails = false;      // GetVersionExA fails
    std::string commandLine = "vellomire.scr";
    std::string windowsDir;         // where profile files live; empty: a fresh temporary folder
    std::string resourceFile;       // the .res file windres made; empty: the program's own
    uint32_t startTick = 0;         // GetTickCount at the start
    int64_t calendarSeconds = 0;    // UTC seconds since 1970-01-01 at the start
    int32_t timeZoneBias = 0;       // minutes, as TIME_ZONE_INFORMATION.Bias (UTC = local + bias)
    POINT cursor = {512, 384};      // cursor position at the start
    uint64_t maxVirtualMs = 48ull * 3600 * 1000;  // a run longer than this is a hang
    uint64_t maxMessages = 50000000;              // so is one that retrieves more messages
    bool logging = true;            // record the call log (long runs turn it off)
};

// Starts a new world: no windows, no classes, an empty queue, the clock at
// its start, fresh profile folder, empty registry, no fake modules, no
// faults, empty log, zero counts. The program's instance is ProgramInstance().
void Reset(const Config &config = Config());
const Config &CurrentConfig();
HINSTANCE ProgramInstance();

// ---------------------------------------------------------------- processes
struct ProcessResult {
    bool exited = false;      // ExitProcess was called
    uint32_t exitCode = 0;    // its argument
    bool returned = false;    // the entry returned without ExitProcess
    bool hung = false;        // a bound on virtual time or messages was hit, or nothing could ever happen again
    std::string hangReason;
    bool crashed = false;     // a fault no guard handled
    uint32_t crashCode = 0;
};
// Runs entry as the simulated program's process until ExitProcess, return,
// hang or crash. Windows of the process that are left are destroyed silently
// afterwards, as the system does when a process ends.
ProcessResult RunProcess(const std::function<void()> &entry);
// What UnhandledExceptionFilter answers (EXCEPTION_EXECUTE_HANDLER after
// Reset, as the system does when no debugger is configured).
void SetUnhandledExceptionVerdict(LONG verdict);

// ---------------------------------------------------------------- clock
uint32_t Now();                 // what GetTickCount returns
uint64_t Elapsed();             // virtual milliseconds since Reset
// Runs action when the virtual clock reaches Reset time + elapsedMs, from
// inside the program's message retrieval (GetMessageA, a modal loop, ...).
// Actions at the same time run in the order given.
void At(uint64_t elapsedMs, std::function<void()> action);
// Called with every retrieved message's time during long runs (optional).
void SetIdleHook(std::function<void()> hook);

// ---------------------------------------------------------------- input
// Each acts at once, as the hardware would, and is normally called from an
// At() action. Messages go to the window with the focus (keys) or under the
// cursor / with capture (mouse), like Windows.
void KeyDown(int vk);
void KeyUp(int vk);
void KeyPress(int vk);          // down, the character if any, up
void TypeText(const std::string &text);   // characters to the focus window
void ButtonDown(int button);    // 0 left, 1 right, 2 middle
void ButtonUp(int button);
void Click(int button = 0);     // down and up
void DoubleClick(int button = 0);
void Wheel(int delta);
void MoveCursor(int dx, int dy);
void SetCursorPosition(int x, int y);
POINT CursorPosition();
bool CursorHidden();            // the cursor set with SetCursor is null
// Another application's window takes the foreground; returns that window.
HWND Deactivate();

// ---------------------------------------------------------------- windows
// A top-level window of another process (the Display control panel, say)
// with the given client size; it answers every message with DefWindowProcA.
HWND CreateOutsideWindow(const std::string &title, int clientWidth, int clientHeight);
// The same with a class name of its own (the other forms use "#32770").
HWND CreateOutsideWindow(const std::string &title, int clientWidth, int clientHeight,
                         const std::string &className);
// The same with a class of the test's choosing (registered for the other
// process on first use), e.g. a saver window of another program.
HWND CreateOutsideWindowOfClass(const std::string &className, const std::string &title,
                                int clientWidth, int clientHeight);
// Destroys a window from outside the program (its children first).
void DestroyFromOutside(HWND hwnd);
// Messages posted to windows of other processes, oldest first.
std::vector<MSG> OutsideMessages(HWND hwnd);
std::string WindowName(HWND hwnd);      // "w1", "w2", ... in creation order; "null"
HWND WindowByIndex(int index);
std::vector<HWND> LiveWindows();
std::string WindowClass(HWND hwnd);
std::string WindowTitle(HWND hwnd);
DWORD WindowStyle(HWND hwnd);
DWORD WindowExStyle(HWND hwnd);
RECT WindowScreenRect(HWND hwnd);       // the window's rectangle on the screen
bool IsOutsideWindow(HWND hwnd);
HWND FocusWindow();

// ---------------------------------------------------------------- dialogs
HWND ActiveDialog();                     // the innermost modal dialog, or null
HWND DialogItem(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);
bool ItemChecked(HWND dialog, int id);
void ClickItem(HWND dialog, int id);     // a mouse click on the control
void PressCloseBox(HWND dialog);         // the caption's close box
RECT DialogItemRect(HWND dialog, int id); // in the dialog's client coordinates, pixels

// ---------------------------------------------------------------- pixels
// 0x00RRGGBB, row by row from the top.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};
Image Screen();                          // all visible windows composed
Image ClientPixels(HWND hwnd);           // the client area of one window
// The picture of a bitmap resource as the display holds it after LoadBitmapA.
Image ResourceBitmap(const std::string &name);
// Bitmaps of the test's own, loaded by LoadBitmapA by this name instead of the program's.
void InstallTestBitmap(const std::string &name, const Image &image);

// ---------------------------------------------------------------- call log
enum class EventKind {
    Call,        // a platform function called by the program; text "Name(args) = result"
    Sent,        // a message delivered to a window procedure by SendMessage or the system
    Posted,      // a message retrieved from the queue and dispatched
    Return,      // a window procedure returned; text "message = result"
    Mark,        // a marker written by the test
};
struct Event {
    EventKind kind;
    std::string function;   // Call: function name; Sent/Posted/Return: the window's name
    std::string text;       // Call: "BitBlt(dc1, 10, 20, 450, 1, dc2, 0, 0, SRCCOPY) = 1"
    UINT message = 0;       // Sent/Posted/Return
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;     // Return; Call (numeric result where it has one)
    uint64_t time = 0;      // Elapsed() when it happened
    int depth = 0;          // nesting of sent messages
};
const std::vector<Event> &Log();
void ClearLog();
void Mark(const std::string &text);
std::string FormatEvent(const Event &event);
std::string FormatLog();
// Every call and message as it happens (the runner's trace uses it).
void SetObserver(std::function<void(const Event &)> observer);
// Arguments of the calls as the program passed them, for observers.
std::string MessageName(UINT message);

// ---------------------------------------------------------------- faults
// Make the nth call (from 1) of one function, or of any platform function,
// fail the way Windows fails it (null handle, FALSE, error code, ...).
void FailCall(const std::string &function, int nth);
void FailNthCall(uint64_t nth);
// Make a call raise an access violation instead of returning.
void RaiseFaultAtCall(const std::string &function, int nth);
// Raise an access violation now, as a faulting instruction would (for fake modules).
[[noreturn]] void RaiseAccessViolation();
uint64_t CallCount();                    // platform calls since Reset
int CallCount(const std::string &function);

// ---------------------------------------------------------------- live objects
struct LiveCounts {
    int windows = 0;          // windows of the program's process
    int classes = 0;          // classes registered by the program
    int timers = 0;
    int windowDcs = 0;        // GetDC without ReleaseDC
    int memoryDcs = 0;        // CreateCompatibleDC without DeleteDC
    int bitmaps = 0;          // LoadBitmapA without DeleteObject
    int brushes = 0;          // non-stock brushes
    int libraries = 0;        // LoadLibraryA references held
    int registryKeys = 0;     // RegOpenKeyA without RegCloseKey
};
LiveCounts Live();
bool operator==(const LiveCounts &a, const LiveCounts &b);
// Misuse that Windows would refuse (an object deleted while selected, a
// context released twice, a bad handle), recorded as text.
const std::vector<std::string> &Misuse();

// ---------------------------------------------------------------- files
std::string WindowsDirectory();
bool ReadWindowsFile(const std::string &name, std::string *bytes);
void WriteWindowsFile(const std::string &name, const std::string &bytes);

// ---------------------------------------------------------------- registry
// key is a path below HKEY_CURRENT_USER, e.g. "Control Panel\\Desktop".
void SetRegistryValue(const std::string &key, const std::string &name, DWORD type,
                      const std::vector<uint8_t> &bytes);
void SetRegistryKey(const std::string &key);   // an existing key without values

// ---------------------------------------------------------------- modules
struct FakeModule {
    std::string fileName;                       // "PASSWORD.CPL"; matched without case
    std::map<std::string, void *> exports;      // entry points by name
    bool preloaded = false;                     // loaded in the process from the start (IMM32.DLL)
};
void InstallModule(const FakeModule &module);
int ModuleReferences(const std::string &fileName);   // current load count
int ModuleLoads(const std::string &fileName);        // LoadLibraryA calls that succeeded

// ---------------------------------------------------------------- system
struct SpiCall { UINT action; UINT param; UINT winIni; };
const std::vector<SpiCall> &SystemParameterCalls();

}  // namespace sim

#endif
