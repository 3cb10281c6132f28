// control.ini as anything at all: the show's reads in a full-screen run and
// the dialog's reads and its OK. Every run ends cleanly, and the dialog
// writes the program's two keys and nothing else.
#include "fuzz_world.h"
#include "host.h"
#include "resource.h"

#include <cstdint>
#include <string>

namespace {

bool OnlyDialogKeys = true;

void WatchWrites()
{
    OnlyDialogKeys = true;
    sim::SetObserver([](const sim::Event &event) {
        if (event.kind != sim::EventKind::Call || event.function != "WritePrivateProfileStringA")
            return;
        const std::string &text = event.text;
        bool seconds = text.rfind("WritePrivateProfileStringA(\"ScreenSaver.Vellomire\", \"Seconds\", ", 0) == 0;
        bool paint = text.rfind("WritePrivateProfileStringA(\"ScreenSaver.Vellomire\", \"Paint\", ", 0) == 0;
        if ((!seconds && !paint) || text.find(", \"control.ini\")") == std::string::npos)
            OnlyDialogKeys = false;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the mode and the family; the rest is the file.
    bool dialog = (data[0] & 1) != 0;
    bool win95 = (data[0] & 2) != 0;
    std::string file(reinterpret_cast<const char *>(data + 1), size - 1);

    sim::Config config;
    config.win95Family = win95;
    config.screenWidth = 640;
    config.screenHeight = 480;
    config.maxVirtualMs = 30000;
    config.maxMessages = 200000;
    config.logging = false;
    config.windowsDir = vfuzz::WindowsFolder();
    config.commandLine = dialog ? "vellomire.scr /c" : "vellomire.scr /s";
    sim::Reset(config);
    sim::WriteWindowsFile("control.ini", file);
    for (uint64_t at = 1500; at <= 4500; at += 1000)
        sim::At(at, [] {
            if (HWND box = sim::ActiveDialog())
                sim::ClickItem(box, IDOK);
            else if (vfuzz::Alive(HostState.saverWindow))
                sim::KeyPress('Q');
        });
    WatchWrites();
    sim::ProcessResult result = vtest::RunProgram();
    sim::SetObserver(nullptr);
    vfuzz::RequireCleanEnd(result);
    int32_t code = vtest::SignedExit(result);
    vfuzz::Require(code == (dialog ? 1 : 0), "exit code " + std::to_string(code));
    vfuzz::Require(OnlyDialogKeys, "a write other than the dialog's two keys");
    vfuzz::Require(dialog || sim::CallCount("WritePrivateProfileStringA") == 0,
                   "the show wrote to the file");
    return 0;
}
