// Fake system components: loading by file name, reference counts, entry
// points by name, the program's own module.
#include "sim_windows.h"
#include "simctl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int verifyCalls = 0;
BOOL FakeVerify(HWND) {
    ++verifyCalls;
    return 7;
}
int FakeAssociate() { return 0; }

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::FakeModule password;
        password.fileName = "PASSWORD.CPL";
        password.exports["VerifyScreenSavePwd"] = reinterpret_cast<void *>(&FakeVerify);
        sim::InstallModule(password);
        sim::FakeModule imm;
        imm.fileName = "IMM32.DLL";
        imm.exports["ImmAssociateContext"] = reinterpret_cast<void *>(&FakeAssociate);
        imm.preloaded = true;
        sim::InstallModule(imm);
    }
};

std::vector<std::string> CallTexts() {
    std::vector<std::string> texts;
    for (const sim::Event &e : sim::Log())
        if (e.kind == sim::EventKind::Call) texts.push_back(e.text);
    return texts;
}

TEST_F(Modules, LoadFindCallFree) {
    HMODULE library = LoadLibraryA("PASSWORD.CPL");
    ASSERT_NE(nullptr, library);
    EXPECT_EQ(1, sim::ModuleReferences("password.cpl"));
    EXPECT_EQ(1, sim::Live().libraries);
    typedef BOOL (*Verify)(HWND);
    Verify verify = reinterpret_cast<Verify>(reinterpret_cast<void *>(GetProcAddress(library, "VerifyScreenSavePwd")));
    ASSERT_NE(nullptr, verify);
    verifyCalls = 0;
    EXPECT_EQ(7, verify(nullptr));
    EXPECT_EQ(1, verifyCalls);
    EXPECT_EQ(TRUE, FreeLibrary(library));
    EXPECT_EQ(0, sim::ModuleReferences("PASSWORD.CPL"));
    EXPECT_EQ(1, sim::ModuleLoads("PASSWORD.CPL"));
    EXPECT_EQ(0, sim::Live().libraries);
    const std::vector<std::string> expected = {
        "LoadLibraryA(\"PASSWORD.CPL\") = mod:PASSWORD.CPL",
        "GetProcAddress(mod:PASSWORD.CPL, \"VerifyScreenSavePwd\") = &VerifyScreenSavePwd",
        "FreeLibrary(mod:PASSWORD.CPL) = 1",
    };
    EXPECT_EQ(expected, CallTexts());
    EXPECT_TRUE(sim::Misuse().empty());
}

TEST_F(Modules, NamesMatchWithoutCaseAndExtensionsDefaultToDll) {
    HMODULE a = LoadLibraryA("password.cpl");
    HMODULE b = LoadLibraryA("C:\\WINDOWS\\SYSTEM\\Password.Cpl");
    EXPECT_NE(nullptr, a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(2, sim::ModuleReferences("PASSWORD.CPL"));
    EXPECT_EQ(2, sim::ModuleLoads("PASSWORD.CPL"));
    EXPECT_EQ(2, sim::Live().libraries);
    EXPECT_NE(nullptr, GetModuleHandleA("imm32"));
    EXPECT_EQ(GetModuleHandleA("IMM32.DLL"), GetModuleHandleA("imm32"));
    FreeLibrary(a);
    FreeLibrary(b);
}

TEST_F(Modules, MissingModulesAndEntryPoints) {
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("MPR.DLL"));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, sim::ModuleLoads("MPR.DLL"));
    HMODULE library = LoadLibraryA("PASSWORD.CPL");
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(library, "verifyscreensavepwd")) << "export names keep their case";
    EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(library, MAKEINTRESOURCEA(1)));
    FreeLibrary(library);
}

TEST_F(Modules, GetModuleHandleTakesNoReference) {
    HMODULE program = GetModuleHandleA(nullptr);
    EXPECT_EQ(sim::ProgramInstance(), program);
    HMODULE imm = GetModuleHandleA("IMM32.DLL");
    ASSERT_NE(nullptr, imm);
    EXPECT_EQ(1, sim::ModuleReferences("IMM32.DLL"));
    EXPECT_EQ(0, sim::Live().libraries);
    EXPECT_NE(nullptr, GetProcAddress(imm, "ImmAssociateContext"));
    // Installed but not loaded: not found without loading it.
    SetLastError(0);
    EXPECT_EQ(nullptr, GetModuleHandleA("PASSWORD.CPL"));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, sim::ModuleReferences("PASSWORD.CPL"));
    EXPECT_EQ(sim::ProgramInstance(), GetModuleHandleA("VELLOMIRE.SCR")) << "the program's own file name";
    EXPECT_EQ(nullptr, GetProcAddress(program, "VerifyScreenSavePwd"));
}

TEST_F(Modules, FreeingTooOftenIsRecorded) {
    HMODULE library = LoadLibraryA("PASSWORD.CPL");
    EXPECT_EQ(TRUE, FreeLibrary(library));
    SetLastError(0);
    EXPECT_EQ(FALSE, FreeLibrary(library));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(library, "VerifyScreenSavePwd"));
    // The preloaded module's own reference isn't the program's to give back.
    HMODULE imm = GetModuleHandleA("IMM32.DLL");
    EXPECT_EQ(TRUE, FreeLibrary(imm));
    EXPECT_EQ(0, sim::ModuleReferences("IMM32.DLL"));
    const std::vector<std::string> expected = {
        "FreeLibrary of an unknown or freed module mod:PASSWORD.CPL",
        "GetProcAddress in an unknown or freed module mod:PASSWORD.CPL",
        "FreeLibrary of mod:IMM32.DLL beyond the references LoadLibraryA gave",
    };
    EXPECT_EQ(expected, sim::Misuse());
}

TEST_F(Modules, InjectedFailures) {
    sim::FailCall("LoadLibraryA", 1);
    sim::FailCall("GetProcAddress", 1);
    EXPECT_EQ(nullptr, LoadLibraryA("PASSWORD.CPL"));
    EXPECT_EQ(0, sim::ModuleLoads("PASSWORD.CPL"));
    HMODULE library = LoadLibraryA("PASSWORD.CPL");
    EXPECT_EQ(nullptr, GetProcAddress(library, "VerifyScreenSavePwd"));
    EXPECT_NE(nullptr, GetProcAddress(library, "VerifyScreenSavePwd"));
    FreeLibrary(library);
}

TEST_F(Modules, ResetForgetsModules) {
    LoadLibraryA("PASSWORD.CPL");
    sim::Reset();
    EXPECT_EQ(0, sim::Live().libraries);
    EXPECT_EQ(nullptr, LoadLibraryA("PASSWORD.CPL"));
    EXPECT_EQ(nullptr, GetModuleHandleA("IMM32.DLL"));
}

}  // namespace
