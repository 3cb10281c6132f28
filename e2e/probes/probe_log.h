// The probes' log: one text line per event, windows named w1, w2, ... in the
// order the probe first meets them, so that logs never depend on handle
// values. Lines that start with "~" are events whose place in the order is
// up to the system (painting, the pointer): they are compared as a set.
#ifndef VELLOMIRE_PROBE_LOG_H
#define VELLOMIRE_PROBE_LOG_H

#include "platform.h"

void LogOpen();
void LogLine(const char *format, ...);
void LogClose();
// The window's name in the log; "other" for a window the probe never named.
const char *WindowName(HWND hwnd);
// Gives a window the next free name w1, w2, ..., unless it has one.
void NameWindow(HWND hwnd);
void NameWindowAs(HWND hwnd, const char *name);
// Logs a message that a window procedure received (prefix "proc") or that
// the message loop retrieved (prefix "get"); messages outside the set that
// the probes follow are not logged.
void LogMessage(const char *prefix, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the scenario named by the command line's last word and ends the process.
void ProbeEntry();

#endif
