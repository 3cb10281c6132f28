// The saver host: process entry, command-line modes, the saver window and its
// message loop, wake-up on input, and password verification and change.
#ifndef VELLOMIRE_HOST_H
#define VELLOMIRE_HOST_H

#include "platform.h"
#include "system_entry_points.h"

// Mouse distance (|dx| + |dy|, in pixels) that a move must exceed to wake.
#define WAKE_THRESHOLD 4
// lastVerifyTick before any verification has ended.
#define NO_VERIFY_TICK 0xFFFFFFFFu
// The request that asks the password verifier whether the saver may close.
#define WM_VERIFY_PASSWORD 0x8000
// Least time between the end of one verification and the next question.
#define VERIFY_INTERVAL_MS 200

struct HostStateRecord {
    HINSTANCE instance;                 // the program's own module
    HWND saverWindow;                   // the saver window of this run
    INT isPreview;                      // the saver window is a preview child
    INT closeAllowed;                   // a close has been allowed; never cleared
    INT isVerifying;                    // the verifier is being asked right now
    HMODULE verifierLibrary;            // "PASSWORD.CPL" while loaded
    VerifyScreenSavePwdProc verifierEntry;
    HMODULE immModule;                  // "IMM32.DLL" when already loaded
    ImmAssociateContextProc associateContextEntry;
    HIMC savedInputContext;             // the input context detached at creation
    INT isWin95Family;                  // the system is of the Windows 95 family
    UINT wakeThreshold;
    DWORD lastVerifyTick;               // tick at the end of the last verification
    POINT lastCursorPos;                // reference position of the mouse rule
};
extern HostStateRecord HostState;

// Process entry and modes.
void SaverEntry(void);
INT DispatchMode(HINSTANCE instance, LPCSTR tail);
INT RunPreview(LPCSTR text);
INT RunChangePassword(LPCSTR text);
DWORD ParseWindowHandle(LPCSTR text);
INT ShowConfigDialog(HWND owner);

// The saver window.
INT RunSaver(HWND parent);
LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK HostDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Password verification and change.
void LoadPasswordVerifier(void);
void UnloadPasswordVerifier(void);
void SetSaverRunning(INT flag);
INT VerifyClose(HWND hwnd);
DWORD TickDifference(DWORD earlier, DWORD later);
void ChangePassword(HWND owner);

#endif
