// File input and output shared by the end-to-end helper programs. Results go
// to files (never pipes) and appear whole: written beside, then renamed.
#ifndef VELLOMIRE_E2E_HELPER_IO_H
#define VELLOMIRE_E2E_HELPER_IO_H

#include <windows.h>
#include <string>

// Reads a whole file as bytes; false when it cannot be read.
bool ReadFileBytes(const char *path, std::string *bytes);

// Writes text to path.tmp and renames it over path, so that a reader polling
// for path never sees a half-written file.
bool WriteFileAtomically(const char *path, const std::string &text);

bool FileExists(const char *path);

// The process's arguments split the C runtime's way (quotes and blanks).
int HelperArgs(char ***argv);

// Runs for ever: whenever the file `request` appears, reads and deletes it and
// hands its text to `answer`; sleeps on changes to its folder in between.
int ServeRequests(const char *request, void (*answer)(const std::string &text));

// The first `count` lines of `text` (without their line ends) into `lines`,
// empty ones where it has fewer.
void TakeLines(const std::string &text, std::string *lines, int count);

#endif
