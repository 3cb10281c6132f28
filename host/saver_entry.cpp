// From the system's command line to the process exit code.
#include "host.h"

// Skips the program name, which is either quoted (up to and past its closing
// quote, or to the end of a line that has none) or runs up to the first
// byte of 32 or less. Bytes from 128 up are never blanks.
static LPCSTR SkipProgramName(LPCSTR text)
{
    if (*text == '"') {
        text = CharNextA(text);
        while (*text != '\0' && *text != '"')
            text = CharNextA(text);
        if (*text == '"')
            text = CharNextA(text);
    } else {
        while ((unsigned char)*text > 32)
            text = CharNextA(text);
    }
    return text;
}

// Skips spaces, tabs and the other control characters after the name.
static LPCSTR SkipBlanks(LPCSTR text)
{
    while (*text != '\0' && (unsigned char)*text <= 32)
        text = CharNextA(text);
    return text;
}

void SaverEntry(void)
{
    LPCSTR text = GetCommandLineA();
    if (text == NULL)
        text = "";
    LPCSTR tail = SkipBlanks(SkipProgramName(text));
    ExitProcess((UINT)DispatchMode(GetModuleHandleA(NULL), tail));
}
