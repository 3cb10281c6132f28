// Modules: the program's own instance and the fake system components that
// tests install (PASSWORD.CPL, MPR.DLL, IMM32.DLL). LoadLibraryA counts
// references, FreeLibrary gives them back, GetProcAddress finds entries by
// their exact (case-sensitive) export names.
#include "sim_internal.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace sim::detail {
namespace {

struct Module {
    FakeModule fake;
    uint64_t serial = 0;
    int references = 0;       // all of them: the preload's and LoadLibraryA's
    int programReferences = 0;  // held by the program's LoadLibraryA calls
    int loads = 0;            // LoadLibraryA calls that succeeded
};

struct ModuleWorld {
    std::map<std::string, Module> modules;  // by upper-case file name
    uint64_t nextSerial = 1;
};

ModuleWorld &World() {
    static ModuleWorld world;
    return world;
}

constexpr uint64_t kModuleKind = 0x3D;
constexpr int kKindShift = 24;

std::string Upper(std::string text) {
    for (char &c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The file name a module is known by: the last part of a path, upper case,
// with ".DLL" added when the name has no extension (as LoadLibrary does).
std::string Key(const std::string &fileName) {
    std::string name = fileName;
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (name.find('.') == std::string::npos) name += ".DLL";
    else if (!name.empty() && name.back() == '.') name.pop_back();  // "NAME." means no extension
    return Upper(name);
}

HMODULE HandleOf(const Module &m) { return reinterpret_cast<HMODULE>(uintptr_t((kModuleKind << kKindShift) | m.serial)); }

Module *FindByHandle(HMODULE module) {
    uint64_t value = uint64_t(reinterpret_cast<uintptr_t>(module));
    if ((value >> kKindShift) != kModuleKind) return nullptr;
    uint64_t serial = value & ((uint64_t(1) << kKindShift) - 1);
    for (auto &entry : World().modules)
        if (entry.second.serial == serial) return &entry.second;
    return nullptr;
}

Module *FindLoaded(const std::string &fileName) {
    auto it = World().modules.find(Key(fileName));
    if (it == World().modules.end() || it->second.references == 0) return nullptr;
    return &it->second;
}

// The program's own file name, from the command line's first word.
std::string ProgramFileName() {
    const std::string &line = CurrentConfig().commandLine;
    std::string first;
    if (!line.empty() && line[0] == '"') {
        first = line.substr(1, line.find('"', 1) == std::string::npos ? std::string::npos : line.find('"', 1) - 1);
    } else {
        first = line.substr(0, line.find_first_of(" \t"));
    }
    return first;
}

std::string ErrorOf(HMODULE result) { return result ? Name(result) : std::string("null"); }

}  // namespace

void ResetModules() {
    World().modules.clear();
    World().nextSerial = 1;
}

void FillModuleCounts(LiveCounts *counts) {
    for (const auto &entry : World().modules) counts->libraries += entry.second.programReferences;
    counts->registryKeys += LiveRegistryKeys();
}

std::string Name(HMODULE module) {
    if (module == nullptr) return "null";
    if (module == sim::ProgramInstance()) return "instance";
    if (Module *m = FindByHandle(module)) return "mod:" + Upper(m->fake.fileName);
    uint64_t value = uint64_t(reinterpret_cast<uintptr_t>(module));
    if ((value >> kKindShift) == kModuleKind) return Format("mod#%llu", static_cast<unsigned long long>(value & 0xFFFFFF));
    return Format("0x%llx", static_cast<unsigned long long>(value));
}

}  // namespace sim::detail

using namespace sim::detail;

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    Call call = BeginCall("GetModuleHandleA", Quote(moduleName));
    HMODULE result = nullptr;
    if (call.fail) {
        SetLastErrorInternal(ERROR_MOD_NOT_FOUND);
    } else if (moduleName == nullptr) {
        result = sim::ProgramInstance();
    } else if (Module *m = FindLoaded(moduleName)) {
        result = HandleOf(*m);  // found, not loaded: no reference is taken
    } else if (!ProgramFileName().empty() && Key(moduleName) == Key(ProgramFileName())) {
        result = sim::ProgramInstance();
    } else {
        SetLastErrorInternal(ERROR_MOD_NOT_FOUND);
    }
    EndCall(call, ErrorOf(result), LRESULT(reinterpret_cast<intptr_t>(result)));
    return result;
}

HMODULE LoadLibraryA(LPCSTR fileName) {
    Call call = BeginCall("LoadLibraryA", Quote(fileName));
    auto fail = [&](DWORD error) -> HMODULE {
        SetLastErrorInternal(error);
        EndCall(call, "null");
        return nullptr;
    };
    if (call.fail) return fail(ERROR_MOD_NOT_FOUND);
    if (fileName == nullptr || *fileName == 0) return fail(ERROR_INVALID_PARAMETER);
    auto it = World().modules.find(Key(fileName));
    if (it == World().modules.end()) return fail(ERROR_MOD_NOT_FOUND);
    Module &m = it->second;
    if (m.references == 0) m.serial = World().nextSerial++;  // a fresh load gets a fresh handle
    ++m.references;
    ++m.programReferences;
    ++m.loads;
    HMODULE result = HandleOf(m);
    EndCall(call, Name(result), LRESULT(reinterpret_cast<intptr_t>(result)));
    return result;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    std::string shownName =
        procName == nullptr ? std::string("null")
        : IS_INTRESOURCE(procName) ? Format("#%u", unsigned(reinterpret_cast<uintptr_t>(procName)))
                                   : Quote(procName);
    Call call = BeginCall("GetProcAddress", Name(module) + ", " + shownName);
    auto fail = [&](DWORD error) -> FARPROC {
        SetLastErrorInternal(error);
        EndCall(call, "null");
        return nullptr;
    };
    if (call.fail) return fail(ERROR_PROC_NOT_FOUND);
    if (module == nullptr || module == sim::ProgramInstance()) return fail(ERROR_PROC_NOT_FOUND);
    Module *m = FindByHandle(module);
    if (m == nullptr || m->references == 0) {
        RecordMisuse("GetProcAddress in an unknown or freed module " + Name(module));
        return fail(ERROR_MOD_NOT_FOUND);
    }
    // Entries by ordinal are not exported by the fake modules.
    if (procName == nullptr || IS_INTRESOURCE(procName)) return fail(ERROR_PROC_NOT_FOUND);
    auto it = m->fake.exports.find(procName);
    if (it == m->fake.exports.end() || it->second == nullptr) return fail(ERROR_PROC_NOT_FOUND);
    FARPROC entry = reinterpret_cast<FARPROC>(it->second);
    EndCall(call, "&" + std::string(procName), LRESULT(reinterpret_cast<intptr_t>(it->second)));
    return entry;
}

BOOL FreeLibrary(HMODULE module) {
    Call call = BeginCall("FreeLibrary", Name(module));
    auto finish = [&](BOOL result, DWORD error) {
        if (!result) SetLastErrorInternal(error);
        EndCall(call, Format("%d", int(result)), result);
        return result;
    };
    if (call.fail) return finish(FALSE, ERROR_MOD_NOT_FOUND);
    if (module == sim::ProgramInstance()) return finish(TRUE, 0);
    Module *m = FindByHandle(module);
    if (m == nullptr || m->references == 0) {
        RecordMisuse("FreeLibrary of an unknown or freed module " + Name(module));
        return finish(FALSE, ERROR_MOD_NOT_FOUND);
    }
    if (m->programReferences == 0)
        RecordMisuse("FreeLibrary of " + Name(module) + " beyond the references LoadLibraryA gave");
    else
        --m->programReferences;
    --m->references;
    return finish(TRUE, 0);
}

namespace sim {

void InstallModule(const FakeModule &module) {
    Module &m = World().modules[Key(module.fileName)];
    m.fake = module;
    if (module.preloaded && m.references == 0) {
        m.serial = World().nextSerial++;
        m.references = 1;
    }
}

int ModuleReferences(const std::string &fileName) {
    auto it = World().modules.find(Key(fileName));
    return it == World().modules.end() ? 0 : it->second.references;
}

int ModuleLoads(const std::string &fileName) {
    auto it = World().modules.find(Key(fileName));
    return it == World().modules.end() ? 0 : it->second.loads;
}

}  // namespace sim
