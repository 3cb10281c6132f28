// Input from the user, injected by tests: keys to the focus window, mouse
// buttons and moves to the window under the cursor, the wheel, double
// clicks, the cursor's position, shape and visibility, and the user going to
// another application (Deactivate).
//
// Like Windows, the system does the mouse's bookkeeping when the program
// retrieves a mouse message: WM_NCHITTEST, then for a button press on a
// window that is not active WM_MOUSEACTIVATE and the activation, then
// WM_SETCURSOR (wParam the window, lParam the hit code and the message).
// Keys are translated with the key state of the program's thread, which
// follows the key messages it has retrieved. The keyboard is a US layout.
#include "core.h"

#include <cstdlib>
#include <cstring>

namespace sim::core {
namespace {

constexpr uint64_t kDoubleClickMs = 500;
constexpr int kDoubleClickHalfWidth = 2;   // SM_CXDOUBLECLK / 2
constexpr WPARAM kMkLButton = 0x0001, kMkRButton = 0x0002, kMkShift = 0x0004, kMkControl = 0x0008,
                 kMkMButton = 0x0010;
constexpr int kVkControl = 0x11, kVkMenu = 0x12;

struct LastClick {
    bool valid = false;
    int button = 0;
    HWND hwnd = nullptr;
    uint64_t time = 0;
    POINT pt = {};
};

struct InputState {
    POINT cursor = {};
    HCURSOR current = nullptr;
    int showCount = 0;
    bool asyncDown[256] = {};
    bool threadDown[256] = {};
    int buttons = 0;          // MK_ bits of the buttons held
    LastClick last;
};

InputState &State() {
    static InputState state;
    return state;
}

HCURSOR Arrow() { return reinterpret_cast<HCURSOR>(uintptr_t(0x7F00)); }   // IDC_ARROW's cursor

int ScanCode(int vk) {
    static const char *rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    static const int starts[] = {0x10, 0x1E, 0x2C};
    for (int r = 0; r < 3; ++r)
        if (const char *at = strchr(rows[r], vk); at && vk) return starts[r] + int(at - rows[r]);
    if (vk >= '1' && vk <= '9') return 0x02 + (vk - '1');
    switch (vk) {
    case '0': return 0x0B;
    case VK_ESCAPE: return 0x01;
    case kVkBack: return 0x0E;
    case VK_TAB: return 0x0F;
    case VK_RETURN: return 0x1C;
    case kVkControl: return 0x1D;
    case VK_SHIFT: return 0x2A;
    case kVkMenu: return 0x38;
    case VK_SPACE: return 0x39;
    case 0xBD: return 0x0C;   // VK_OEM_MINUS
    case 0xBB: return 0x0D;   // VK_OEM_PLUS
    case 0xBA: return 0x27;   // VK_OEM_1
    case 0xBC: return 0x33;   // VK_OEM_COMMA
    case 0xBE: return 0x34;   // VK_OEM_PERIOD
    case 0xBF: return 0x35;   // VK_OEM_2
    }
    if (vk >= VK_F1 && vk <= VK_F1 + 9) return 0x3B + (vk - VK_F1);
    return 0;
}

const char kShiftedDigits[] = ")!@#$%^&*(";

struct Oem {
    int vk;
    char plain;
    char shifted;
};
const Oem kOemKeys[] = {{0xBD, '-', '_'}, {0xBB, '=', '+'}, {0xBA, ';', ':'},
                        {0xBC, ',', '<'}, {0xBE, '.', '>'}, {0xBF, '/', '?'}};

// The key and shift state that type a character, or false.
bool KeyForCharacter(char c, int *vk, bool *shift) {
    *shift = false;
    if (c >= 'a' && c <= 'z') return *vk = c - 'a' + 'A', true;
    if (c >= 'A' && c <= 'Z') return *vk = c, *shift = true, true;
    if (c >= '0' && c <= '9') return *vk = c, true;
    for (int d = 0; d < 10; ++d)
        if (kShiftedDigits[d] == c) return *vk = '0' + d, *shift = true, true;
    for (const Oem &o : kOemKeys) {
        if (o.plain == c) return *vk = o.vk, true;
        if (o.shifted == c) return *vk = o.vk, *shift = true, true;
    }
    switch (c) {
    case ' ': return *vk = VK_SPACE, true;
    case '\r':
    case '\n': return *vk = VK_RETURN, true;
    case '\t': return *vk = VK_TAB, true;
    case '\b': return *vk = kVkBack, true;
    case 0x1B: return *vk = VK_ESCAPE, true;
    }
    return false;
}

WPARAM MouseKeys() {
    InputState &s = State();
    WPARAM keys = WPARAM(s.buttons);
    if (s.asyncDown[VK_SHIFT]) keys |= kMkShift;
    if (s.asyncDown[kVkControl]) keys |= kMkControl;
    return keys;
}

WPARAM ButtonBit(int button) { return button == 0 ? kMkLButton : button == 1 ? kMkRButton : kMkMButton; }

LPARAM ClientPoint(HWND hwnd, POINT screen) {
    Window *w = Find(hwnd);
    POINT o = w ? ClientOrigin(w) : POINT{0, 0};
    return MAKELPARAM(screen.x - o.x, screen.y - o.y);
}

void PostMouse(UINT message) {
    HWND hwnd = WindowAt(State().cursor);
    if (!hwnd) return;
    PostInput(hwnd, message, MouseKeys(), ClientPoint(hwnd, State().cursor));
}

// A key for the focus window (routed when the program retrieves it).
void PostKey(int vk, bool down) {
    InputState &s = State();
    bool wasDown = s.asyncDown[vk & 0xFF];
    s.asyncDown[vk & 0xFF] = down;
    bool alt = s.asyncDown[kVkMenu];
    bool system = alt || vk == kVkMenu;
    LPARAM lParam = 1 | (LPARAM(ScanCode(vk)) << 16) | (alt ? (LPARAM(1) << 29) : 0);
    if (down && wasDown) lParam |= LPARAM(1) << 30;
    if (!down) lParam |= (LPARAM(1) << 30) | LPARAM(uint32_t(1u << 31));
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    PostFocusInput(message, WPARAM(vk), lParam);
}

}  // namespace

HCURSOR ArrowCursor() { return Arrow(); }

POINT CursorPos() { return State().cursor; }

void OnKeyRetrieved(const MSG &msg) {
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    bool up = msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP;
    if (down || up) State().threadDown[msg.wParam & 0xFF] = down;
}

bool KeyIsDown(int vk) { return State().threadDown[vk & 0xFF]; }

bool OnMouseRetrieved(const MSG &msg) {
    Window *w = Find(msg.hwnd);
    if (!w) return false;
    if (msg.message == WM_MOUSEWHEEL) return true;
    LRESULT hit = Deliver(msg.hwnd, WM_NCHITTEST, 0, MAKELPARAM(msg.pt.x, msg.pt.y));
    if (!Find(msg.hwnd)) return false;
    if (hit == kHtNowhere || hit == -2) {
        Deliver(msg.hwnd, WM_SETCURSOR, WPARAM(msg.hwnd), MAKELONG(WORD(hit), msg.message));
        return false;
    }
    bool eat = false;
    bool press = msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN ||
                 msg.message == WM_MBUTTONDOWN || msg.message == WM_LBUTTONDBLCLK ||
                 msg.message == WM_RBUTTONDBLCLK || msg.message == WM_MBUTTONDBLCLK;
    if (press && msg.hwnd != ActiveWindow()) {
        HWND top = Root(msg.hwnd);
        if (Find(top) && Find(top)->kind != Kind::Outside) {
            LRESULT answer = Deliver(msg.hwnd, WM_MOUSEACTIVATE, WPARAM(top), MAKELONG(WORD(hit), msg.message));
            if (answer == 2 || answer == 4) eat = true;   // MA_ACTIVATEANDEAT, MA_NOACTIVATEANDEAT
            if ((answer == 0 || answer == 1 || answer == 2) && top != ActiveWindow()) {
                BringToTop(top);   // the window manager raises a clicked window
                SetForegroundInternal(top, true);
            }
        }
    }
    if (!Find(msg.hwnd)) return false;
    Deliver(msg.hwnd, WM_SETCURSOR, WPARAM(msg.hwnd), MAKELONG(WORD(hit), msg.message));
    return !eat && Find(msg.hwnd) != nullptr;
}

void OnWindowShown(HWND hwnd) {
    HWND under = WindowAt(State().cursor);
    if (under && (under == hwnd || IsChildOf(hwnd, under)))
        PostInput(under, WM_MOUSEMOVE, MouseKeys(), ClientPoint(under, State().cursor));
}

void SetCursorInternal(HCURSOR cursor) { State().current = cursor; }

void ResetInput(const Config &config) {
    State() = InputState();
    State().cursor = config.cursor;
    State().current = Arrow();
}

char CharacterOfKey(int vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z') return char(shift ? vk : vk - 'A' + 'a');
    if (vk >= '0' && vk <= '9') return shift ? kShiftedDigits[vk - '0'] : char(vk);
    for (const Oem &o : kOemKeys)
        if (o.vk == vk) return shift ? o.shifted : o.plain;
    switch (vk) {
    case VK_SPACE: return ' ';
    case VK_RETURN: return '\r';
    case VK_TAB: return '\t';
    case kVkBack: return '\b';
    case VK_ESCAPE: return 0x1B;
    }
    return 0;
}

}  // namespace sim::core

namespace sim {

using namespace sim::core;

void KeyDown(int vk) { PostKey(vk, true); }
void KeyUp(int vk) { PostKey(vk, false); }

void KeyPress(int vk) {
    KeyDown(vk);
    KeyUp(vk);
}

void TypeText(const std::string &text) {
    for (char c : text) {
        int vk;
        bool shift;
        if (!KeyForCharacter(c, &vk, &shift)) {
            // No key types it: the character alone, as an input method sends it.
            PostFocusInput(WM_CHAR, WPARAM(uint8_t(c)), 1);
            continue;
        }
        bool pressShift = shift && !State().asyncDown[VK_SHIFT];
        bool releaseShift = !shift && State().asyncDown[VK_SHIFT];
        if (pressShift) KeyDown(VK_SHIFT);
        if (releaseShift) KeyUp(VK_SHIFT);
        KeyPress(vk);
        if (pressShift) KeyUp(VK_SHIFT);
        if (releaseShift) KeyDown(VK_SHIFT);
    }
}

void ButtonDown(int button) {
    InputState &s = State();
    s.buttons |= int(ButtonBit(button));
    HWND hwnd = WindowAt(s.cursor);
    if (!hwnd) return;
    Window *w = Find(hwnd);
    if (w->kind == Kind::Outside) {
        // A click on another application brings it to the front.
        PostInput(hwnd, button == 0 ? WM_LBUTTONDOWN : button == 1 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN,
                  MouseKeys(), ClientPoint(hwnd, s.cursor));
        if (Root(hwnd) != Foreground()) {
            BringToTop(hwnd);
            SetForegroundInternal(Root(hwnd), true);
            LockForeground();
        }
        return;
    }
    if (!IsEnabled(Find(Root(hwnd)))) return;   // a disabled window takes no clicks
    static const UINT downs[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    static const UINT doubles[] = {WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK};
    int b = button < 0 || button > 2 ? 0 : button;
    bool dblClks = w->kind != Kind::Program || (ProgramClassStyle(hwnd) & CS_DBLCLKS);
    uint64_t now = ElapsedMs();
    LastClick &last = s.last;
    bool isDouble = dblClks && last.valid && last.button == b && last.hwnd == hwnd &&
                    now - last.time < kDoubleClickMs && std::abs(s.cursor.x - last.pt.x) <= kDoubleClickHalfWidth &&
                    std::abs(s.cursor.y - last.pt.y) <= kDoubleClickHalfWidth;
    if (isDouble)
        last.valid = false;
    else
        last = LastClick{true, b, hwnd, now, s.cursor};
    PostInput(hwnd, isDouble ? doubles[b] : downs[b], MouseKeys(), ClientPoint(hwnd, s.cursor));
}

void ButtonUp(int button) {
    InputState &s = State();
    s.buttons &= ~int(ButtonBit(button));
    static const UINT ups[] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP};
    int b = button < 0 || button > 2 ? 0 : button;
    HWND hwnd = WindowAt(s.cursor);
    if (!hwnd || !IsEnabled(Find(Root(hwnd)))) return;
    PostInput(hwnd, ups[b], MouseKeys(), ClientPoint(hwnd, s.cursor));
}

void Click(int button) {
    ButtonDown(button);
    ButtonUp(button);
}

void DoubleClick(int button) {
    Click(button);
    Click(button);
}

void Wheel(int delta) {
    POINT p = State().cursor;
    WORD keys = WORD(MouseKeys());
    WORD amount = WORD(uint16_t(int16_t(delta)));
    PostFocusInput(WM_MOUSEWHEEL, WPARAM(DWORD(keys) | (DWORD(amount) << 16)), MAKELPARAM(p.x, p.y));
}

void SetCursorPosition(int x, int y) {
    InputState &s = State();
    const Config &config = CurrentConfig();
    x = std::max(0, std::min(x, config.screenWidth - 1));
    y = std::max(0, std::min(y, config.screenHeight - 1));
    if (x == s.cursor.x && y == s.cursor.y) return;
    s.cursor = POINT{x, y};
    PostMouse(WM_MOUSEMOVE);
}

void MoveCursor(int dx, int dy) { SetCursorPosition(State().cursor.x + dx, State().cursor.y + dy); }

POINT CursorPosition() { return State().cursor; }

bool CursorHidden() { return State().current == nullptr || State().showCount < 0; }

}  // namespace sim

using namespace sim;
using namespace sim::core;
using namespace sim::detail;

namespace {

std::string CursorName(HCURSOR cursor) {
    if (cursor == nullptr) return "null";
    if (cursor == ArrowCursor()) return "cursor:ARROW";
    return Name(HGDIOBJ(cursor));
}

}  // namespace

// Cannot fail on Windows: an injected failure is ignored.
HCURSOR SetCursor(HCURSOR cursor) {
    Call call = BeginCall("SetCursor", CursorName(cursor));
    HCURSOR previous = core::State().current;
    core::State().current = cursor;
    EndCall(call, CursorName(previous), reinterpret_cast<LRESULT>(previous));
    return previous;
}

// Cannot fail on Windows: an injected failure is ignored.
int ShowCursor(BOOL show) {
    Call call = BeginCall("ShowCursor", Format("%d", show));
    int count = core::State().showCount += show ? 1 : -1;
    EndCall(call, Format("%d", count), count);
    return count;
}

// Fails as on a desktop that the program may not read (the secure desktop).
BOOL GetCursorPos(LPPOINT point) {
    Call call = BeginCall("GetCursorPos", "");
    if (call.fail || !point) {
        SetLastErrorInternal(ERROR_ACCESS_DENIED);
        EndCall(call, "0");
        return FALSE;
    }
    *point = core::State().cursor;
    EndCall(call, Format("1 {%d, %d}", int(point->x), int(point->y)), 1);
    return TRUE;
}
