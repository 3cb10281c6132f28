// Window classes and windows: creation with the messages Windows sends,
// destruction, showing and hiding, geometry, lookup, titles, the z-order,
// activation, the foreground window and the keyboard focus, and the windows
// of other processes ("outside" windows).
//
// The orders of messages follow Wine's implementation of user32, which its
// conformance tests hold against Windows: creation sends WM_NCCREATE,
// WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE and, for WS_VISIBLE, the show
// sequence (WM_SHOWWINDOW, WM_WINDOWPOSCHANGING, activation, WM_NCPAINT,
// WM_ERASEBKGND, WM_WINDOWPOSCHANGED); destruction hides the window, hands
// the activation on, then sends WM_DESTROY from the parent down and
// WM_NCDESTROY from the children up. The fidelity probes (e2e/probes) hold
// these orders against Wine.
//
// Kept simpler than Windows, on purpose:
// - WM_GETMINMAXINFO is not sent (only overlapped and sizable windows get it;
//   the program makes neither); WM_NCPAINT is sent but nonclient areas are
//   not drawn.
// - Windows never move or change size after creation (the program has no
//   call that would do it), so no WM_SIZE/WM_MOVE come later.
// - Nonclient metrics are fixed: a caption is 19 pixels, a dialog frame 3, a
//   sizing frame 4, a border 1, as on a classic Windows desktop (and Wine).
// - One thread: the program's windows share one active window and focus;
//   the lParam of WM_ACTIVATEAPP is a fixed id for "another thread".
// - Foreground rights: the program may take the foreground unless the user
//   went to another application (sim::Deactivate) while it was in the
//   background; then SetForegroundWindow fails as Windows' foreground lock
//   makes it fail. A click on a program window gives the right back.
#include "core.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace sim::core {
namespace {

constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 0x20;
constexpr int kCaption = 19;
constexpr DWORD kWsExNoParentNotify = 0x00000004;

constexpr UINT kSwpNoSize = 0x0001, kSwpNoMove = 0x0002, kSwpNoZOrder = 0x0004,
               kSwpNoActivate = 0x0010, kSwpShowWindow = 0x0040, kSwpHideWindow = 0x0080,
               kSwpNoClientSize = 0x0800, kSwpNoClientMove = 0x1000;

// The WINDOWPOS record that WM_WINDOWPOSCHANGING/CHANGED point to.
struct WindowPos {
    HWND hwnd;
    HWND hwndInsertAfter;
    int x, y, cx, cy;
    UINT flags;
};

struct ClassRecord {
    std::string name;
    WNDCLASSA wc;
    ATOM atom;
    bool alive;
};

struct WindowState {
    std::vector<std::unique_ptr<Window>> windows;   // by index - 1; never shrinks within a world
    std::vector<HWND> zOrder;                       // top-level windows, bottom first
    std::vector<ClassRecord> classes;
    HWND foreground = nullptr;
    HWND active = nullptr;
    HWND focus = nullptr;
    bool foregroundLocked = false;
    // The program's thread holds the foreground input (Wine's foreground
    // queue): its active window, if any, is the foreground window, also one
    // that it activates later on its own.
    bool programInput = false;
    HWND otherApplication = nullptr;
};

WindowState &State() {
    static WindowState state;
    return state;
}

std::string Lower(std::string text) {
    for (char &c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

HWND HandleOf(int index) { return reinterpret_cast<HWND>(kFirstHandle + kHandleStep * uintptr_t(index)); }

RECT FrameFor(DWORD style, DWORD exStyle) {
    int edge = 0;
    if ((exStyle & WS_EX_DLGMODALFRAME) || (style & (WS_THICKFRAME | WS_DLGFRAME))) edge = 2;
    if (style & WS_THICKFRAME) edge += 1;
    if ((style & (WS_BORDER | WS_DLGFRAME)) || (exStyle & WS_EX_DLGMODALFRAME)) edge += 1;
    int top = edge + ((style & WS_CAPTION) == WS_CAPTION ? kCaption : 0);
    return RECT{edge, top, edge, edge};
}

int ClientWidth(const Window *w) {
    return std::max<LONG>(0, (w->rect.right - w->rect.left) - w->frame.left - w->frame.right);
}
int ClientHeight(const Window *w) {
    return std::max<LONG>(0, (w->rect.bottom - w->rect.top) - w->frame.top - w->frame.bottom);
}

bool IsTopmost(const Window *w) { return (w->exStyle & WS_EX_TOPMOST) != 0; }

// Puts a top-level window on top of the others of its band (topmost or not).
void RaiseTopLevel(HWND hwnd) {
    auto &z = State().zOrder;
    z.erase(std::remove(z.begin(), z.end(), hwnd), z.end());
    Window *w = Find(hwnd);
    if (!w) return;
    auto position = z.end();
    if (!IsTopmost(w))
        position = std::find_if(z.begin(), z.end(), [](HWND h) { return IsTopmost(Find(h)); });
    z.insert(position, hwnd);
}

bool IsProgram(const Window *w) { return w && w->kind != Kind::Outside; }

bool MayTakeForeground() {
    WindowState &s = State();
    return !s.foregroundLocked || s.programInput || s.foreground == nullptr || IsProgram(Find(s.foreground));
}

bool CanActivate(HWND hwnd, HWND leaving) {
    Window *w = Find(hwnd);
    return w && hwnd != leaving && !w->destroying && (w->style & WS_VISIBLE) &&
           !(w->style & WS_DISABLED) && !(w->style & WS_CHILD);
}

// WM_ACTIVATEAPP goes to every top-level window of the program's thread.
void SendActivateApp(bool active, DWORD otherThread) {
    for (HWND hwnd : TopLevelsTopFirst()) {
        Window *w = Find(hwnd);
        if (IsProgram(w)) Deliver(hwnd, WM_ACTIVATEAPP, active ? TRUE : FALSE, LPARAM(otherThread));
    }
}

// The program's active window changes (Wine's set_active_window).
void ChangeActive(HWND hwnd, bool mouse, DWORD otherThread) {
    WindowState &s = State();
    HWND previous = s.active;
    if (previous == hwnd) return;
    if (previous && Find(previous)) {
        Deliver(previous, WM_NCACTIVATE, FALSE, LPARAM(hwnd));
        if (Find(previous)) Deliver(previous, WM_ACTIVATE, MAKELONG(WA_INACTIVE, 0), LPARAM(hwnd));
    }
    s.active = hwnd;
    if (s.programInput) s.foreground = hwnd;
    if ((previous == nullptr) != (hwnd == nullptr)) {
        if (previous) SendActivateApp(false, otherThread);
        if (hwnd) SendActivateApp(true, otherThread);
    }
    if (hwnd && Find(hwnd)) {
        Deliver(hwnd, WM_NCACTIVATE, hwnd == s.foreground ? TRUE : FALSE, LPARAM(previous));
        if (Find(hwnd))
            Deliver(hwnd, WM_ACTIVATE, MAKELONG(mouse ? WA_CLICKACTIVE : WA_ACTIVE, 0), LPARAM(previous));
    }
    if (s.active == hwnd) {
        if (!s.focus || !hwnd || Root(s.focus) != hwnd) SetFocusInternal(hwnd);
    }
}

void SendWindowPos(Window *w, UINT message, UINT flags) {
    WindowPos pos{w->hwnd, nullptr, int(w->rect.left), int(w->rect.top),
                  int(w->rect.right - w->rect.left), int(w->rect.bottom - w->rect.top), flags};
    Deliver(w->hwnd, message, 0, reinterpret_cast<LPARAM>(&pos));
}

void InvalidateTree(Window *w) {
    Invalidate(w, true);
    for (HWND child : w->children)
        if (Window *c = Find(child))
            if (c->style & WS_VISIBLE) InvalidateTree(c);
}

// A window that has just become visible is drawn at once, as Wine does it:
// WM_NCPAINT, then WM_ERASEBKGND with a DC of the window. That uses up the
// erase request; a window that answered 0 (not erased) finds fErase set in
// its next BeginPaint instead of a second WM_ERASEBKGND.
void EraseNow(Window *w) {
    if (!IsVisibleWindow(w)) return;
    Deliver(w->hwnd, WM_NCPAINT, 1, 0);
    if (!w->alive || !w->needsErase) return;
    w->needsErase = false;
    HDC dc = detail::GetWindowDcInternal(w->hwnd);
    LRESULT erased = Deliver(w->hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    if (w->alive) detail::ReleaseDcInternal(w->hwnd, dc);
    if (w->alive && !erased) w->eraseFailed = true;
}

void EraseUncovered(Window *parent) {
    if (!parent || !IsVisibleWindow(parent) || parent->kind == Kind::Outside) return;
    Invalidate(parent, false);
    HDC dc = detail::GetWindowDcInternal(parent->hwnd);
    LRESULT erased = Deliver(parent->hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    if (parent->alive) detail::ReleaseDcInternal(parent->hwnd, dc);
    if (parent->alive && !erased) parent->eraseFailed = true;
}

// SetWindowPos with SWP_SHOWWINDOW or SWP_HIDEWINDOW and no move or size.
// Without SWP_NOZORDER the window goes to the top of its band (also when it
// is hidden); activation alone does not move it, as in Wine.
void ShowHide(Window *w, bool show, bool activate, bool zOrder) {
    UINT flags = kSwpNoSize | kSwpNoMove | (show ? kSwpShowWindow : kSwpHideWindow);
    if (!activate) flags |= kSwpNoActivate;
    if (!zOrder) flags |= kSwpNoZOrder;
    SendWindowPos(w, WM_WINDOWPOSCHANGING, flags);
    if (!w->alive) return;
    if (!(w->style & WS_CHILD) && zOrder) RaiseTopLevel(w->hwnd);
    if (show) {
        w->style |= WS_VISIBLE;
        InvalidateTree(w);
    } else {
        w->style &= ~WS_VISIBLE;
        w->needsPaint = w->needsErase = false;
    }
    if (show && activate && MayTakeForeground()) SetForegroundInternal(w->hwnd, false);
    // A top-level window is drawn as it appears; a child waits for its paint.
    if (show && w->alive && !(w->style & WS_CHILD)) EraseNow(w);
    // The parent's area that a hidden child uncovers is erased at once.
    if (!show && w->alive && (w->style & WS_CHILD)) EraseUncovered(Find(w->parent));
    if (w->alive) SendWindowPos(w, WM_WINDOWPOSCHANGED, flags | kSwpNoClientSize | kSwpNoClientMove);
}

void ParentNotify(Window *w, UINT event) {
    if (!(w->style & WS_CHILD) || (w->exStyle & kWsExNoParentNotify) || !w->parent) return;
    if (Find(w->parent)) Deliver(w->parent, kWmParentNotify, MAKELONG(event, w->id), LPARAM(w->hwnd));
}

// The window's storage goes: no more messages to it.
void Free(Window *w) {
    WindowState &s = State();
    w->alive = false;
    if (w->parent) {
        if (Window *p = FindAny(w->parent)) {
            auto &c = p->children;
            c.erase(std::remove(c.begin(), c.end(), w->hwnd), c.end());
        }
    } else {
        s.zOrder.erase(std::remove(s.zOrder.begin(), s.zOrder.end(), w->hwnd), s.zOrder.end());
    }
    KillWindowTimers(w->hwnd);
    RemoveWindowMessages(w->hwnd);
    if (s.focus == w->hwnd) s.focus = nullptr;
    if (s.active == w->hwnd) s.active = nullptr;
    if (s.foreground == w->hwnd) s.foreground = nullptr;
    if (s.otherApplication == w->hwnd) s.otherApplication = nullptr;
    detail::OnWindowDestroyed(w->hwnd);
}

// WM_NCDESTROY from the children up, then the storage (Wine's WIN_DestroyWindow).
void FinalDestroy(Window *w) {
    std::vector<HWND> children = w->children;
    for (HWND child : children)
        if (Window *c = Find(child)) FinalDestroy(c);
    if (!w->alive) return;
    Deliver(w->hwnd, WM_NCDESTROY, 0, 0);
    if (w->alive) Free(w);
}

// WM_DESTROY from the parent down (Wine's WIN_SendDestroyMsg).
void SendDestroyMessages(Window *w) {
    if (w->hwnd == State().active) ActivateOther(w->hwnd);
    if (!w->alive) return;
    Deliver(w->hwnd, WM_DESTROY, 0, 0);
    if (!w->alive) return;
    std::vector<HWND> children = w->children;
    for (HWND child : children)
        if (Window *c = Find(child)) SendDestroyMessages(c);
}

BOOL DestroySequence(Window *w) {
    if (w->destroying) return TRUE;
    w->destroying = true;
    bool isChild = (w->style & WS_CHILD) != 0;
    ParentNotify(w, WM_DESTROY);
    if (!w->alive) return TRUE;
    if (w->style & WS_VISIBLE) {
        // Only child windows get WM_SHOWWINDOW on the way out.
        if (isChild)
            ShowWindowInternal(w->hwnd, SW_HIDE);
        else
            ShowHide(w, false, false, false);
    }
    if (!w->alive) return TRUE;
    if (!isChild) {
        for (auto &other : State().windows)
            if (other->alive && other->owner == w->hwnd && IsProgram(other.get()))
                DestroySequence(other.get());
    }
    SendDestroyMessages(w);
    if (w->alive) FinalDestroy(w);
    return TRUE;
}

const ClassRecord *FindClass(LPCSTR name) {
    for (const ClassRecord &c : State().classes) {
        if (!c.alive) continue;
        if (IS_INTRESOURCE(name) ? c.atom == ATOM(reinterpret_cast<uintptr_t>(name))
                                 : Lower(c.name) == Lower(name))
            return &c;
    }
    return nullptr;
}

}  // namespace

Window *FindAny(HWND hwnd) {
    uintptr_t value = reinterpret_cast<uintptr_t>(hwnd);
    if (value < kFirstHandle + kHandleStep || (value - kFirstHandle) % kHandleStep) return nullptr;
    size_t index = (value - kFirstHandle) / kHandleStep;
    auto &windows = State().windows;
    if (index == 0 || index > windows.size()) return nullptr;
    return windows[index - 1].get();
}

Window *Find(HWND hwnd) {
    Window *w = FindAny(hwnd);
    return w && w->alive ? w : nullptr;
}

HWND Root(HWND hwnd) {
    Window *w = Find(hwnd);
    while (w && (w->style & WS_CHILD) && w->parent && Find(w->parent)) w = Find(w->parent);
    return w ? w->hwnd : nullptr;
}

bool IsChildOf(HWND parent, HWND hwnd) {
    Window *w = Find(hwnd);
    while (w && (w->style & WS_CHILD) && w->parent) {
        if (w->parent == parent) return true;
        w = Find(w->parent);
    }
    return false;
}

bool IsVisibleWindow(const Window *w) {
    while (w) {
        if (!(w->style & WS_VISIBLE)) return false;
        if (!(w->style & WS_CHILD) || !w->parent) return true;
        w = Find(w->parent);
    }
    return false;
}

POINT ClientOrigin(const Window *w) {
    POINT origin{w->rect.left + w->frame.left, w->rect.top + w->frame.top};
    if ((w->style & WS_CHILD) && w->parent) {
        if (Window *p = Find(w->parent)) {
            POINT parent = ClientOrigin(p);
            origin.x += parent.x;
            origin.y += parent.y;
        }
    }
    return origin;
}

RECT ClientOnScreen(const Window *w) {
    POINT o = ClientOrigin(w);
    return RECT{o.x, o.y, o.x + ClientWidth(w), o.y + ClientHeight(w)};
}

std::vector<HWND> TopLevelsTopFirst() {
    std::vector<HWND> list(State().zOrder.rbegin(), State().zOrder.rend());
    return list;
}

static bool Contains(const RECT &r, POINT p) {
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

static RECT WindowOnScreen(const Window *w) {
    RECT r = w->rect;
    if ((w->style & WS_CHILD) && w->parent)
        if (Window *p = Find(w->parent)) {
            POINT o = ClientOrigin(p);
            r.left += o.x;
            r.right += o.x;
            r.top += o.y;
            r.bottom += o.y;
        }
    return r;
}

HWND WindowAt(POINT screen) {
    for (HWND hwnd : TopLevelsTopFirst()) {
        Window *w = Find(hwnd);
        if (!w || !(w->style & WS_VISIBLE) || !Contains(WindowOnScreen(w), screen)) continue;
        // Descend into the topmost visible, enabled child under the point.
        for (;;) {
            Window *next = nullptr;
            for (HWND child : w->children) {
                Window *c = Find(child);
                // Static controls are transparent to the mouse.
                if (c && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED) && c->kind != Kind::Static &&
                    Contains(WindowOnScreen(c), screen)) {
                    next = c;
                    break;
                }
            }
            if (!next) break;
            w = next;
        }
        return w->hwnd;
    }
    return nullptr;
}

bool IsEnabled(const Window *w) { return w && !(w->style & WS_DISABLED); }

void Invalidate(Window *w, bool erase) {
    if (!w || !IsVisibleWindow(w)) return;
    w->needsPaint = true;
    if (erase) w->needsErase = true;
    w->update = RECT{0, 0, ClientWidth(w), ClientHeight(w)};
}

HWND CreateWindowInternal(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                          int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                          LPVOID param, DLGPROC dialogProc) {
    WindowState &s = State();
    auto fail = [](DWORD error) -> HWND {
        detail::SetLastErrorInternal(error);
        return nullptr;
    };
    if (className == nullptr) return fail(kErrorCannotFindClass);
    const ClassRecord *cls = FindClass(className);
    Kind kind = Kind::Program;
    std::string name;
    if (cls) {
        name = cls->name;
    } else if (!IS_INTRESOURCE(className)) {
        std::string lower = Lower(className);
        if (lower == "#32770") kind = Kind::Dialog;
        else if (lower == "button") kind = Kind::Button;
        else if (lower == "static") kind = Kind::Static;
        else if (lower == "edit") kind = Kind::Edit;
        else return fail(kErrorCannotFindClass);
        name = lower == "#32770" ? "#32770" : std::string(1, char(toupper(lower[0]))) + lower.substr(1);
    } else {
        return fail(kErrorCannotFindClass);
    }
    HWND owner = nullptr;
    if (style & WS_CHILD) {
        if (parent == nullptr) return fail(kErrorTlwWithChild);
        if (!Find(parent)) return fail(ERROR_INVALID_WINDOW_HANDLE);
    } else if (parent) {
        if (!Find(parent)) return fail(ERROR_INVALID_WINDOW_HANDLE);
        owner = Root(parent);
        parent = nullptr;
    }
    auto window = std::make_unique<Window>();
    Window *w = window.get();
    w->index = int(s.windows.size()) + 1;
    w->hwnd = HandleOf(w->index);
    w->kind = kind;
    w->className = name;
    w->classIndex = cls ? int(cls - s.classes.data()) : -1;
    w->proc = cls ? cls->wc.lpfnWndProc : nullptr;
    w->dlgProc = dialogProc;
    w->style = style & ~DWORD(WS_VISIBLE);
    w->exStyle = exStyle;
    if (kind == Kind::Dialog && (style & DS_MODALFRAME)) w->exStyle |= WS_EX_DLGMODALFRAME;
    w->frame = FrameFor(w->style, w->exStyle);
    w->parent = (style & WS_CHILD) ? parent : nullptr;
    w->owner = owner;
    w->id = (style & WS_CHILD) ? int(reinterpret_cast<intptr_t>(menu)) : 0;
    bool overlapped = !(style & (WS_POPUP | WS_CHILD));
    if (x == CW_USEDEFAULT) {
        x = overlapped ? 26 : 0;
        y = overlapped ? 26 : 0;
    }
    if (width == CW_USEDEFAULT) {
        width = overlapped ? CurrentConfig().screenWidth * 3 / 4 : 0;
        height = overlapped ? CurrentConfig().screenHeight * 3 / 4 : 0;
    }
    w->rect = RECT{x, y, x + std::max(0, width), y + std::max(0, height)};
    s.windows.push_back(std::move(window));
    if (w->parent)
        Find(w->parent)->children.push_back(w->hwnd);
    else
        RaiseTopLevel(w->hwnd);
    HWND hwnd = w->hwnd;
    if (!w->parent) detail::OnTopLevelResized(hwnd, ClientWidth(w), ClientHeight(w));

    CREATESTRUCTA cs = {param, instance, menu, w->parent ? w->parent : owner, height, width, y, x,
                        LONG(style), title, className, exStyle};
    if (!Deliver(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        if (w->alive) FinalDestroy(w);
        return nullptr;
    }
    if (!w->alive) return nullptr;
    RECT calc = w->rect;
    Deliver(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&calc));
    if (!w->alive) return nullptr;
    if (Deliver(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (w->alive) FinalDestroy(w);
        return nullptr;
    }
    if (!w->alive) return nullptr;
    Deliver(hwnd, WM_SIZE, 0, MAKELPARAM(ClientWidth(w), ClientHeight(w)));
    if (!w->alive) return nullptr;
    Deliver(hwnd, WM_MOVE, 0, MAKELPARAM(w->rect.left + w->frame.left, w->rect.top + w->frame.top));
    if (!w->alive) return nullptr;
    ParentNotify(w, WM_CREATE);
    if (!w->alive) return nullptr;
    if (style & WS_VISIBLE) ShowWindowInternal(hwnd, SW_SHOW);
    return w->alive ? hwnd : nullptr;
}

BOOL DestroyWindowInternal(HWND hwnd) {
    Window *w = Find(hwnd);
    if (!w) {
        detail::SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->kind == Kind::Outside) {
        // A window of another process.
        detail::SetLastErrorInternal(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return DestroySequence(w);
}

BOOL ShowWindowInternal(HWND hwnd, int command) {
    Window *w = Find(hwnd);
    if (!w) return FALSE;
    bool wasVisible = (w->style & WS_VISIBLE) != 0;
    bool show = command != SW_HIDE;
    bool isChild = (w->style & WS_CHILD) != 0;
    if (show == wasVisible) {
        if (show && command == SW_SHOWNORMAL && !isChild && hwnd != State().active && MayTakeForeground())
            SetForegroundInternal(hwnd, false);
        return wasVisible;
    }
    Deliver(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (!w->alive) return wasVisible;
    // Showing a top-level window activates it; hiding the active one moves
    // it in the z-order (Wine's SW_HIDE leaves out SWP_NOZORDER for it).
    bool activate = show ? !isChild : (!isChild && hwnd == State().active);
    ShowHide(w, show, activate && show, activate);
    if (!w->alive) return wasVisible;
    if (!show) {
        if (hwnd == State().active) ActivateOther(hwnd);
        // A focus inside the hidden window is lost without a message (the
        // window can't keep it and Wine gives it to nobody).
        HWND focus = State().focus;
        if (focus && (focus == hwnd || IsChildOf(hwnd, focus))) State().focus = nullptr;
    } else {
        OnWindowShown(hwnd);
    }
    return wasVisible;
}

void HideWindowNoActivate(HWND hwnd) {
    Window *w = Find(hwnd);
    if (w && (w->style & WS_VISIBLE)) ShowHide(w, false, false, false);
}

RECT NonclientFrame(DWORD style, DWORD exStyle) { return FrameFor(style, exStyle); }

void EnableWindowInternal(HWND hwnd, bool enable) {
    Window *w = Find(hwnd);
    if (!w) return;
    bool enabled = !(w->style & WS_DISABLED);
    if (enable && !enabled) {
        w->style &= ~DWORD(WS_DISABLED);
        Deliver(hwnd, WM_ENABLE, TRUE, 0);
    } else if (!enable && enabled) {
        Deliver(hwnd, kWmCancelMode, 0, 0);
        if (!w->alive) return;
        w->style |= WS_DISABLED;
        HWND focus = State().focus;
        if (focus && (focus == hwnd || IsChildOf(hwnd, focus))) SetFocusInternal(nullptr);
        if (w->alive) Deliver(hwnd, WM_ENABLE, FALSE, 0);
    }
}

HWND Foreground() { return State().foreground; }
HWND ActiveWindow() { return State().active; }
HWND FocusWindowInternal() { return State().focus; }

bool SetForegroundInternal(HWND hwnd, bool mouse) {
    WindowState &s = State();
    if (hwnd) hwnd = Root(hwnd);
    Window *w = Find(hwnd);
    if (!w) {
        // No window to hand the foreground to: the program's thread keeps
        // the foreground input without an active window (Wine refuses
        // SetForegroundWindow(0) and deactivates with SetActiveWindow(0)).
        ChangeActive(nullptr, mouse, 0);
        if (!s.programInput) s.foreground = nullptr;
        return true;
    }
    if (hwnd == s.foreground) return true;
    HWND old = s.foreground;
    bool oldProgramInput = s.programInput;
    s.foreground = hwnd;
    if (IsProgram(w)) {
        s.programInput = true;
        s.foregroundLocked = false;
        Window *o = Find(old);
        DWORD otherThread = !oldProgramInput && o && !IsProgram(o) ? kOutsideThreadId : 0;
        ChangeActive(hwnd, mouse, otherThread);
    } else {
        s.programInput = false;
        ChangeActive(nullptr, mouse, kOutsideThreadId);
    }
    return true;
}

void SetFocusInternal(HWND hwnd) {
    WindowState &s = State();
    HWND previous = s.focus;
    if (previous == hwnd) return;
    s.focus = hwnd;
    if (previous && Find(previous)) Deliver(previous, WM_KILLFOCUS, WPARAM(hwnd), 0);
    if (s.focus != hwnd) return;
    if (hwnd && Find(hwnd)) Deliver(hwnd, WM_SETFOCUS, WPARAM(previous), 0);
}

HWND SetFocusChecked(HWND hwnd) {
    WindowState &s = State();
    HWND previous = s.focus;
    if (!hwnd) {
        SetFocusInternal(nullptr);
        return previous;
    }
    Window *w = Find(hwnd);
    if (!w || !IsProgram(w)) {
        detail::SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (hwnd == previous) return previous;
    Window *top = w;
    for (;;) {
        if (top->style & (WS_MINIMIZE | WS_DISABLED)) return nullptr;
        if (!(top->style & WS_CHILD) || !top->parent) break;
        Window *p = Find(top->parent);
        if (!p) break;
        if (!IsProgram(p)) break;   // the preview: a child of another process's window
        top = p;
    }
    // The top-level window becomes the program's active window; that alone
    // does not make it the foreground window (Wine's set_active_window), so
    // its WM_NCACTIVATE says inactive unless it is in front already.
    if (!(top->style & WS_CHILD) && top->hwnd != s.active) {
        ChangeActive(top->hwnd, false, 0);
        if (!Find(hwnd) || top->hwnd != s.active) return nullptr;
    }
    previous = s.focus;
    SetFocusInternal(hwnd);
    return previous;
}

// Wine's WINPOS_ActivateOtherWindow: the owner, else the next window down the
// z-order that can be activated, whichever process it belongs to.
void ActivateOther(HWND leaving) {
    WindowState &s = State();
    Window *w = Find(leaving);
    HWND to = nullptr;
    if (w && (w->style & WS_POPUP) && w->owner) {
        HWND o = Root(w->owner);
        if (CanActivate(o, leaving)) to = o;
    }
    if (!to) {
        std::vector<HWND> list = TopLevelsTopFirst();
        auto at = std::find(list.begin(), list.end(), leaving);
        if (at != list.end())
            for (auto it = at + 1; it != list.end() && !to; ++it)
                if (CanActivate(*it, leaving)) to = *it;
        for (auto it = list.begin(); it != at && it != list.end() && !to; ++it)
            if (CanActivate(*it, leaving)) to = *it;
    }
    if (!s.foreground || s.foreground == leaving) SetForegroundInternal(to, false);
}

void LockForeground() { State().foregroundLocked = true; }

void BringToTop(HWND hwnd) { RaiseTopLevel(Root(hwnd)); }

HWND OtherApplicationWindow() { return State().otherApplication; }

HCURSOR ProgramClassCursor(HWND hwnd) {
    Window *w = Find(hwnd);
    if (!w || w->classIndex < 0) return nullptr;
    return State().classes[size_t(w->classIndex)].wc.hCursor;
}

UINT ProgramClassStyle(HWND hwnd) {
    Window *w = Find(hwnd);
    if (!w || w->classIndex < 0) return 0;
    return State().classes[size_t(w->classIndex)].wc.style;
}

int LiveClasses() {
    int count = 0;
    for (const ClassRecord &c : State().classes) count += c.alive ? 1 : 0;
    return count;
}

void ResetWindowCore() {
    WindowState &s = State();
    // The program's windows vanish without messages (the process is gone).
    for (auto &w : s.windows)
        if (w->alive && w->kind != Kind::Outside) Free(w.get());
    for (auto &w : s.windows)
        if (w->alive) {
            auto &c = w->children;
            c.erase(std::remove_if(c.begin(), c.end(), [](HWND h) { return !Find(h); }), c.end());
        }
    s.classes.clear();
    s.active = nullptr;
    s.focus = nullptr;
    s.programInput = false;
    // Another process's window in front takes the foreground.
    if (!s.foreground)
        for (HWND hwnd : TopLevelsTopFirst())
            if (CanActivate(hwnd, nullptr)) {
                s.foreground = hwnd;
                break;
            }
}

}  // namespace sim::core

namespace sim::detail {

using namespace sim::core;

bool GetWindowGeometry(HWND hwnd, WindowGeometry *geometry) {
    Window *w = Find(hwnd);
    if (!w) return false;
    HWND top = Root(hwnd);
    Window *t = Find(top);
    POINT origin = ClientOrigin(w);
    POINT topOrigin = ClientOrigin(t);
    geometry->topLevel = top;
    geometry->clientLeft = origin.x - topOrigin.x;
    geometry->clientTop = origin.y - topOrigin.y;
    geometry->clientWidth = ClientWidth(w);
    geometry->clientHeight = ClientHeight(w);
    geometry->visible = IsVisibleWindow(w);
    return true;
}

std::vector<TopLevel> TopLevelWindows() {
    std::vector<TopLevel> list;
    for (HWND hwnd : State().zOrder) {
        Window *w = Find(hwnd);
        if (w) list.push_back(TopLevel{hwnd, ClientOnScreen(w), (w->style & WS_VISIBLE) != 0});
    }
    return list;
}

bool IsProgramWindow(HWND hwnd) { return IsProgram(Find(hwnd)); }

HBRUSH ClassBrush(HWND hwnd) {
    Window *w = Find(hwnd);
    if (!w || w->classIndex < 0) return nullptr;
    return State().classes[size_t(w->classIndex)].wc.hbrBackground;
}

void ResetWindows() {
    State() = WindowState();
    ResetQueue();
    ClearOutsideMessages();
    ResetTimers();
    ResetInput(CurrentConfig());
    ResetDialogs();
}

}  // namespace sim::detail

namespace sim {

using namespace sim::core;

HWND CreateOutsideWindowOfClass(const std::string &className, const std::string &title, int clientWidth,
                                int clientHeight) {
    detail::InternalScope internal;
    WindowState &s = State();
    auto window = std::make_unique<Window>();
    Window *w = window.get();
    w->index = int(s.windows.size()) + 1;
    w->hwnd = HandleOf(w->index);
    w->kind = Kind::Outside;
    w->className = className;
    w->title = title;
    w->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
    w->rect = RECT{0, 0, clientWidth, clientHeight};
    s.windows.push_back(std::move(window));
    RaiseTopLevel(w->hwnd);
    detail::OnTopLevelResized(w->hwnd, clientWidth, clientHeight);
    // The user's application in front: it has the foreground.
    SetForegroundInternal(w->hwnd, false);
    return w->hwnd;
}

HWND CreateOutsideWindow(const std::string &title, int clientWidth, int clientHeight,
                         const std::string &className) {
    return CreateOutsideWindowOfClass(className, title, clientWidth, clientHeight);
}

HWND CreateOutsideWindow(const std::string &title, int clientWidth, int clientHeight) {
    return CreateOutsideWindowOfClass("#32770", title, clientWidth, clientHeight);
}

void DestroyFromOutside(HWND hwnd) {
    detail::InternalScope internal;
    Window *w = Find(hwnd);
    if (w) DestroySequence(w);
}

HWND Deactivate() {
    detail::InternalScope internal;
    WindowState &s = State();
    if (!Find(s.otherApplication)) {
        s.otherApplication = CreateOutsideWindowOfClass("OtherApplication", "Other application", 640, 480);
    } else {
        RaiseTopLevel(s.otherApplication);
        SetForegroundInternal(s.otherApplication, false);
    }
    s.foregroundLocked = true;
    return s.otherApplication;
}

std::string WindowName(HWND hwnd) { return detail::Name(hwnd); }

HWND WindowByIndex(int index) {
    if (index < 1 || size_t(index) > State().windows.size()) return nullptr;
    return HandleOf(index);
}

std::vector<HWND> LiveWindows() {
    std::vector<HWND> list;
    for (auto &w : State().windows)
        if (w->alive) list.push_back(w->hwnd);
    return list;
}

std::string WindowClass(HWND hwnd) {
    Window *w = FindAny(hwnd);
    return w ? w->className : "";
}

std::string WindowTitle(HWND hwnd) {
    Window *w = FindAny(hwnd);
    return w ? w->title : "";
}

DWORD WindowStyle(HWND hwnd) {
    Window *w = FindAny(hwnd);
    return w ? w->style : 0;
}

DWORD WindowExStyle(HWND hwnd) {
    Window *w = FindAny(hwnd);
    return w ? w->exStyle : 0;
}

RECT WindowScreenRect(HWND hwnd) {
    Window *w = Find(hwnd);
    return w ? WindowOnScreen(w) : RECT{};
}

bool IsOutsideWindow(HWND hwnd) {
    Window *w = FindAny(hwnd);
    return w && w->kind == Kind::Outside;
}

HWND FocusWindow() { return State().focus; }

}  // namespace sim

using namespace sim;
using namespace sim::core;
using namespace sim::detail;

namespace {

std::string Hex(DWORD value) { return Format("0x%X", unsigned(value)); }

std::string ResultName(HWND hwnd) { return Name(hwnd); }

LRESULT HandleValue(HWND hwnd) { return LRESULT(reinterpret_cast<intptr_t>(hwnd)); }

}  // namespace

ATOM RegisterClassA(const WNDCLASSA *wc) {
    Call call = BeginCall("RegisterClassA",
                          wc ? "{" + Quote(wc->lpszClassName) + ", style " + Hex(wc->style) +
                                   ", brush " + Name(HGDIOBJ(wc->hbrBackground)) + ", cursor " +
                                   Name(HGDIOBJ(wc->hCursor)) + ", icon " +
                                   Name(HGDIOBJ(wc->hIcon)) + "}"
                             : std::string("null"));
    InternalScope internal;
    auto fail = [&](DWORD error) -> ATOM {
        SetLastErrorInternal(error);
        EndCall(call, "0");
        return 0;
    };
    if (call.fail) return fail(ERROR_NOT_ENOUGH_MEMORY);
    if (!wc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !wc->lpfnWndProc)
        return fail(ERROR_INVALID_PARAMETER);
    if (FindClass(wc->lpszClassName)) return fail(ERROR_CLASS_ALREADY_EXISTS);
    WindowState &s = State();
    ATOM atom = ATOM(0xC000 + s.classes.size());
    s.classes.push_back(ClassRecord{wc->lpszClassName, *wc, atom, true});
    s.classes.back().wc.lpszClassName = nullptr;   // the caller's text may go away
    s.classes.back().wc.lpszMenuName = nullptr;
    EndCall(call, Hex(atom), atom);
    return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    Call call = BeginCall("UnregisterClassA", Quote(className) + ", " + Name(instance));
    InternalScope internal;
    auto fail = [&](DWORD error) -> BOOL {
        SetLastErrorInternal(error);
        EndCall(call, "0");
        return FALSE;
    };
    if (call.fail) return fail(kErrorClassDoesNotExist);
    const ClassRecord *cls = className ? FindClass(className) : nullptr;
    if (!cls) return fail(kErrorClassDoesNotExist);
    int index = int(cls - State().classes.data());
    for (auto &w : State().windows)
        if (w->alive && w->classIndex == index) return fail(kErrorClassHasWindows);
    State().classes[size_t(index)].alive = false;
    EndCall(call, "1", 1);
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    Call call = BeginCall("CreateWindowExA",
                          Hex(exStyle) + ", " + Quote(className) + ", " + Quote(windowName) + ", " +
                              Hex(style) + Format(", %d, %d, %d, %d, ", x, y, width, height) +
                              Name(parent) + Format(", %lld, ", (long long)(intptr_t)menu) +
                              Name(instance) + (param ? ", param" : ", null"));
    InternalScope internal;
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    HWND hwnd = CreateWindowInternal(exStyle, className, windowName, style, x, y, width, height,
                                     parent, menu, instance, param);
    EndCall(call, ResultName(hwnd), HandleValue(hwnd));
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
    Call call = BeginCall("DestroyWindow", Name(hwnd));
    InternalScope internal;
    if (call.fail) {
        SetLastErrorInternal(ERROR_ACCESS_DENIED);
        EndCall(call, "0");
        return FALSE;
    }
    BOOL result = DestroyWindowInternal(hwnd);
    EndCall(call, Format("%d", result), result);
    return result;
}

BOOL ShowWindow(HWND hwnd, int command) {
    Call call = BeginCall("ShowWindow", Name(hwnd) + Format(", %d", command));
    InternalScope internal;
    Window *w = Find(hwnd);
    if (!w || w->kind == Kind::Outside) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    BOOL result = ShowWindowInternal(hwnd, command) ? TRUE : FALSE;
    EndCall(call, Format("%d", result), result);
    return result;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    Call call = BeginCall("GetClientRect", Name(hwnd));
    Window *w = Find(hwnd);
    if (call.fail || !w || !rect) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    *rect = RECT{0, 0, ClientWidth(w), ClientHeight(w)};
    EndCall(call, Format("1 {0, 0, %d, %d}", int(rect->right), int(rect->bottom)), 1);
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    Call call = BeginCall("GetWindowRect", Name(hwnd));
    Window *w = Find(hwnd);
    if (call.fail || !w || !rect) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    *rect = WindowOnScreen(w);
    EndCall(call,
            Format("1 {%d, %d, %d, %d}", int(rect->left), int(rect->top), int(rect->right),
                   int(rect->bottom)),
            1);
    return TRUE;
}

// Top-level windows of every process, from the top of the z-order down; the
// class and the title are compared without case, a null one matches any.
HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
    Call call = BeginCall("FindWindowA", Quote(className) + ", " + Quote(windowName));
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        EndCall(call, "null");
        return nullptr;
    }
    HWND found = nullptr;
    for (HWND hwnd : TopLevelsTopFirst()) {
        Window *w = Find(hwnd);
        if (!w) continue;
        if (className) {
            if (IS_INTRESOURCE(className)) {
                const ClassRecord *cls = FindClass(className);
                if (!cls || w->classIndex != int(cls - State().classes.data())) continue;
            } else if (Lower(className) != Lower(w->className)) {
                continue;
            }
        }
        if (windowName && Lower(windowName) != Lower(w->title)) continue;
        found = hwnd;
        break;
    }
    if (!found) SetLastErrorInternal(0);
    EndCall(call, Name(found), HandleValue(found));
    return found;
}

BOOL IsWindow(HWND hwnd) {
    Call call = BeginCall("IsWindow", Name(hwnd));
    BOOL result = (!call.fail && Find(hwnd)) ? TRUE : FALSE;
    EndCall(call, Format("%d", result), result);
    return result;
}

BOOL IsWindowVisible(HWND hwnd) {
    Call call = BeginCall("IsWindowVisible", Name(hwnd));
    Window *w = Find(hwnd);
    BOOL result = (!call.fail && w && IsVisibleWindow(w)) ? TRUE : FALSE;
    EndCall(call, Format("%d", result), result);
    return result;
}

BOOL IsWindowEnabled(HWND hwnd) {
    Call call = BeginCall("IsWindowEnabled", Name(hwnd));
    Window *w = Find(hwnd);
    BOOL result = (!call.fail && w && !(w->style & WS_DISABLED)) ? TRUE : FALSE;
    EndCall(call, Format("%d", result), result);
    return result;
}

// The parent of a child window, the owner of a popup, null otherwise.
HWND GetParent(HWND hwnd) {
    Call call = BeginCall("GetParent", Name(hwnd));
    Window *w = Find(hwnd);
    HWND result = nullptr;
    if (!w) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
    } else if (!call.fail) {
        if (w->style & WS_CHILD)
            result = w->parent;
        else if (w->style & WS_POPUP)
            result = w->owner;
    }
    EndCall(call, Name(result), HandleValue(result));
    return result;
}

BOOL SetForegroundWindow(HWND hwnd) {
    Call call = BeginCall("SetForegroundWindow", Name(hwnd));
    InternalScope internal;
    BOOL result = FALSE;
    if (!call.fail && Find(hwnd) && MayTakeForeground()) result = SetForegroundInternal(hwnd, false);
    EndCall(call, Format("%d", result), result);
    return result;
}

HWND GetForegroundWindow(void) {
    Call call = BeginCall("GetForegroundWindow", "");
    HWND result = call.fail ? nullptr : State().foreground;
    EndCall(call, Name(result), HandleValue(result));
    return result;
}

HWND GetActiveWindow(void) {
    Call call = BeginCall("GetActiveWindow", "");
    HWND result = call.fail ? nullptr : State().active;
    EndCall(call, Name(result), HandleValue(result));
    return result;
}

HWND GetFocus(void) {
    Call call = BeginCall("GetFocus", "");
    HWND result = call.fail ? nullptr : State().focus;
    EndCall(call, Name(result), HandleValue(result));
    return result;
}

HWND SetFocus(HWND hwnd) {
    Call call = BeginCall("SetFocus", Name(hwnd));
    InternalScope internal;
    HWND result = nullptr;
    if (call.fail)
        SetLastErrorInternal(ERROR_ACCESS_DENIED);
    else
        result = SetFocusChecked(hwnd);
    EndCall(call, Name(result), HandleValue(result));
    return result;
}

// The text of a window of the program comes from its procedure (WM_GETTEXT);
// another process's window answers with its stored title.
int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    Call call = BeginCall("GetWindowTextA", Name(hwnd) + Format(", %d", size));
    InternalScope internal;
    Window *w = Find(hwnd);
    if (buffer && size > 0) buffer[0] = '\0';
    if (call.fail || !w || !buffer || size <= 0) {
        if (!w) SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return 0;
    }
    int length = int(Deliver(hwnd, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(buffer)));
    EndCall(call, Format("%d ", length) + Quote(buffer), length);
    return length;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    Call call = BeginCall("SetWindowTextA", Name(hwnd) + ", " + Quote(text));
    InternalScope internal;
    if (call.fail || !Find(hwnd)) {
        SetLastErrorInternal(call.fail ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    LRESULT result = Deliver(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    BOOL ok = result ? TRUE : FALSE;
    EndCall(call, Format("%d", ok), ok);
    return ok;
}
