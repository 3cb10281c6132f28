// The probe as a Windows program: the scenario is the command line's last word.
#include "probe_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ProbeEntry();
    return 0;
}
