// Measures the Wine behaviours that the simulated Win32 layer copies: profile
// reading and rewriting, LoadStringA and wsprintfA limits, RegQueryValueExA
// with a short buffer, BitBlt clipping at the source, bitmap loading, system
// colours and dialog base units. Built with MinGW and run under Wine by
// measure.sh; prints one line per finding into measure.txt.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

static FILE *out;

static std::string Escaped(const char *p, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        char b[8];
        if (c == '\r') s += "\\r";
        else if (c == '\n') s += "\\n";
        else if (c < 32 || c > 126) { sprintf(b, "\\x%02x", c); s += b; }
        else s += (char)c;
    }
    return s;
}

static std::string InWindows(const char *name)
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, MAX_PATH);
    return std::string(dir) + "\\" + name;
}

static void Put(const char *name, const char *bytes, size_t n)
{
    HANDLE h = CreateFileA(InWindows(name).c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written;
    WriteFile(h, bytes, (DWORD)n, &written, 0);
    CloseHandle(h);
}

static std::string Get(const char *name)
{
    HANDLE h = CreateFileA(InWindows(name).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (h == INVALID_HANDLE_VALUE) return "<none>";
    char b[4096];
    DWORD n = 0;
    ReadFile(h, b, sizeof b, &n, 0);
    CloseHandle(h);
    return Escaped(b, n);
}

static INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

static void DialogUnits()
{
    WORD buffer[128] = {};
    DLGTEMPLATE *t = (DLGTEMPLATE *)buffer;
    t->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t->cx = 191;
    t->cy = 86;
    WORD *p = (WORD *)(t + 1);
    *p++ = 0;  // menu
    *p++ = 0;  // class
    *p++ = 0;  // title
    *p++ = 10; // points
    for (const wchar_t *f = L"Times New Roman"; *f; ++f) *p++ = *f;
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(0), t, 0, NoDialogProc, 0);
    RECT r = {0, 0, 4, 8};
    MapDialogRect(dialog, &r);
    RECT client;
    GetClientRect(dialog, &client);
    fprintf(out, "dialog base units, Times New Roman 10: %ld x %ld; 191 x 86 units: client %ld x %ld\n",
            r.right, r.bottom, client.right, client.bottom);
    DestroyWindow(dialog);
    LONG units = GetDialogBaseUnits();
    fprintf(out, "dialog base units, system font: %d x %d\n", LOWORD(units), HIWORD(units));
}

static void ProfileIntegers()
{
    const char *values[] = {"", "20", "-1", "+12", "  42  ", "\"33\"", "abc", "12abc", "0x10", "0X1F", "-0x10",
                            "+0x1A", "0o17", "0b101", "0x", "010", "1e3", "- 5", "4294967297",
                            "99999999999999999999", "11111111111111111111111111111999"};
    for (const char *v : values) {
        std::string file = std::string("[S]\r\nk=") + v + "\r\n";
        Put("measure.ini", file.data(), file.size());
        fprintf(out, "GetPrivateProfileIntA of [%s], default 10: %u\n", v,
                GetPrivateProfileIntA("S", "k", 10, "measure.ini"));
    }
    Put("measure.ini", "[S]\r\nk\r\n", 9);
    fprintf(out, "GetPrivateProfileIntA of a key without '=', default 10: %u\n",
            GetPrivateProfileIntA("S", "k", 10, "measure.ini"));
}

static void ProfileWrite(const char *what, const char *before, size_t n, const char *section, const char *key,
                         const char *value)
{
    Put("measure.ini", before, n);
    BOOL ok = WritePrivateProfileStringA(section, key, value, "measure.ini");
    fprintf(out, "WritePrivateProfileStringA, %s: %d, file %s\n", what, ok, Get("measure.ini").c_str());
}

static void ProfileWrites()
{
    const char *sections = "[Current]\r\ncolor schemes=Windows Standard\r\n\r\n[Patterns]\r\n; a comment\r\n"
                           "(None)=(None)\r\n";
    ProfileWrite("new section after a blank line", sections, strlen(sections), "ScreenSaver.Vellomire",
                 "Seconds", "5");
    const char *blanks = "  [S]  \nkey = value  \nlone line\n\n\nx=1\n";
    ProfileWrite("LF file with blanks", blanks, strlen(blanks), "S", "x", "2");
    ProfileWrite("same value", "[S]\nk=1\n\n", 9, "S", "k", "1");
    ProfileWrite("leading blanks of the value", "[S]\r\nk=1\r\n", 10, "S", "k", "   7 ");
    const char *top = "top=1\r\n[S]\r\na=1\r\n\r\n[T]\r\n\r\nb=2\r\n\r\n";
    ProfileWrite("new key", top, strlen(top), "T", "c", "3");
    ProfileWrite("deleted key", top, strlen(top), "S", "a", NULL);
    static const char junk[] = "\x00\x01\xff\xfe[S]\x00x\r\nk\x00=1\r\n\x1a\x1a";
    ProfileWrite("NUL bytes", junk, sizeof junk - 1, "ScreenSaver.Vellomire", "Paint", "0");
    std::string text = "[S]\r\nk=1\r\n";
    std::string utf16 = "\xFF\xFE", utf16be = "\xFE\xFF";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
        utf16be += '\0';
        utf16be += c;
    }
    std::string utf8 = "\xEF\xBB\xBF" + text;
    ProfileWrite("UTF-16LE with its mark", utf16.data(), utf16.size(), "S", "k", "2");
    ProfileWrite("UTF-16BE with its mark", utf16be.data(), utf16be.size(), "S", "k", "2");
    ProfileWrite("UTF-8 with its mark", utf8.data(), utf8.size(), "S", "k", "2");
    Put("measure.ini", utf16.data(), utf16.size());
    fprintf(out, "GetPrivateProfileIntA of UTF-16LE k=1: %u\n", GetPrivateProfileIntA("S", "k", 10, "measure.ini"));
    char b[16];
    memset(b, 'x', sizeof b);
    DWORD n = GetPrivateProfileStringA("S", "missing", "dflt  ", b, 8, "none.ini");
    fprintf(out, "GetPrivateProfileStringA default \"dflt  \": %lu [%s]\n", n, b);
    Put("measure.ini", "[A]\r\nx=1\r\ny=2\r\n[B]\r\n", 21);
    memset(b, 'x', sizeof b);
    n = GetPrivateProfileStringA("A", NULL, "", b, 4, "measure.ini");
    fprintf(out, "GetPrivateProfileStringA keys into 4: %lu %s\n", n, Escaped(b, 6).c_str());
    Put("readonly.ini", "[S]\r\nk=1\r\n", 10);
    SetFileAttributesA(InWindows("readonly.ini").c_str(), FILE_ATTRIBUTE_READONLY);
    SetLastError(0);
    BOOL ok = WritePrivateProfileStringA("S", "k", "2", "readonly.ini");
    fprintf(out, "WritePrivateProfileStringA to a read-only file: %d, error %lu, file %s\n", ok, GetLastError(),
            Get("readonly.ini").c_str());
    SetFileAttributesA(InWindows("readonly.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

static void StringsAndFormatting()
{
    HINSTANCE self = GetModuleHandleA(0);
    char b[16];
    memset(b, '#', sizeof b);
    int r = LoadStringA(self, 1001, b, 0);
    fprintf(out, "LoadStringA size 0: %d, first byte %c\n", r, b[0]);
    memset(b, '#', sizeof b);
    r = LoadStringA(self, 1001, b, 5);
    fprintf(out, "LoadStringA size 5: %d %s\n", r, Escaped(b, 6).c_str());
    memset(b, '#', sizeof b);
    r = LoadStringA(self, 1003, b, 5);
    fprintf(out, "LoadStringA missing id: %d %s\n", r, Escaped(b, 2).c_str());
    static char text[2000], buffer[1100];
    memset(text, 'x', 1999);
    r = wsprintfA(buffer, "%s", text);
    fprintf(out, "wsprintfA of 1999 characters: %d, length %u\n", r, (unsigned)strlen(buffer));
    text[1023] = 0;
    r = wsprintfA(buffer, "%s", text);
    fprintf(out, "wsprintfA of 1023 characters: %d\n", r);
    text[1022] = 0;
    r = wsprintfA(buffer, "%s", text);
    fprintf(out, "wsprintfA of 1022 characters: %d\n", r);
}

static void Registry()
{
    HKEY key;
    RegCreateKeyA(HKEY_CURRENT_USER, "Software\\VellomireMeasure", &key);
    BYTE six[6] = {1, 2, 3, 4, 5, 6};
    RegSetValueExA(key, "Long", 0, REG_BINARY, six, 6);
    BYTE data[4] = {0x99, 0x99, 0x99, 0x99};
    DWORD size = 4, type = 0;
    LONG e = RegQueryValueExA(key, "Long", 0, &type, data, &size);
    fprintf(out, "RegQueryValueExA of 6 bytes into 4: %ld, size %lu, data %02x%02x%02x%02x\n", e, size, data[0],
            data[1], data[2], data[3]);
    RegCloseKey(key);
    fprintf(out, "RegCloseKey twice: %ld\n", RegCloseKey(key));
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VellomireMeasure");
}

static void Drawing()
{
    HDC screen = GetDC(0);
    HBITMAP source = CreateCompatibleBitmap(screen, 2, 2), target = CreateCompatibleBitmap(screen, 6, 4);
    HDC s = CreateCompatibleDC(screen), d = CreateCompatibleDC(screen);
    HGDIOBJ oldSource = SelectObject(s, source);
    SelectObject(d, target);
    RECT all = {0, 0, 6, 4};
    FillRect(d, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    SetPixel(s, 0, 0, RGB(1, 0, 0));
    SetPixel(s, 1, 0, RGB(2, 0, 0));
    SetPixel(s, 0, 1, RGB(3, 0, 0));
    SetPixel(s, 1, 1, RGB(4, 0, 0));
    BOOL ok = BitBlt(d, 0, 0, 3, 3, s, -1, 0, SRCCOPY);
    fprintf(out, "BitBlt 3 x 3 from (-1, 0) of a 2 x 2 bitmap: %d, rows", ok);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++) fprintf(out, " %06lx", GetPixel(d, x, y));
    fprintf(out, "\n");
    fprintf(out, "DeleteObject of a selected bitmap: %d\n", DeleteObject(source));
    SelectObject(s, oldSource);
    fprintf(out, "DeleteObject of it once selected out: %d\n", DeleteObject(source));
    RECT inverted[] = {{4, 2, 2, 0}, {2, 2, 4, 0}, {4, 0, 2, 2}};
    for (const RECT &r : inverted) {
        FillRect(d, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
        FillRect(d, &r, (HBRUSH)GetStockObject(WHITE_BRUSH));
        fprintf(out, "FillRect {%ld, %ld, %ld, %ld} on 6 x 3, rows:", r.left, r.top, r.right, r.bottom);
        for (int y = 0; y < 3; y++) {
            fprintf(out, " ");
            for (int x = 0; x < 6; x++) fprintf(out, "%c", GetPixel(d, x, y) ? '#' : '.');
        }
        fprintf(out, "\n");
    }
    HBITMAP row = CreateCompatibleBitmap(screen, 4, 1);
    SelectObject(s, row);
    for (int x = 0; x < 4; x++) SetPixel(s, x, 0, RGB(x + 1, 0, 0));
    int copies[][4] = {{3, -2, 4, 0}, {3, -2, 2, 0}};
    for (auto &c : copies) {
        FillRect(d, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
        BitBlt(d, c[0], 0, c[1], 1, s, c[2], 0, SRCCOPY);
        fprintf(out, "BitBlt at x %d width %d from source x %d of columns 1 2 3 4, row:", c[0], c[1], c[2]);
        for (int x = 0; x < 6; x++) fprintf(out, " %lu", GetPixel(d, x, 0) & 0xFF);
        fprintf(out, "\n");
    }
    SelectObject(s, oldSource);
    HBITMAP picture = LoadBitmapA(GetModuleHandleA(0), "map1");
    BITMAP bm;
    int r = GetObjectA(picture, sizeof bm, &bm);
    fprintf(out, "GetObjectA of map1: %d, %ld x %ld, width bytes %ld, bits %d, planes %d\n", r, bm.bmWidth,
            bm.bmHeight, bm.bmWidthBytes, bm.bmBitsPixel, bm.bmPlanes);
    fprintf(out, "GetObjectA short buffer: %d; no buffer: %d\n", GetObjectA(picture, sizeof bm - 1, &bm),
            GetObjectA(picture, 0, NULL));
    HDC m = CreateCompatibleDC(screen);
    HGDIOBJ first = SelectObject(m, picture);
    GetObjectA(first, sizeof bm, &bm);
    fprintf(out, "bitmap of a new memory DC: %ld x %ld, bits %d, width bytes %ld\n", bm.bmWidth, bm.bmHeight,
            bm.bmBitsPixel, bm.bmWidthBytes);
    fprintf(out, "map1 pixels (0,0) (449,300) (225,150): %06lx %06lx %06lx\n", GetPixel(m, 0, 0),
            GetPixel(m, 449, 300), GetPixel(m, 225, 150));
    HDC other = CreateCompatibleDC(screen);
    fprintf(out, "SelectObject of a bitmap selected elsewhere: %p\n", (void *)SelectObject(other, picture));
    fprintf(out, "ReleaseDC of a memory DC: %d\n", ReleaseDC(0, m));
    fprintf(out, "system colours:");
    for (int i = 0; i < 31; ++i) {
        COLORREF c = GetSysColor(i);
        fprintf(out, " %02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    }
    fprintf(out, "\n");
    int first_ = ReleaseDC(0, screen);
    int second = ReleaseDC(0, screen);
    fprintf(out, "ReleaseDC twice: %d %d\n", first_, second);
}

int main()
{
    out = fopen("measure.txt", "w");
    DialogUnits();
    ProfileIntegers();
    ProfileWrites();
    StringsAndFormatting();
    Registry();
    Drawing();
    fclose(out);
    return 0;
}
