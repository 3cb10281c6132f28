// textwidth.exe OUTPUT-FILE FACE POINTS TEXT...
// Makes the font that a dialog template's FONT line asks for (POINTS at the
// screen's vertical resolution, as the dialog manager makes it) and writes,
// for each TEXT, one line: its width and height in pixels on the screen.
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>

int main()
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc < 5) {
        fprintf(stderr, "usage: textwidth OUTPUT-FILE FACE POINTS TEXT...\n");
        return 2;
    }
    HDC screen = GetDC(NULL);
    int height = -MulDiv(atoi(argv[3]), GetDeviceCaps(screen, LOGPIXELSY), 72);
    HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                             PROOF_QUALITY, FF_DONTCARE, argv[2]);
    HGDIOBJ old = SelectObject(screen, font);
    std::string out;
    for (int i = 4; i < argc; ++i) {
        SIZE size = {0, 0};
        GetTextExtentPoint32A(screen, argv[i], lstrlenA(argv[i]), &size);
        char line[64];
        snprintf(line, sizeof line, "%ld %ld\n", size.cx, size.cy);
        out += line;
    }
    SelectObject(screen, old);
    DeleteObject(font);
    ReleaseDC(NULL, screen);
    return WriteFileAtomically(argv[1], out) ? 0 : 1;
}
