// Modal dialog boxes: DialogBoxParamA with its window made from a dialog
// resource, the dialog manager's default procedure, the modal loop with the
// keyboard interface of IsDialogMessage, EndDialog, the dialog item functions,
// and the three control classes the program's dialog uses (Button, Static,
// Edit).
//
// As in Windows (and Wine): the template's x, y place the dialog's client
// area relative to the owner's client area (the screen without an owner);
// the owner is disabled while the dialog runs; the dialog procedure sees
// messages from WM_SETFONT on (not the creation messages); WM_INITDIALOG's
// TRUE gives the focus to the first tab stop; Tab and Shift+Tab move the
// focus among tab stops and a push button with the focus is the default one;
// Enter clicks the default button, Esc sends IDCANCEL, WM_CLOSE posts
// IDCANCEL; EndDialog enables the owner, hides the dialog, activates the
// owner and the loop destroys the dialog.
//
// Controls are drawn as plain areas (face colour, white edit fields); they
// draw no text and no edges.
#include "core.h"

#include <algorithm>
#include <cstring>

namespace sim::core {
namespace {

constexpr LRESULT kDlgcWantArrows = 0x0001, kDlgcWantTab = 0x0002, kDlgcWantMessage = 0x0004,
                  kDlgcHasSetSel = 0x0008, kDlgcDefPushButton = 0x0010,
                  kDlgcUndefPushButton = 0x0020, kDlgcWantChars = 0x0080, kDlgcStatic = 0x0100,
                  kDlgcButton = 0x2000;
constexpr UINT kBmSetStyle = 0x00F4;
constexpr WORD kEnSetFocus = 0x0100, kEnKillFocus = 0x0200, kEnChange = 0x0300, kEnUpdate = 0x0400,
               kEnMaxText = 0x0501;
constexpr UINT kWmNcLButtonDown = 0x00A1;
constexpr WPARAM kHtClose = 20;
constexpr DWORD kWsExNoParentNotify = 0x00000004;
constexpr DWORD kDsNoIdleMsg = 0x0100;
constexpr WPARAM kDialogFont = 0xF0F0;   // the handle of the template's font
constexpr int kVkEnd = 0x23, kVkHome = 0x24, kVkLeft = 0x25, kVkRight = 0x27, kVkDelete = 0x2E;

std::vector<HWND> &ModalStack() {
    static std::vector<HWND> stack;
    return stack;
}

int MulDiv(int value, int numerator, int denominator) {
    long long product = (long long)value * numerator;
    long long half = denominator / 2;
    return int(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

Window *Item(HWND dialog, int id) {
    Window *d = Find(dialog);
    if (!d) return nullptr;
    for (HWND child : d->children)
        if (Window *c = Find(child); c && c->id == id) return c;
    return nullptr;
}

int ButtonType(const Window *w) { return int(w->style & 0xF); }
bool IsPushButton(const Window *w) {
    return w->kind == Kind::Button && (ButtonType(w) == BS_PUSHBUTTON || ButtonType(w) == BS_DEFPUSHBUTTON);
}

// The next (or previous) visible, enabled tab stop after from, round the dialog.
HWND NextTabItem(HWND dialog, HWND from, bool previous) {
    Window *d = Find(dialog);
    if (!d) return nullptr;
    std::vector<HWND> stops;
    for (HWND child : d->children) {
        Window *c = Find(child);
        if (c && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED))
            stops.push_back(child);
    }
    if (stops.empty()) return nullptr;
    auto at = std::find(stops.begin(), stops.end(), from);
    if (at == stops.end()) return previous ? stops.back() : stops.front();
    size_t i = size_t(at - stops.begin());
    return previous ? stops[(i + stops.size() - 1) % stops.size()] : stops[(i + 1) % stops.size()];
}

void NotifyParent(Window *w, WORD code) {
    if (w->parent && Find(w->parent))
        Deliver(w->parent, WM_COMMAND, MAKELONG(WORD(w->id), code), reinterpret_cast<LPARAM>(w->hwnd));
}

// DEFDLG_SetFocus: an edit field gets all its text selected.
void SetDialogFocus(HWND control) {
    if (Deliver(control, WM_GETDLGCODE, 0, 0) & kDlgcHasSetSel) Deliver(control, kEmSetSel, 0, -1);
    SetFocusChecked(control);
}

// A push button with the focus is the default one; when the focus goes to
// something that is no button, the dialog's own default comes back.
void SetDefaultButton(Window *dialog, HWND focus) {
    Window *now = nullptr;
    for (HWND child : dialog->children)
        if (Window *c = Find(child); c && IsPushButton(c) && ButtonType(c) == BS_DEFPUSHBUTTON) now = c;
    Window *next = Find(focus);
    LRESULT code = next ? Deliver(focus, WM_GETDLGCODE, 0, 0) : 0;
    if (next && !(code & (kDlgcUndefPushButton | kDlgcButton))) {
        next = Item(dialog->hwnd, dialog->defaultId);
        code = next ? Deliver(next->hwnd, WM_GETDLGCODE, 0, 0) : 0;
    }
    if (now && now != next) Deliver(now->hwnd, kBmSetStyle, BS_PUSHBUTTON, TRUE);
    if (next && (code & kDlgcUndefPushButton)) Deliver(next->hwnd, kBmSetStyle, BS_DEFPUSHBUTTON, TRUE);
}

void SaveFocus(Window *dialog) {
    HWND focus = FocusWindowInternal();
    if (focus && IsChildOf(dialog->hwnd, focus)) dialog->savedFocus = focus;
}

void RestoreFocus(Window *dialog, bool justActivated) {
    // After EndDialog the focus stays with the dialog itself.
    if (dialog->dialogEnded) return;
    if (!Find(dialog->savedFocus) || dialog->savedFocus == dialog->hwnd) {
        dialog->savedFocus = NextTabItem(dialog->hwnd, nullptr, false);
        if (!Find(dialog->savedFocus)) return;
    }
    if (justActivated)
        SetFocusChecked(dialog->savedFocus);
    else
        SetDialogFocus(dialog->savedFocus);
}

void FillClient(Window *w, HDC dc, HBRUSH brush) {
    RECT client = ClientOnScreen(w);
    if (dc && brush)
        detail::FillRectInternal(dc, RECT{0, 0, client.right - client.left, client.bottom - client.top}, brush);
}

// Paints a control with the brush its parent chooses through WM_CTLCOLOR*.
void PaintControl(Window *w, UINT colorMessage) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaintFor(w, &ps);
    HBRUSH brush = nullptr;
    if (w->parent && Find(w->parent))
        brush = reinterpret_cast<HBRUSH>(
            Deliver(w->parent, colorMessage, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w->hwnd)));
    if (!brush)
        brush = reinterpret_cast<HBRUSH>(DefWindowProcInternal(w->hwnd, colorMessage, 0, 0));
    if (Find(w->hwnd)) FillClient(w, dc, brush);
    EndPaintFor(w->hwnd, &ps);
}

// A control redraws itself at once when its state or focus changes (Wine's
// buttons do, and its edit fields when they get the focus), with the brush
// its parent chooses.
void DrawNow(Window *w) {
    if (!IsVisibleWindow(w)) return;
    UINT colorMessage = w->kind == Kind::Edit ? WM_CTLCOLOREDIT
                        : IsPushButton(w)     ? WM_CTLCOLORBTN
                                              : WM_CTLCOLORSTATIC;
    HDC dc = detail::GetWindowDcInternal(w->hwnd);
    HBRUSH brush = nullptr;
    if (w->parent && Find(w->parent))
        brush = reinterpret_cast<HBRUSH>(
            Deliver(w->parent, colorMessage, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w->hwnd)));
    if (!brush) brush = reinterpret_cast<HBRUSH>(DefWindowProcInternal(w->hwnd, colorMessage, 0, 0));
    if (Find(w->hwnd)) FillClient(w, dc, brush);
    detail::ReleaseDcInternal(w->hwnd, dc);
}

// The default handling of the dialog manager (DefDlgProc's own part).
LRESULT DialogDefault(Window *w, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = w->hwnd;
    switch (message) {
    case WM_ERASEBKGND: {
        auto brush = reinterpret_cast<HBRUSH>(Deliver(hwnd, WM_CTLCOLORDLG, wParam, LPARAM(hwnd)));
        if (!brush) brush = FaceBrush();
        if (Find(hwnd)) FillClient(w, reinterpret_cast<HDC>(wParam), brush);
        return 1;
    }
    case WM_SHOWWINDOW:
        if (!wParam) SaveFocus(w);
        return DefWindowProcInternal(hwnd, message, wParam, lParam);
    case WM_ACTIVATE:
        if (wParam)
            RestoreFocus(w, true);
        else
            SaveFocus(w);
        return 0;
    case WM_SETFOCUS:
        RestoreFocus(w, false);
        return 0;
    case kDmSetDefId:
        w->defaultId = int(wParam);
        return TRUE;
    case DM_GETDEFID:
        return w->defaultId ? MAKELONG(WORD(w->defaultId), kDcHasDefId) : 0;
    case WM_NEXTDLGCTL: {
        HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                     : NextTabItem(hwnd, FocusWindowInternal(), wParam != 0);
        if (target && Find(target)) SetDialogFocus(target);
        if (Find(hwnd)) SetDefaultButton(w, target);
        return 0;
    }
    case WM_CLOSE: {
        Window *cancel = Item(hwnd, IDCANCEL);
        if (!cancel || IsEnabled(cancel))
            PostInternal(hwnd, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel ? cancel->hwnd : nullptr));
        return 0;
    }
    case WM_GETFONT: return LRESULT(kDialogFont);
    case kWmNcLButtonDown:
        // The caption's close box: the system tracks the click and sends the command.
        if (wParam == kHtClose) Deliver(hwnd, WM_SYSCOMMAND, SC_CLOSE, lParam);
        return 0;
    default: return DefWindowProcInternal(hwnd, message, wParam, lParam);
    }
}

void ClickButton(Window *w) {
    if (ButtonType(w) == BS_AUTOCHECKBOX) Deliver(w->hwnd, BM_SETCHECK, (w->check & BST_CHECKED) ? 0 : 1, 0);
    if (Find(w->hwnd)) NotifyParent(w, BN_CLICKED);
}

void EditNotifyChange(Window *w) {
    NotifyParent(w, kEnUpdate);
    if (Find(w->hwnd)) NotifyParent(w, kEnChange);
}

void EditReplaceSelection(Window *w, const std::string &text) {
    size_t a = std::min(w->selStart, w->selEnd), b = std::max(w->selStart, w->selEnd);
    a = std::min(a, w->title.size());
    b = std::min(b, w->title.size());
    w->title = w->title.substr(0, a) + text + w->title.substr(b);
    w->selStart = w->selEnd = a + text.size();
}

// IsDialogMessage: the keys of the dialog's keyboard interface; everything
// else is translated and dispatched.
bool DialogMessage(HWND dialog, MSG *msg) {
    if (msg->hwnd != dialog && !IsChildOf(dialog, msg->hwnd)) return false;
    switch (msg->message) {
    case WM_KEYDOWN: {
        LRESULT code = Deliver(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
        if (code & kDlgcWantMessage) break;
        switch (msg->wParam) {
        case VK_TAB:
            if (code & kDlgcWantTab) break;
            Deliver(dialog, WM_NEXTDLGCTL, KeyIsDown(VK_SHIFT) ? 1 : 0, 0);
            return true;
        case VK_ESCAPE: {
            Window *cancel = Item(dialog, IDCANCEL);
            Deliver(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(cancel ? cancel->hwnd : nullptr));
            return true;
        }
        case VK_RETURN: {
            HWND focus = FocusWindowInternal();
            if (focus && IsChildOf(dialog, focus) && (Deliver(focus, WM_GETDLGCODE, 0, 0) & kDlgcDefPushButton)) {
                Deliver(dialog, WM_COMMAND, MAKELONG(WORD(Find(focus)->id), BN_CLICKED), reinterpret_cast<LPARAM>(focus));
                return true;
            }
            LRESULT defId = Deliver(dialog, DM_GETDEFID, 0, 0);
            if (HIWORD(defId) == kDcHasDefId) {
                Window *def = Item(dialog, LOWORD(defId));
                if (!def || IsEnabled(def))
                    Deliver(dialog, WM_COMMAND, MAKELONG(LOWORD(defId), BN_CLICKED),
                            reinterpret_cast<LPARAM>(def ? def->hwnd : nullptr));
            } else {
                Window *ok = Item(dialog, IDOK);
                Deliver(dialog, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(ok ? ok->hwnd : nullptr));
            }
            return true;
        }
        }
        break;
    }
    case WM_CHAR: {
        LRESULT code = Deliver(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
        if (code & (kDlgcWantChars | kDlgcWantMessage)) break;
        if (msg->wParam == '\t' && (code & kDlgcWantTab)) break;
        // No mnemonics in the program's dialog: the character goes on.
        break;
    }
    }
    TranslateInternal(msg);
    DispatchInternal(msg);
    return true;
}

struct ModalEntry {
    explicit ModalEntry(HWND dialog) { ModalStack().push_back(dialog); }
    ~ModalEntry() { ModalStack().pop_back(); }
};

INT_PTR ModalLoop(HWND dialog, HWND owner) {
    ModalEntry entry(dialog);
    Window *w = FindAny(dialog);
    while (Find(dialog) && !w->dialogEnded) {
        MSG msg;
        if (!PeekMessageInternal(&msg, nullptr, 0, 0, true)) {
            Window *o = Find(owner);
            if (o && o->kind != Kind::Outside && !(w->style & kDsNoIdleMsg))
                Deliver(owner, kWmEnterIdle, 0, reinterpret_cast<LPARAM>(dialog));
            // A dialog destroyed from outside (with its owner, say) ends the
            // wait, and the loop below, as Wine's dialog loop does.
            if (!GetMessageInternal(&msg, nullptr, 0, 0, [dialog] { return !Find(dialog); })) {
                // WM_QUIT ends the dialog and stays for the caller's loop.
                PostQuitInternal(int(msg.wParam));
                break;
            }
        }
        if (!Find(dialog)) break;
        if (!w->dialogEnded && !DialogMessage(dialog, &msg)) {
            TranslateInternal(&msg);
            DispatchInternal(&msg);
        }
    }
    INT_PTR result = w->dialogResult;
    if (Find(dialog)) DestroyWindowInternal(dialog);
    return result;
}

HWND CreateDialogWindow(const detail::DialogTemplate &t, HWND owner, DLGPROC proc, LPARAM param,
                        HINSTANCE instance) {
    int baseX = 0, baseY = 0;
    detail::DialogBaseUnits(t, &baseX, &baseY);
    int x = MulDiv(t.x, baseX, 4), y = MulDiv(t.y, baseY, 8);
    int cx = MulDiv(t.cx, baseX, 4), cy = MulDiv(t.cy, baseY, 8);
    DWORD exStyle = t.exStyle | ((t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0);
    RECT frame = NonclientFrame(t.style, exStyle);
    POINT origin{0, 0};
    if (Window *o = Find(owner)) origin = ClientOrigin(o);
    int left = origin.x + x - frame.left, top = origin.y + y - frame.top;
    int width = cx + frame.left + frame.right, height = cy + frame.top + frame.bottom;
    if (t.style & DS_CENTER) {
        left = (CurrentConfig().screenWidth - width) / 2;
        top = (CurrentConfig().screenHeight - height) / 2;
    }
    HWND hwnd = CreateWindowInternal(t.exStyle, "#32770", t.caption.c_str(), t.style & ~DWORD(WS_VISIBLE),
                                     left, top, width, height, owner, nullptr, instance, nullptr);
    Window *w = Find(hwnd);
    if (!w) return nullptr;
    w->dlgProc = proc;
    if (t.style & DS_SETFONT) Deliver(hwnd, WM_SETFONT, kDialogFont, 0);
    for (const detail::DialogControl &c : t.controls) {
        if (!Find(hwnd)) return nullptr;
        HWND control = CreateWindowInternal(
            c.exStyle | kWsExNoParentNotify, c.className.c_str(), c.text.c_str(), c.style | WS_CHILD,
            MulDiv(c.x, baseX, 4), MulDiv(c.y, baseY, 8), MulDiv(c.cx, baseX, 4), MulDiv(c.cy, baseY, 8),
            hwnd, reinterpret_cast<HMENU>(intptr_t(c.id)), instance, nullptr);
        if (!control) {
            if (Find(hwnd)) DestroyWindowInternal(hwnd);
            return nullptr;
        }
        Window *cw = Find(control);
        if (cw->kind == Kind::Button && ButtonType(cw) == BS_DEFPUSHBUTTON) w->defaultId = c.id;
        Deliver(control, WM_SETFONT, kDialogFont, 0);
    }
    HWND focus = NextTabItem(hwnd, nullptr, false);
    LRESULT answer = Deliver(hwnd, WM_INITDIALOG, WPARAM(focus), param);
    if (answer && Find(hwnd)) {
        focus = NextTabItem(hwnd, nullptr, false);
        if (focus)
            SetDialogFocus(focus);
        else
            SetFocusChecked(hwnd);
    }
    if (Find(hwnd) && (t.style & WS_VISIBLE) && !w->dialogEnded && !(w->style & WS_VISIBLE))
        ShowWindowInternal(hwnd, SW_SHOWNORMAL);
    return Find(hwnd) ? hwnd : nullptr;
}

}  // namespace

HBRUSH FaceBrush() {
    detail::InternalScope internal;
    return reinterpret_cast<HBRUSH>(GetStockObject(1));   // LTGRAY_BRUSH: the classic 3D face
}

LRESULT DialogWindowProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam, EventKind kind) {
    HWND hwnd = w->hwnd;
    if (w->dlgProc) {
        int depth = ProcedureDepth();
        detail::LogMessage(kind, hwnd, message, wParam, lParam, 0, depth);
        INT_PTR answer;
        {
            ProcedureFrame frame;
            detail::ProgramScope program;
            answer = w->dlgProc(hwnd, message, wParam, lParam);
        }
        detail::LogMessage(EventKind::Return, hwnd, message, wParam, lParam, answer, depth);
        if (!Find(hwnd)) return answer;
        if (answer) {
            switch (message) {
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORBTN:
            case WM_CTLCOLORDLG:
            case WM_CTLCOLORSTATIC:
            case WM_INITDIALOG: return answer;
            default: return w->msgResult;
            }
        }
    }
    return DialogDefault(w, message, wParam, lParam);
}

LRESULT ButtonProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = w->hwnd;
    switch (message) {
    case WM_GETDLGCODE:
        switch (ButtonType(w)) {
        case BS_PUSHBUTTON: return kDlgcButton | kDlgcUndefPushButton;
        case BS_DEFPUSHBUTTON: return kDlgcButton | kDlgcDefPushButton;
        default: return kDlgcButton;
        }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) Deliver(hwnd, kBmSetState, TRUE, 0);
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && w->pushed) {
            Deliver(hwnd, kBmSetState, FALSE, 0);
            if (Find(hwnd)) ClickButton(w);
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetFocusChecked(hwnd);
        if (Find(hwnd)) Deliver(hwnd, kBmSetState, TRUE, 0);
        return 0;
    case WM_LBUTTONUP:
        if (w->pushed) {
            Deliver(hwnd, kBmSetState, FALSE, 0);
            if (!Find(hwnd)) return 0;
            RECT client = ClientOnScreen(w);
            int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
            if (x >= 0 && y >= 0 && x < client.right - client.left && y < client.bottom - client.top) ClickButton(w);
        }
        return 0;
    case WM_SETFOCUS:
        DrawNow(w);
        return 0;
    case WM_KILLFOCUS:
        w->pushed = false;
        DrawNow(w);
        return 0;
    case BM_GETCHECK: return LRESULT(w->check);
    case BM_SETCHECK: {
        // Wine's rule: the state is clamped to the highest one the style
        // has: push buttons stay unchecked, two-state boxes take 1 for any
        // nonzero value.
        WPARAM highest = (ButtonType(w) == BS_CHECKBOX || ButtonType(w) == BS_AUTOCHECKBOX) ? 1 : 0;
        if (ButtonType(w) == 5 || ButtonType(w) == 6) highest = 2;   // 3-state boxes
        if (ButtonType(w) == 4 || ButtonType(w) == 9) highest = 1;   // radio buttons
        UINT check = UINT(std::min(wParam, highest));
        if (check != w->check) {
            w->check = check;
            DrawNow(w);
        }
        return 0;
    }
    case kBmSetState:
        if (w->pushed != (wParam != 0)) {
            w->pushed = wParam != 0;
            DrawNow(w);
        }
        return 0;
    case kBmSetStyle:
        w->style = (w->style & ~DWORD(0xFFFF)) | DWORD(wParam & 0xFFFF);
        if (lParam) Invalidate(w, true);
        return 0;
    case kBmClick:
        ClickButton(w);
        return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
        PaintControl(w, IsPushButton(w) ? WM_CTLCOLORBTN : WM_CTLCOLORSTATIC);
        return 0;
    default: return DefWindowProcInternal(hwnd, message, wParam, lParam);
    }
}

LRESULT StaticProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETDLGCODE: return kDlgcStatic;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
        PaintControl(w, WM_CTLCOLORSTATIC);
        return 0;
    default: return DefWindowProcInternal(w->hwnd, message, wParam, lParam);
    }
}

LRESULT EditProc(Window *w, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = w->hwnd;
    switch (message) {
    case WM_GETDLGCODE: return kDlgcWantChars | kDlgcHasSetSel | kDlgcWantArrows;
    case WM_CHAR: {
        char c = char(wParam);
        bool hasSelection = w->selStart != w->selEnd;
        if (c == '\b') {
            if (!hasSelection && w->selStart > 0) w->selStart = w->selStart - 1;
            if (w->selStart == w->selEnd) return 0;
            EditReplaceSelection(w, "");
            EditNotifyChange(w);
            return 0;
        }
        if (uint8_t(c) < 0x20) return 0;
        // ES_NUMBER: Windows refuses anything but digits as they are typed.
        if ((w->style & ES_NUMBER) && !(c >= '0' && c <= '9')) return 0;
        size_t selected = std::max(w->selStart, w->selEnd) - std::min(w->selStart, w->selEnd);
        if (w->title.size() - selected >= w->textLimit) {
            NotifyParent(w, kEnMaxText);
            return 0;
        }
        EditReplaceSelection(w, std::string(1, c));
        EditNotifyChange(w);
        return 0;
    }
    case WM_KEYDOWN: {
        size_t length = w->title.size();
        size_t caret = w->selEnd;
        switch (wParam) {
        case kVkHome: caret = 0; break;
        case kVkEnd: caret = length; break;
        case kVkLeft: caret = caret > 0 ? caret - 1 : 0; break;
        case kVkRight: caret = std::min(length, caret + 1); break;
        case kVkDelete:
            if (w->selStart == w->selEnd && w->selEnd < length) w->selEnd = w->selEnd + 1;
            if (w->selStart != w->selEnd) {
                EditReplaceSelection(w, "");
                EditNotifyChange(w);
            }
            return 0;
        default: return 0;
        }
        w->selStart = w->selEnd = caret;
        return 0;
    }
    case WM_SETTEXT:
        w->title = lParam ? reinterpret_cast<const char *>(lParam) : "";
        w->selStart = w->selEnd = 0;
        Invalidate(w, true);
        EditNotifyChange(w);
        return TRUE;
    case kEmSetSel: {
        size_t length = w->title.size();
        if (LPARAM(wParam) == -1 || INT(wParam) == -1) {
            w->selStart = w->selEnd;   // no selection, the caret stays
            return 0;
        }
        size_t start = std::min(size_t(wParam), length);
        size_t end = (lParam == -1 || INT(lParam) == -1) ? length : std::min(size_t(lParam), length);
        w->selStart = start;
        w->selEnd = end;
        return 0;
    }
    case kEmGetSel: {
        DWORD start = DWORD(std::min(w->selStart, w->selEnd)), end = DWORD(std::max(w->selStart, w->selEnd));
        if (wParam) *reinterpret_cast<DWORD *>(wParam) = start;
        if (lParam) *reinterpret_cast<DWORD *>(lParam) = end;
        return MAKELONG(WORD(start), WORD(end));
    }
    case EM_LIMITTEXT:
        w->textLimit = wParam ? size_t(wParam) : size_t(0x7FFFFFFE);
        return 0;
    case WM_SETFOCUS:
        DrawNow(w);
        if (Find(hwnd)) NotifyParent(w, kEnSetFocus);
        return 0;
    case WM_KILLFOCUS:
        NotifyParent(w, kEnKillFocus);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetFocusChecked(hwnd);
        if (Find(hwnd)) w->selStart = w->selEnd = w->title.size();
        return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
        PaintControl(w, WM_CTLCOLOREDIT);
        return 0;
    default: return DefWindowProcInternal(hwnd, message, wParam, lParam);
    }
}

void ResetDialogs() { ModalStack().clear(); }

}  // namespace sim::core

namespace sim {

using namespace sim::core;

HWND ActiveDialog() {
    auto &stack = ModalStack();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
        if (Find(*it) && !Find(*it)->dialogEnded) return *it;
    return nullptr;
}

HWND DialogItem(HWND dialog, int id) {
    Window *item = Item(dialog, id);
    return item ? item->hwnd : nullptr;
}

std::string ItemText(HWND dialog, int id) {
    Window *item = Item(dialog, id);
    return item ? item->title : "";
}

bool ItemChecked(HWND dialog, int id) {
    Window *item = Item(dialog, id);
    return item && item->check == BST_CHECKED;
}

// The cursor goes to the control's centre and the left button clicks.
void ClickItem(HWND dialog, int id) {
    Window *item = Item(dialog, id);
    if (!item) return;
    RECT r = ClientOnScreen(item);
    SetCursorPosition(int(r.left + r.right) / 2, int(r.top + r.bottom) / 2);
    Click(0);
}

// A click on the caption's close box: the system turns it into SC_CLOSE.
void PressCloseBox(HWND dialog) {
    Window *w = Find(dialog);
    if (!w) return;
    RECT outer = WindowScreenRect(dialog);
    POINT box{int(outer.right) - w->frame.right - 9, int(outer.top) + w->frame.top / 2};
    PostInput(dialog, 0x00A1, 20, MAKELPARAM(box.x, box.y));
}

RECT DialogItemRect(HWND dialog, int id) {
    Window *item = Item(dialog, id);
    if (!item) return RECT{};
    return item->rect;
}

}  // namespace sim

using namespace sim;
using namespace sim::core;
using namespace sim::detail;

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param) {
    Call call = BeginCall("DialogBoxParamA", Name(instance) + ", " + Quote(templateName) + ", " + Name(owner) +
                                                 (proc ? ", proc" : ", null") + Format(", %lld", (long long)param));
    InternalScope internal;
    auto fail = [&](DWORD error) -> INT_PTR {
        SetLastErrorInternal(error);
        EndCall(call, "-1", -1);
        return -1;
    };
    if (call.fail) return fail(ERROR_NOT_ENOUGH_MEMORY);
    const DialogTemplate *t = FindDialogTemplate(templateName);
    if (!t) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (owner && !Find(owner)) return fail(ERROR_INVALID_WINDOW_HANDLE);
    HWND top = owner ? Root(owner) : nullptr;
    HWND disabled = nullptr;
    if (top && IsEnabled(Find(top))) {
        EnableWindowInternal(top, false);
        disabled = top;
    }
    HWND dialog = CreateDialogWindow(*t, top, proc, param, instance);
    if (!dialog) {
        if (disabled) EnableWindowInternal(disabled, true);
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    FindAny(dialog)->disabledOwner = disabled;
    INT_PTR result = ModalLoop(dialog, top);
    // An owner left disabled (EndDialog never ran) is enabled again.
    if (disabled && Find(disabled) && !IsEnabled(Find(disabled))) EnableWindowInternal(disabled, true);
    EndCall(call, Format("%lld", (long long)result), result);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Call call = BeginCall("EndDialog", Name(dialog) + Format(", %lld", (long long)result));
    InternalScope internal;
    Window *w = Find(dialog);
    if (call.fail || !w || w->kind != Kind::Dialog) {
        SetLastErrorInternal(ERROR_INVALID_WINDOW_HANDLE);
        EndCall(call, "0");
        return FALSE;
    }
    w->dialogResult = result;
    w->dialogEnded = true;
    HWND owner = w->owner;
    if (w->disabledOwner && Find(w->disabledOwner)) {
        EnableWindowInternal(w->disabledOwner, true);
        w->disabledOwner = nullptr;
    }
    HWND focus = FocusWindowInternal();
    if (focus && IsChildOf(dialog, focus)) SetFocusChecked(dialog);
    if (Find(dialog)) HideWindowNoActivate(dialog);
    if (Find(dialog) && dialog == ActiveWindow()) {
        if (owner && Find(owner))
            SetForegroundInternal(owner, false);
        else
            ActivateOther(dialog);
    }
    if (Find(dialog)) PostInternal(dialog, WM_NULL, 0, 0);
    EndCall(call, "1", 1);
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    Call call = BeginCall("GetDlgItem", Name(dialog) + Format(", %d", id));
    Window *item = call.fail ? nullptr : Item(dialog, id);
    if (!item) SetLastErrorInternal(Find(dialog) ? kErrorControlIdNotFound : ERROR_INVALID_WINDOW_HANDLE);
    HWND hwnd = item ? item->hwnd : nullptr;
    EndCall(call, Name(hwnd), reinterpret_cast<LRESULT>(hwnd));
    return hwnd;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Call call = BeginCall("SetDlgItemTextA", Name(dialog) + Format(", %d, ", id) + Quote(text));
    InternalScope internal;
    Window *item = call.fail ? nullptr : Item(dialog, id);
    if (!item) {
        SetLastErrorInternal(kErrorControlIdNotFound);
        EndCall(call, "0");
        return FALSE;
    }
    BOOL result = Deliver(item->hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
    EndCall(call, Format("%d", result), result);
    return result;
}

// Copies at most size - 1 characters and a terminating zero; returns the
// number of characters copied.
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
    Call call = BeginCall("GetDlgItemTextA", Name(dialog) + Format(", %d, %d", id, size));
    InternalScope internal;
    Window *item = call.fail ? nullptr : Item(dialog, id);
    if (buffer && size > 0) buffer[0] = '\0';
    if (!item || !buffer || size <= 0) {
        if (!item) SetLastErrorInternal(kErrorControlIdNotFound);
        EndCall(call, "0");
        return 0;
    }
    UINT count = UINT(Deliver(item->hwnd, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(buffer)));
    EndCall(call, Format("%u ", count) + Quote(buffer), LRESULT(count));
    return count;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    Call call = BeginCall("SendDlgItemMessageA", Name(dialog) + Format(", %d, ", id) + MessageName(message) +
                                                     Format(", 0x%llX, 0x%llX", (unsigned long long)wParam,
                                                            (unsigned long long)(ULONG_PTR)lParam));
    InternalScope internal;
    Window *item = call.fail ? nullptr : Item(dialog, id);
    if (!item) {
        SetLastErrorInternal(kErrorControlIdNotFound);
        EndCall(call, "0");
        return 0;
    }
    LRESULT result = Deliver(item->hwnd, message, wParam, lParam);
    EndCall(call, Format("%lld", (long long)result), result);
    return result;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    Call call = BeginCall("IsDlgButtonChecked", Name(dialog) + Format(", %d", id));
    InternalScope internal;
    Window *item = call.fail ? nullptr : Item(dialog, id);
    UINT result = item ? UINT(Deliver(item->hwnd, BM_GETCHECK, 0, 0)) : 0;
    if (!item) SetLastErrorInternal(kErrorControlIdNotFound);
    EndCall(call, Format("%u", result), LRESULT(result));
    return result;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    Call call = BeginCall("CheckDlgButton", Name(dialog) + Format(", %d, %u", id, check));
    InternalScope internal;
    Window *item = call.fail ? nullptr : Item(dialog, id);
    if (!item) {
        SetLastErrorInternal(kErrorControlIdNotFound);
        EndCall(call, "0");
        return FALSE;
    }
    Deliver(item->hwnd, BM_SETCHECK, check, 0);
    EndCall(call, "1", 1);
    return TRUE;
}
