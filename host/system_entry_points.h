// Entry points of system components that the saver loads by name at run time.
// Each type is declared once, here, with the system's calling convention, so
// that the 32-bit build calls them as __stdcall and the test doubles built
// against this header export exactly these signatures.
#ifndef VELLOMIRE_SYSTEM_ENTRY_POINTS_H
#define VELLOMIRE_SYSTEM_ENTRY_POINTS_H

#include "platform.h"

// PASSWORD.CPL: nonzero when the user has proven the screen-saver password.
typedef BOOL(WINAPI *VerifyScreenSavePwdProc)(HWND saverWindow);
// MPR.DLL: asks the named password provider to change its password.
typedef DWORD(WINAPI *PwdChangePasswordAProc)(LPCSTR provider, HWND owner, DWORD reserved1,
                                              DWORD reserved2);
// IMM32.DLL: gives the window another input context and returns the old one.
typedef HIMC(WINAPI *ImmAssociateContextProc)(HWND hwnd, HIMC context);

#endif
