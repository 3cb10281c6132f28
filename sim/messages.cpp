// The program's message queue and the delivery of messages: posting,
// sending (nested calls of the window procedure on the one thread),
// retrieval with window and range filters, translation and dispatch, the
// quit flag, painting (InvalidateRect, BeginPaint, EndPaint, UpdateWindow)
// and the default window procedure.
//
// Retrieval takes, as Windows does: posted messages first, then WM_QUIT
// when it has been asked for, then input (keys and mouse), then WM_PAINT for
// a window with an update region, then WM_TIMER for a due timer. WM_PAINT
// and WM_TIMER are never stored; they are made when nothing else is there.
// A filter window matches itself and its descendants.
//
// While the program waits in GetMessageA with nothing to retrieve, the
// virtual clock jumps to the next due timer or scheduled action. When nothing
// can ever arrive, a real program would wait forever: the run ends as hung.
#include "core.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace sim::core {
namespace {

// Input waits in the system's queue; keys (and the wheel) find their window,
// the one with the focus, only when the program retrieves them.
struct Input {
    MSG msg;
    bool toFocus;
};

struct QueueState {
    std::deque<MSG> posted;
    std::deque<Input> input;
    bool quit = false;
    int quitCode = 0;
    uint64_t retrieved = 0;
    std::map<HWND, std::vector<MSG>> outside;
};

QueueState &State() {
    static QueueState state;
    return state;
}

bool InRange(UINT message, UINT min, UINT max) {
    if (min == 0 && max == 0) return true;
    return message >= min && message <= max;
}

bool WindowMatches(HWND hwnd, HWND filter) {
    if (filter == nullptr) return true;
    if (filter == reinterpret_cast<HWND>(-1)) return hwnd == nullptr;
    return hwnd == filter || IsChildOf(filter, hwnd);
}

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg = {};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = TickCount();
    msg.pt = CursorPos();
    return msg;
}

// Gives a key its window: the focus; with no focus the active window gets
// it as a system key; with neither, the application in front takes it.
bool Route(Input &input) {
    if (!input.toFocus) return true;
    UINT &m = input.msg.message;
    HWND target = FocusWindowInternal();
    if (!target) {
        target = ActiveWindow();
        if (target && m == WM_KEYDOWN) m = WM_SYSKEYDOWN;
        if (target && m == WM_KEYUP) m = WM_SYSKEYUP;
    }
    if (!target) {
        Window *front = Find(Foreground());
        if (front && front->kind == Kind::Outside)
            RecordOutsideMessage(front->hwnd, m, input.msg.wParam, input.msg.lParam);
        return false;
    }
    input.msg.hwnd = target;
    input.toFocus = false;
    return true;
}

bool TakeInput(std::deque<Input> &queue, MSG *msg, HWND filter, UINT min, UINT max, bool remove) {
    for (auto it = queue.begin(); it != queue.end();) {
        if (!Route(*it)) {
            it = queue.erase(it);
            continue;
        }
        if (!WindowMatches(it->msg.hwnd, filter) || !InRange(it->msg.message, min, max)) {
            ++it;
            continue;
        }
        *msg = it->msg;
        if (remove) queue.erase(it);
        return true;
    }
    return false;
}

bool TakeFrom(std::deque<MSG> &queue, MSG *msg, HWND filter, UINT min, UINT max, bool remove) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!WindowMatches(it->hwnd, filter) || !InRange(it->message, min, max)) continue;
        *msg = *it;
        if (remove) queue.erase(it);
        return true;
    }
    return false;
}

// A visible window of the program with an update region, parents before
// children, top-level windows from the top of the z-order.
Window *WindowToPaint(Window *w, HWND filter) {
    if (!w || !(w->style & WS_VISIBLE) || w->kind == Kind::Outside) return nullptr;
    if (w->needsPaint && WindowMatches(w->hwnd, filter)) return w;
    for (HWND child : w->children)
        if (Window *found = WindowToPaint(Find(child), filter)) return found;
    return nullptr;
}

Window *FindWindowToPaint(HWND filter) {
    for (HWND hwnd : TopLevelsTopFirst()) {
        Window *w = Find(hwnd);
        if (!w) continue;
        if (w->kind == Kind::Outside) {
            // The preview: a child of another process's window.
            for (HWND child : w->children)
                if (Window *found = WindowToPaint(Find(child), filter)) return found;
            continue;
        }
        if (Window *found = WindowToPaint(w, filter)) return found;
    }
    return nullptr;
}

bool Retrieve(MSG *msg, HWND filter, UINT min, UINT max, bool remove) {
    QueueState &s = State();
    if (TakeFrom(s.posted, msg, filter, min, max, remove)) return true;
    if (s.quit) {
        *msg = MakeMessage(nullptr, WM_QUIT, WPARAM(s.quitCode), 0);
        if (remove) s.quit = false;
        return true;
    }
    while (TakeInput(s.input, msg, filter, min, max, remove)) {
        if (!remove) return true;
        if (msg->message >= WM_KEYDOWN && msg->message <= WM_SYSCHAR) OnKeyRetrieved(*msg);
        if (msg->message >= WM_MOUSEMOVE && msg->message <= WM_MOUSEWHEEL && !OnMouseRetrieved(*msg))
            continue;
        if (Find(msg->hwnd)) return true;   // the target may be gone meanwhile
    }
    if (InRange(WM_PAINT, min, max)) {
        if (Window *w = FindWindowToPaint(filter)) {
            *msg = MakeMessage(w->hwnd, WM_PAINT, 0, 0);
            return true;
        }
    }
    if (InRange(WM_TIMER, min, max)) {
        TimerHit hit;
        if (FindDueTimer(filter, remove, &hit)) {
            *msg = MakeMessage(hit.hwnd, WM_TIMER, hit.id, reinterpret_cast<LPARAM>(hit.proc));
            return true;
        }
    }
    return false;
}

void CountRetrieved() {
    QueueState &s = State();
    ++s.retrieved;
    CallIdleHook();
    if (s.retrieved > CurrentConfig().maxMessages) EndAsHung("message limit reached");
}

std::string Describe(const MSG &msg) { return detail::Name(msg.hwnd) + " " + MessageName(msg.message); }

int ClientW(const Window *w) { return int(ClientOnScreen(w).right - ClientOnScreen(w).left); }
int ClientH(const Window *w) { return int(ClientOnScreen(w).bottom - ClientOnScreen(w).top); }

HDC BeginPaintInternal(Window *w, PAINTSTRUCT *ps) {
    *ps = PAINTSTRUCT();
    RECT update = w->needsPaint ? w->update : RECT{0, 0, 0, 0};
    bool erase = w->needsErase;
    ps->fErase = w->eraseFailed ? TRUE : FALSE;
    w->needsPaint = false;
    w->needsErase = false;
    w->eraseFailed = false;
    HDC dc = detail::GetWindowDcInternal(w->hwnd);
    ps->hdc = dc;
    ps->rcPaint = update;
    if (erase) {
        LRESULT erased = Deliver(w->hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        ps->fErase = erased ? FALSE : TRUE;
    }
    return dc;
}

void EndPaintInternal(HWND hwnd, const PAINTSTRUCT *ps) {
    if (ps && ps->hdc) detail::ReleaseDcInternal(hwnd, ps->hdc);
}

}  // namespace

LRESULT Deliver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, EventKind kind) {
    Window *w = Find(hwnd);
    if (!w) return 0;
    switch (w->kind) {
    case Kind::Program: {
        int depth = ProcedureDepth();
        detail::LogMessage(kind, hwnd, message, wParam, lParam, 0, depth);
        LRESULT result;
        {
            ProcedureFrame frame;
            detail::ProgramScope program;
            result = w->proc(hwnd, message, wParam, lParam);
        }
        detail::LogMessage(EventKind::Return, hwnd, message, wParam, lParam, result, depth);
        return result;
    }
    case Kind::Dialog: return DialogWindowProc(w, message, wParam, lParam, kind);
    case Kind::Button: return ButtonProc(w, message, wParam, lParam);
    case Kind::Static: return StaticProc(w, message, wParam, lParam);
    case Kind::Edit: return EditProc(w, message, wParam, lParam);
    case Kind::Outside: return DefWindowProcInternal(hwnd, message, wParam, lParam);
    }
    return 0;
}

LRESULT DefWindowProcInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window *w = Find(hwnd);
    if (!w) return 0;
    detail::InternalScope internal;
    switch (message) {
    case WM_NCCREATE: {
        auto *cs = reinterpret_cast<const CREATESTRUCTA *>(lParam);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) w->title = cs->lpszName;
        return TRUE;
    }
    case WM_SETTEXT:
        w->title = lParam ? reinterpret_cast<const char *>(lParam) : "";
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam) return 0;
        size_t n = std::min(w->title.size(), size_t(wParam) - 1);
        char *buffer = reinterpret_cast<char *>(lParam);
        memcpy(buffer, w->title.data(), n);
        buffer[n] = '\0';
        return LRESULT(n);
    }
    case WM_GETTEXTLENGTH: return LRESULT(w->title.size());
    case WM_CLOSE:
        if (w->kind == Kind::Outside)
            DestroyFromOutside(hwnd);
        else
            DestroyWindowInternal(hwnd);
        return 0;
    case WM_ERASEBKGND: {
        HBRUSH brush = detail::ClassBrush(hwnd);
        if (!brush || !wParam) return 0;
        detail::FillRectInternal(reinterpret_cast<HDC>(wParam), RECT{0, 0, ClientW(w), ClientH(w)}, brush);
        return 1;
    }
    case WM_SETCURSOR: {
        // A child lets its parent choose first.
        if ((w->style & WS_CHILD) && w->parent && Find(w->parent))
            if (Deliver(w->parent, WM_SETCURSOR, wParam, lParam, EventKind::Sent)) return TRUE;
        // In the client area the class cursor is set; a class without one
        // leaves the cursor as it is (Wine's NC_HandleSetCursor).
        if (LOWORD(lParam) == kHtClient) {
            HCURSOR cursor = w->kind == Kind::Program ? ProgramClassCursor(hwnd) : ArrowCursor();
            if (!cursor) return FALSE;
            SetCursorInternal(cursor);
            return TRUE;
        }
        SetCursorInternal(ArrowCursor());
        return TRUE;
    }
    case WM_SYSCOMMAND:
        // The rest (SC_SCREENSAVE, SC_NEXTWINDOW, ...) start nothing here.
        if ((wParam & 0xFFF0) == SC_CLOSE) Deliver(hwnd, WM_CLOSE, 0, 0, EventKind::Sent);
        return 0;
    case WM_SYSKEYDOWN:
        if (wParam == 0x73 && (lParam & (1 << 29)))   // Alt+F4
            Deliver(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0, EventKind::Sent);
        return 0;
    case WM_HELP: {
        HWND up = (w->style & WS_CHILD) ? w->parent : w->owner;
        if (up && Find(up)) Deliver(up, WM_HELP, wParam, lParam, EventKind::Sent);
        return 0;
    }
    case WM_CONTEXTMENU:
        if ((w->style & WS_CHILD) && w->parent && Find(w->parent))
            Deliver(w->parent, WM_CONTEXTMENU, wParam, lParam, EventKind::Sent);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaintInternal(w, &ps);
        EndPaintInternal(hwnd, &ps);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !(w->style & WS_MINIMIZE) && w->kind != Kind::Outside)
            SetFocusChecked(hwnd);
        return 0;
    case WM_NCACTIVATE: return TRUE;
    case WM_MOUSEACTIVATE:
        if ((w->style & WS_CHILD) && w->parent && Find(w->parent)) {
            LRESULT answer = Deliver(w->parent, WM_MOUSEACTIVATE, wParam, lParam, EventKind::Sent);
            if (answer) return answer;
        }
        return 1;   // MA_ACTIVATE
    case WM_NCHITTEST: {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        RECT client = ClientOnScreen(w);
        if (p.x >= client.left && p.x < client.right && p.y >= client.top && p.y < client.bottom)
            return kHtClient;
        RECT outer = WindowScreenRect(hwnd);
        if (p.x < outer.left || p.x >= outer.right || p.y < outer.top || p.y >= outer.bottom)
            return kHtNowhere;
        if ((w->style & WS_CAPTION) == WS_CAPTION && p.y < client.top) return kHtCaption;
        return kHtBorder;
    }
    case WM_CTLCOLOREDIT: return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: return reinterpret_cast<LRESULT>(FaceBrush());
    default: return 0;
    }
}

bool PostInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd) {
        Window *w = Find(hwnd);
        if (!w) return false;
        if (w->kind == Kind::Outside) {
            RecordOutsideMessage(hwnd, message, wParam, lParam);
            return true;
        }
    }
    State().posted.push_back(MakeMessage(hwnd, message, wParam, lParam));
    return true;
}

void PostInput(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window *w = Find(hwnd);
    if (!w) return;
    if (w->kind == Kind::Outside) {
        RecordOutsideMessage(hwnd, message, wParam, lParam);
        return;
    }
    auto &input = State().input;
    // Mouse moves not yet retrieved merge into the newest, as in Windows.
    if (message == WM_MOUSEMOVE && !input.empty() && input.back().msg.message == WM_MOUSEMOVE &&
        input.back().msg.hwnd == hwnd && !input.back().toFocus) {
        input.back().msg = MakeMessage(hwnd, message, wParam, lParam);
        return;
    }
    input.push_back(Input{MakeMessage(hwnd, message, wParam, lParam), false});
}

void PostFocusInput(UINT message, WPARAM wParam, LPARAM lParam) {
    State().input.push_back(Input{MakeMessage(nullptr, message, wParam, lParam), true});
}

void PostQuitInternal(int code) {
    State().quit = true;
    State().quitCode = code;
}

bool GetMessageInternal(MSG *msg, HWND filter, UINT min, UINT max,
                        const std::function<bool()> &woken) {
    for (;;) {
        RunDueActions();
        if (woken && woken()) {
            *msg = MSG{};
            msg->message = WM_NULL;
            return true;
        }
        if (Retrieve(msg, filter, min, max, true)) {
            CountRetrieved();
            return msg->message != WM_QUIT;
        }
        uint64_t next = 0, timer = 0;
        bool has = NextActionTime(&next);
        if (InRange(WM_TIMER, min, max) && NextTimerTime(filter, &timer) && (!has || timer < next)) {
            next = timer;
            has = true;
        }
        if (!has) EndAsHung("idle forever: nothing can arrive in the message queue");
        AdvanceClockTo(std::max(next, ElapsedMs() + 1));
    }
}

bool PeekMessageInternal(MSG *msg, HWND filter, UINT min, UINT max, bool remove) {
    RunDueActions();
    if (!Retrieve(msg, filter, min, max, remove)) return false;
    if (remove) CountRetrieved();
    return true;
}

// TRUE for every keyboard message (WM_KEYFIRST to WM_KEYLAST, characters
// included, as Wine answers), FALSE for the rest.
bool TranslateInternal(const MSG *msg) {
    if (!msg) return false;
    UINT m = msg->message;
    if (m < WM_KEYDOWN || m > 0x0109 /* WM_KEYLAST */) return false;
    if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) {
        char c = CharacterOfKey(int(msg->wParam), KeyIsDown(VK_SHIFT));
        if (c) PostInternal(msg->hwnd, m == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, WPARAM(uint8_t(c)), msg->lParam);
    }
    return true;
}

LRESULT DispatchInternal(const MSG *msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        // A timer with a procedure: the procedure gets it instead of the window.
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        if (msg->hwnd && !Find(msg->hwnd)) return 0;
        detail::LogMessage(EventKind::Posted, msg->hwnd, msg->message, msg->wParam, msg->lParam, 0,
                           ProcedureDepth());
        ProcedureFrame frame;
        detail::ProgramScope program;
        proc(msg->hwnd, WM_TIMER, msg->wParam, TickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;
    if (!Find(msg->hwnd)) {
        detail::SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam, EventKind::Posted);
}

void RemoveWindowMessages(HWND hwnd) {
    auto drop = [hwnd](std::deque<MSG> &queue) {
        queue.erase(std::remove_if(queue.begin(), queue.end(), [hwnd](const MSG &m) { return m.hwnd == hwnd; }),
                    queue.end());
    };
    drop(State().posted);
    auto &input = State().input;
    input.erase(std::remove_if(input.begin(), input.end(),
                               [hwnd](const Input &i) { return !i.toFocus && i.msg.hwnd == hwnd; }),
                input.end());
}

void RecordOutsideMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    State().outside[hwnd].push_back(MakeMessage(hwnd, message, wParam, lParam));
}

void ResetQueue() {
    auto outside = std::move(State().outside);
    State() = QueueState();
    State().outside = std::move(outside);
}

void ClearOutsideMessages() { State().outside.clear(); }

HDC BeginPaintFor(Window *w, PAINTSTRUCT *ps) { return BeginPaintInternal(w, ps); }
void EndPaintFor(HWND hwnd, const PAINTSTRUCT *ps) { EndPaintInternal(hwnd, ps); }

}  // namespace sim::core

namespace sim {

std::vector<MSG> OutsideMessages(HWND hwnd) {
    auto &outside = core::State().outside;
    auto it = outside.find(hwnd);
    return it == outside.end() ? std::vector<MSG>() : it->second;
}

}  // namespace sim

using namespace sim;
using namespace sim::core;
using namespace sim::detail;

namespace {

std::string Args(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return Name(hwnd) + ", " + MessageName(message) +
           Format(", 0x%llX, 0x%llX", (unsigned long long)wParam, (unsigned long long)(ULONG_PTR)lParam);
}

bool ValidFilter(HWND hwnd) {
    return hwnd == nullptr || hwnd == reinterpret_cast<HWND>(-1) || Find(hwnd) != nullptr;
}

}  // namespace

BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    Call call = BeginCall("GetMessageA", Name(hwnd) + Format(", %u, %u", filterMin, filterMax));
    InternalScope internal;
    if (call.fail || !msg || !ValidFilter(hwnd)) {
        SetLastErrorInternal(!msg ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "-1", -1);
        return -1;
    }
    BOOL result = GetMessageInternal(msg, hwnd, filterMin, filterMax) ? TRUE : FALSE;
    EndCall(call, Format("%d ", result) + Describe(*msg), result);
    return result;
}

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
    Call call = BeginCall("PeekMessageA",
                          Name(hwnd) + Format(", %u, %u, %u", filterMin, filterMax, removeFlags));
    InternalScope internal;
    if (call.fail || !msg || !ValidFilter(hwnd)) {
        EndCall(call, "0");
        return FALSE;
    }
    bool found = PeekMessageInternal(msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0);
    EndCall(call, found ? "1 " + Describe(*msg) : std::string("0"), found ? 1 : 0);
    return found ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG *msg) {
    Call call = BeginCall("TranslateMessage", msg ? Describe(*msg) : std::string("null"));
    InternalScope internal;
    BOOL result = TranslateInternal(msg) ? TRUE : FALSE;
    EndCall(call, Format("%d", result), result);
    return result;
}

LRESULT DispatchMessageA(const MSG *msg) {
    Call call = BeginCall("DispatchMessageA", msg ? Describe(*msg) : std::string("null"));
    InternalScope internal;
    LRESULT result = DispatchInternal(msg);
    EndCall(call, Format("%lld", (long long)result), result);
    return result;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Call call = BeginCall("PostMessageA", Args(hwnd, message, wParam, lParam));
    InternalScope internal;
    if (call.fail) {
        SetLastErrorInternal(kErrorNotEnoughQuota);
        EndCall(call, "0");
        return FALSE;
    }
    if (!PostInternal(hwnd, message, wParam, lParam)) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    EndCall(call, "1", 1);
    return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Call call = BeginCall("SendMessageA", Args(hwnd, message, wParam, lParam));
    InternalScope internal;
    if (!Find(hwnd)) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return 0;
    }
    LRESULT result = Deliver(hwnd, message, wParam, lParam, EventKind::Sent);
    EndCall(call, Format("%lld", (long long)result), result);
    return result;
}

void PostQuitMessage(int exitCode) {
    Call call = BeginCall("PostQuitMessage", Format("%d", exitCode));
    PostQuitInternal(exitCode);
    EndCall(call, "");
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Call call = BeginCall("DefWindowProcA", Args(hwnd, message, wParam, lParam));
    InternalScope internal;
    LRESULT result = DefWindowProcInternal(hwnd, message, wParam, lParam);
    EndCall(call, Format("%lld", (long long)result), result);
    return result;
}

BOOL InvalidateRect(HWND hwnd, LPCRECT rect, BOOL erase) {
    Call call = BeginCall("InvalidateRect",
                          Name(hwnd) + (rect ? Format(", {%d, %d, %d, %d}", int(rect->left), int(rect->top),
                                                      int(rect->right), int(rect->bottom))
                                             : std::string(", null")) +
                              Format(", %d", erase));
    InternalScope internal;
    if (call.fail) {
        EndCall(call, "0");
        return FALSE;
    }
    std::vector<Window *> targets;
    if (hwnd == nullptr) {
        for (HWND top : TopLevelsTopFirst())
            if (Window *w = Find(top); w && w->kind != Kind::Outside) targets.push_back(w);
    } else if (Window *w = Find(hwnd)) {
        targets.push_back(w);
    } else {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    for (Window *w : targets) {
        bool had = w->needsPaint;
        RECT before = w->update;
        Invalidate(w, erase != FALSE);
        if (rect && w->needsPaint) {
            RECT r = *rect;
            RECT full = w->update;
            r.left = std::max(r.left, full.left);
            r.top = std::max(r.top, full.top);
            r.right = std::min(r.right, full.right);
            r.bottom = std::min(r.bottom, full.bottom);
            if (had) {
                r.left = std::min(r.left, before.left);
                r.top = std::min(r.top, before.top);
                r.right = std::max(r.right, before.right);
                r.bottom = std::max(r.bottom, before.bottom);
            }
            w->update = r;
        }
    }
    EndCall(call, "1", 1);
    return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT *paint) {
    Call call = BeginCall("BeginPaint", Name(hwnd));
    InternalScope internal;
    Window *w = Find(hwnd);
    if (!w || !paint) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "null");
        return nullptr;
    }
    if (call.fail) {
        // No display context: the update region is still validated, so that
        // the window is not asked to paint again and again.
        *paint = PAINTSTRUCT();
        w->needsPaint = w->needsErase = false;
        EndCall(call, "null");
        return nullptr;
    }
    HDC dc = BeginPaintFor(w, paint);
    EndCall(call,
            Name(dc) + Format(" {%d, %d, %d, %d} erase %d", int(paint->rcPaint.left),
                              int(paint->rcPaint.top), int(paint->rcPaint.right),
                              int(paint->rcPaint.bottom), paint->fErase),
            reinterpret_cast<LRESULT>(dc));
    return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT *paint) {
    Call call = BeginCall("EndPaint", Name(hwnd) + ", " + (paint ? Name(paint->hdc) : std::string("null")));
    InternalScope internal;
    EndPaintFor(hwnd, paint);
    EndCall(call, "1", 1);
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
    Call call = BeginCall("UpdateWindow", Name(hwnd));
    InternalScope internal;
    Window *w = Find(hwnd);
    if (call.fail || !w) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    if (w->needsPaint && (w->style & WS_VISIBLE)) Deliver(hwnd, WM_PAINT, 0, 0, EventKind::Sent);
    EndCall(call, "1", 1);
    return TRUE;
}
