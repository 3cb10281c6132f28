// The one platform header of the product code: the real Win32 API on Windows,
// the simulated one elsewhere, and the structured exception guard either way.
#ifndef VELLOMIRE_PLATFORM_H
#define VELLOMIRE_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#else
#include "sim_windows.h"
#endif

// Runs body(context) inside a structured exception guard. When a fault is
// raised inside it, filter runs with the fault's pointers before anything is
// unwound and its verdict decides: EXCEPTION_CONTINUE_EXECUTION resumes the
// faulting code, EXCEPTION_CONTINUE_SEARCH hands the fault on to outer
// handlers, and EXCEPTION_EXECUTE_HANDLER unwinds the stack back to here.
// Returns TRUE with body's result in *result when body returned, and FALSE
// with the exception code in *result when the fault was handled here.
typedef INT (*GuardBody)(void *context);
typedef LONG (*GuardFilter)(EXCEPTION_POINTERS *pointers);
BOOL GuardedCall(GuardBody body, void *context, GuardFilter filter, INT *result);

#endif
