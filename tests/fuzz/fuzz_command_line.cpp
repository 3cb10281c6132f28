// The command tail through the whole entry chain: whatever it holds, the
// process selects at most one mode, ends with one of the modes' exit codes
// and leaves nothing behind. Any mode that starts is ended by the user's
// actions a second in.
#include "fuzz_world.h"
#include "host.h"
#include "resource.h"

#include <cstdint>
#include <string>

namespace {

DWORD WINAPI AcceptChange(LPCSTR, HWND, DWORD, DWORD)
{
    return 0;
}

// Ends whatever started: a dialog by Cancel, a saver by a key, a preview by
// its parent's end; repeated in case the first one came too early.
void EndWhateverStarted(HWND parent)
{
    for (uint64_t at = 1000; at <= 4000; at += 1000)
        sim::At(at, [parent, at] {
            if (HWND dialog = sim::ActiveDialog())
                sim::ClickItem(dialog, IDCANCEL);
            else if (vfuzz::Alive(HostState.saverWindow))
                sim::KeyPress('Q');
            if (at >= 2000 && vfuzz::Alive(parent))
                sim::DestroyFromOutside(parent);
        });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the family; the rest, up to a NUL, is the tail.
    bool win95 = (data[0] & 1) != 0;
    std::string tail(reinterpret_cast<const char *>(data + 1), size - 1);
    tail = tail.substr(0, tail.find('\0'));

    sim::Config config;
    config.win95Family = win95;
    config.screenWidth = 640;
    config.screenHeight = 480;
    config.maxVirtualMs = 30000;
    config.maxMessages = 200000;
    config.logging = false;
    config.windowsDir = vfuzz::WindowsFolder();
    config.commandLine = "vellomire.scr " + tail;
    sim::Reset(config);
    // An outside window whose handle a tail may name.
    HWND parent = sim::CreateOutsideWindow("Display Properties", 40, 30);
    sim::FakeModule mpr;
    mpr.fileName = "MPR.DLL";
    mpr.exports["PwdChangePasswordA"] = reinterpret_cast<void *>(&AcceptChange);
    sim::InstallModule(mpr);
    EndWhateverStarted(parent);

    sim::ProcessResult result = vtest::RunProgram();
    vfuzz::RequireCleanEnd(result);
    int32_t code = vtest::SignedExit(result);
    vfuzz::Require(code == -1 || code == 0 || code == 1, "exit code " + std::to_string(code));
    vfuzz::Require(sim::CallCount("WritePrivateProfileStringA") == 0, "a write without OK");
    vfuzz::Require(win95 || sim::CallCount("LoadLibraryA") == 0, "a library loaded on NT");
    vfuzz::Require(sim::SystemParameterCalls().empty(), "the system told of a saver without a password");
    return 0;
}
