// What the parts of the simulation share among themselves: the call log and
// fault hooks every simulated function goes through, window geometry for
// drawing, the program's resources, and the internal scope that keeps the
// system's own calls out of the program's call log.
#ifndef VELLOMIRE_SIM_INTERNAL_H
#define VELLOMIRE_SIM_INTERNAL_H

#include "simctl.h"

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

namespace sim::detail {

// ---------------------------------------------------------------- calls
// Every simulated platform function starts with BeginCall. It counts the
// call, records it in the log and says whether fault injection wants this
// call to fail (fail) or to raise an access violation (raised inside
// BeginCall, before it returns). Calls the system makes on its own behalf
// (inside an InternalScope) are neither logged, counted nor failed.
struct Call {
    size_t logIndex = SIZE_MAX;  // SIZE_MAX when not logged
    bool fail = false;
};
Call BeginCall(const char *function, const std::string &arguments);
// Completes the log entry with the result text (and its numeric value).
void EndCall(const Call &call, const std::string &result, LRESULT value = 0);
bool InInternalScope();
struct InternalScope {
    InternalScope();
    ~InternalScope();
};
// Calling back into the program's code (window and dialog procedures, fake
// module entries) leaves the internal scope for the length of the call.
struct ProgramScope {
    ProgramScope();
    ~ProgramScope();
    int saved;
};

// Handle names for the log: "w3", "dc2", "bm1", "brush:BLACK", "key1", "mod:PASSWORD.CPL".
std::string Name(HWND hwnd);
std::string Name(HDC dc);
std::string Name(HGDIOBJ object);
std::string Name(HKEY key);
std::string Name(HMODULE module);
std::string Quote(LPCSTR text);          // "\"text\"", "null", or "#123" for an integer resource
std::string Format(const char *format, ...);

void LogMessage(EventKind kind, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                LRESULT result, int depth);
void RecordMisuse(const std::string &text);
void SetLastErrorInternal(DWORD error);

// ---------------------------------------------------------------- windows (core)
struct WindowGeometry {
    HWND topLevel;      // the top-level window whose framebuffer holds this one
    int clientLeft;     // client origin in the top-level window's client coordinates
    int clientTop;
    int clientWidth;
    int clientHeight;
    bool visible;       // the window and all its ancestors are visible
};
bool GetWindowGeometry(HWND hwnd, WindowGeometry *geometry);
// Top-level windows from bottom to top of the z-order, with their client
// rectangles on the screen.
struct TopLevel { HWND hwnd; RECT clientOnScreen; bool visible; };
std::vector<TopLevel> TopLevelWindows();
bool IsProgramWindow(HWND hwnd);
HBRUSH ClassBrush(HWND hwnd);
void ResetWindows();

// ---------------------------------------------------------------- clock
// Virtual milliseconds since Reset, and the calendar time (UTC seconds since
// 1970) that the time functions report: Config.calendarSeconds plus them.
uint64_t VirtualMilliseconds();
int64_t CalendarSeconds();

// ---------------------------------------------------------------- drawing (GDI)
// Called by the window core: a top-level window got a client area of this
// size (created or resized), or went away; a window went away (its DCs die).
void OnTopLevelResized(HWND hwnd, int width, int height);
void OnWindowDestroyed(HWND hwnd);
// The system's own painting (WM_ERASEBKGND default, BeginPaint) without logging.
HDC GetWindowDcInternal(HWND hwnd);
void ReleaseDcInternal(HWND hwnd, HDC dc);
void FillRectInternal(HDC dc, const RECT &rect, HBRUSH brush);
void ResetGdi();
// Live() asks the drawing part for its open device contexts and objects.
void FillGdiCounts(LiveCounts *counts);

// ---------------------------------------------------------------- resources
struct DialogControl {
    std::string className;   // "Button", "Static", "Edit" for the predefined atoms, else as stored
    int id;                  // -1 for none
    std::string text;        // "#123" when the template names a resource
    DWORD style;             // everything, WS_CHILD and WS_VISIBLE included
    DWORD exStyle;
    int x, y, cx, cy;        // dialog units
};
struct DialogTemplate {
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;        // dialog units
    std::string caption;
    int pointSize;           // 0 and no face without DS_SETFONT
    std::string fontName;
    std::vector<DialogControl> controls;
};
// Resources of the program, from the resource file that windres compiles
// from the resource script (Config::resourceFile).
const DialogTemplate *FindDialogTemplate(LPCSTR name);
bool FindString(UINT id, std::string *text);
// Dialog base units of the template's font, in pixels (x: per 4 units, y: per 8 units).
void DialogBaseUnits(const DialogTemplate &dialog, int *baseX, int *baseY);
// The picture of a bitmap resource, decoded to true colour (null when there
// is no such bitmap or it can't be decoded). Decoded pictures are kept across
// Reset: they don't change during a run.
std::shared_ptr<const Image> BitmapResourceImage(LPCSTR name);
void ResetResources();

// ---------------------------------------------------------------- the rest
void ResetProfiles();
void ResetRegistry();
void ResetModules();
void ResetSystem();
// Live() asks for the libraries held by LoadLibraryA and the open registry keys.
void FillModuleCounts(LiveCounts *counts);
int LiveRegistryKeys();
[[noreturn]] void RaiseFault(DWORD code);

}  // namespace sim::detail

#endif
