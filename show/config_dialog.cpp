// The configuration dialog: shows the stored hold time and paint switch and
// stores what the user confirms.
#include "host.h"
#include "resource.h"
#include "show.h"

#define DIALOG_TEXT_SIZE 40
// At most four characters of the seconds field are stored.
#define SECONDS_TEXT_LIMIT 5

BOOL PrepareConfigDialog(HINSTANCE)
{
    return TRUE;
}

static void ShowStoredSettings(HWND dialog)
{
    char text[DIALOG_TEXT_SIZE];
    LoadSettingsNames();
    wsprintfA(text, "%d", ReadSetting("Seconds", DIALOG_DEFAULT_SECONDS));
    SetDlgItemTextA(dialog, IDC_SECONDS, text);
    SendDlgItemMessageA(dialog, IDC_PAINT, BM_SETCHECK, (WPARAM)ReadSetting("Paint", DEFAULT_PAINT),
                        0);
}

// Both keys are written on every OK, the seconds text as typed.
static void StoreSettings(HWND dialog)
{
    char text[DIALOG_TEXT_SIZE];
    text[0] = '\0';
    if (GetDlgItemTextA(dialog, IDC_SECONDS, text, SECONDS_TEXT_LIMIT) == 0)
        text[0] = '\0';
    WriteSetting("Seconds", text);
    wsprintfA(text, "%d", (INT)IsDlgButtonChecked(dialog, IDC_PAINT));
    WriteSetting("Paint", text);
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowStoredSettings(dialog);
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDOK) {
            StoreSettings(dialog);
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (wParam == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
