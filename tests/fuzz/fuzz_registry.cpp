// The bytes of "ScreenSaveUsePassword" through LoadPasswordVerifier: the
// verifier is loaded exactly when the value fits four bytes and one of them
// is not zero, the system is told so, and unloading gives everything back.
#include "fuzz_world.h"
#include "host.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

BOOL WINAPI Allow(HWND)
{
    return TRUE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the value's type and whether the verifier
    // exports its entry; the rest is the value.
    static const DWORD types[] = {REG_DWORD, REG_BINARY, REG_SZ, REG_NONE};
    DWORD type = types[data[0] & 3];
    bool exported = (data[0] & 4) == 0;
    std::vector<uint8_t> bytes(data + 1, data + size);

    sim::Config config;
    config.win95Family = true;
    config.logging = false;
    config.windowsDir = vfuzz::WindowsFolder();
    sim::Reset(config);
    sim::SetRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", type, bytes);
    sim::FakeModule verifier;
    verifier.fileName = "PASSWORD.CPL";
    if (exported)
        verifier.exports["VerifyScreenSavePwd"] = reinterpret_cast<void *>(&Allow);
    sim::InstallModule(verifier);

    bool loaded = false;
    size_t toldWhileLoaded = 0;
    sim::ProcessResult result = vtest::RunProgram([&] {
        HostState.isWin95Family = 1;
        LoadPasswordVerifier();
        loaded = HostState.verifierEntry != nullptr;
        toldWhileLoaded = sim::SystemParameterCalls().size();
        UnloadPasswordVerifier();
        ExitProcess(0);
    });
    vfuzz::RequireCleanEnd(result);

    bool enabled = false;
    if (bytes.size() <= 4)
        for (uint8_t byte : bytes)
            enabled = enabled || byte != 0;
    vfuzz::Require(loaded == (enabled && exported),
                   std::string("verifier ") + (loaded ? "loaded" : "not loaded") + " for " +
                       std::to_string(bytes.size()) + " bytes");
    vfuzz::Require(toldWhileLoaded == (loaded ? 1u : 0u), "SystemParametersInfoA at load");
    const std::vector<sim::SpiCall> &told = sim::SystemParameterCalls();
    vfuzz::Require(told.size() == (loaded ? 2u : 0u), "SystemParametersInfoA calls");
    if (loaded)
        vfuzz::Require(told[0].action == 97 && told[0].param == 1 && told[1].action == 97 &&
                           told[1].param == 0,
                       "the system told other than 1, then 0");
    vfuzz::Require(sim::ModuleLoads("PASSWORD.CPL") == (enabled ? 1 : 0), "PASSWORD.CPL loads");
    vfuzz::Require(sim::ModuleReferences("PASSWORD.CPL") == 0, "PASSWORD.CPL still referenced");
    return 0;
}
