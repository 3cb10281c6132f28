// Where the show's settings live: a section of a profile file, both named by
// the program's strings, read and written through the profile functions.
#include "host.h"
#include "resource.h"
#include "show.h"

char SettingsSectionName[SECTION_NAME_SIZE] = "ScreenSaver.Vellomire";
char SettingsFileName[FILE_NAME_SIZE] = "";

void LoadSettingsNames(void)
{
    LoadStringA(HostState.instance, IDS_SECTION_NAME, SettingsSectionName, SECTION_NAME_SIZE);
    LoadStringA(HostState.instance, IDS_FILE_NAME, SettingsFileName, FILE_NAME_SIZE);
}

// Without both names the settings cannot be found: reads give the default,
// and nothing is written, so that no other profile file is ever touched.
static BOOL SettingsNamesLoaded(void)
{
    return SettingsSectionName[0] != '\0' && SettingsFileName[0] != '\0';
}

INT ReadSetting(LPCSTR key, INT defaultValue)
{
    if (!SettingsNamesLoaded())
        return defaultValue;
    return (INT)GetPrivateProfileIntA(SettingsSectionName, key, defaultValue, SettingsFileName);
}

void WriteSetting(LPCSTR key, LPCSTR value)
{
    if (!SettingsNamesLoaded())
        return;
    WritePrivateProfileStringA(SettingsSectionName, key, value, SettingsFileName);
}
