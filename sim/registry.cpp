// The registry: an in-memory tree below HKEY_CURRENT_USER (and an empty
// HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT), filled by the tests, read by
// the program with RegOpenKeyA, RegQueryValueExA and RegCloseKey. Key and
// value names are compared without case. The functions return their error
// codes and leave GetLastError alone, as ADVAPI32 does.
#include "sim_internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>

namespace sim::detail {
namespace {

struct RegValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> bytes;
};

struct RegKey {
    std::string name;
    std::map<std::string, std::unique_ptr<RegKey>> subkeys;  // by lower-case name
    std::map<std::string, RegValue> values;                  // by lower-case name
};

struct RegistryWorld {
    RegKey currentUser;
    RegKey localMachine;
    RegKey classesRoot;
    std::map<uint64_t, RegKey *> open;  // handles from RegOpenKeyA
    uint64_t nextKey = 1;
};

RegistryWorld &World() {
    static RegistryWorld world;
    return world;
}

constexpr uint64_t kKeyKind = 0x4B;
constexpr int kKindShift = 24;

std::string Lower(std::string text) {
    for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> SplitPath(const std::string &path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

RegKey *Predefined(HKEY key) {
    if (key == HKEY_CURRENT_USER) return &World().currentUser;
    if (key == HKEY_LOCAL_MACHINE) return &World().localMachine;
    if (key == HKEY_CLASSES_ROOT) return &World().classesRoot;
    return nullptr;
}

RegKey *KeyOf(HKEY key) {
    if (RegKey *root = Predefined(key)) return root;
    uint64_t value = uint64_t(reinterpret_cast<uintptr_t>(key));
    if ((value >> kKindShift) != kKeyKind) return nullptr;
    auto it = World().open.find(value & ((uint64_t(1) << kKindShift) - 1));
    return it == World().open.end() ? nullptr : it->second;
}

RegKey *Descend(RegKey *from, const std::string &path, bool create) {
    RegKey *key = from;
    for (const std::string &part : SplitPath(path)) {
        auto it = key->subkeys.find(Lower(part));
        if (it == key->subkeys.end()) {
            if (!create) return nullptr;
            auto child = std::make_unique<RegKey>();
            child->name = part;
            RegKey *raw = child.get();
            key->subkeys[Lower(part)] = std::move(child);
            key = raw;
        } else {
            key = it->second.get();
        }
    }
    return key;
}

std::string TypeName(DWORD type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return Format("%u", unsigned(type));
    }
}

std::string ErrorText(LSTATUS status) {
    switch (status) {
    case ERROR_SUCCESS: return "ERROR_SUCCESS";
    case ERROR_FILE_NOT_FOUND: return "ERROR_FILE_NOT_FOUND";
    case ERROR_INVALID_HANDLE: return "ERROR_INVALID_HANDLE";
    case ERROR_INVALID_PARAMETER: return "ERROR_INVALID_PARAMETER";
    case ERROR_MORE_DATA: return "ERROR_MORE_DATA";
    default: return Format("%d", int(status));
    }
}

std::string Pointer(const void *p) { return p ? "ptr" : "null"; }

}  // namespace

void ResetRegistry() {
    RegistryWorld &w = World();
    w.currentUser = RegKey();
    w.localMachine = RegKey();
    w.classesRoot = RegKey();
    w.open.clear();
    w.nextKey = 1;
}

int LiveRegistryKeys() { return int(World().open.size()); }

std::string Name(HKEY key) {
    if (key == nullptr) return "null";
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    uint64_t value = uint64_t(reinterpret_cast<uintptr_t>(key));
    if ((value >> kKindShift) == kKeyKind)
        return Format("key%llu", static_cast<unsigned long long>(value & ((uint64_t(1) << kKindShift) - 1)));
    return Format("0x%llx", static_cast<unsigned long long>(value));
}

}  // namespace sim::detail

using namespace sim::detail;

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, HKEY *result) {
    Call call = BeginCall("RegOpenKeyA", Name(key) + ", " + Quote(subKey) + ", " + Pointer(result));
    auto finish = [&](LSTATUS status) {
        EndCall(call, ErrorText(status), status);
        return status;
    };
    if (result == nullptr) return finish(ERROR_INVALID_PARAMETER);
    if (call.fail) {
        *result = nullptr;
        return finish(ERROR_FILE_NOT_FOUND);
    }
    RegKey *from = KeyOf(key);
    if (from == nullptr) {
        *result = nullptr;
        RecordMisuse("RegOpenKeyA below an unknown or closed key " + Name(key));
        return finish(ERROR_INVALID_HANDLE);
    }
    // No subkey: the same handle comes back, and nothing new is opened.
    if (subKey == nullptr || *subKey == 0) {
        *result = key;
        return finish(ERROR_SUCCESS);
    }
    RegKey *found = Descend(from, subKey, false);
    if (found == nullptr) {
        *result = nullptr;
        return finish(ERROR_FILE_NOT_FOUND);
    }
    uint64_t serial = World().nextKey++;
    World().open[serial] = found;
    *result = reinterpret_cast<HKEY>(uintptr_t((kKeyKind << kKindShift) | serial));
    EndCall(call, ErrorText(ERROR_SUCCESS) + " " + Name(*result), ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    Call call = BeginCall("RegQueryValueExA", Name(key) + ", " + Quote(valueName) + ", " + Pointer(reserved) +
                                                  ", " + Pointer(type) + ", " + Pointer(data) + ", " +
                                                  (size ? Format("%u", unsigned(*size)) : std::string("null")));
    auto finish = [&](LSTATUS status) {
        EndCall(call, ErrorText(status), status);
        return status;
    };
    if (call.fail) return finish(ERROR_FILE_NOT_FOUND);
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return finish(ERROR_INVALID_PARAMETER);
    RegKey *k = KeyOf(key);
    if (k == nullptr) {
        RecordMisuse("RegQueryValueExA on an unknown or closed key " + Name(key));
        return finish(ERROR_INVALID_HANDLE);
    }
    auto it = k->values.find(Lower(valueName ? valueName : ""));
    if (it == k->values.end()) return finish(ERROR_FILE_NOT_FOUND);
    const RegValue &v = it->second;
    if (type != nullptr) *type = v.type;
    DWORD length = DWORD(v.bytes.size());
    if (data != nullptr && *size < length) {
        // Nothing is written into a buffer that is too small; the size needed comes back.
        *size = length;
        return finish(ERROR_MORE_DATA);
    }
    if (data != nullptr && length > 0) std::memcpy(data, v.bytes.data(), length);
    if (size != nullptr) *size = length;
    EndCall(call, ErrorText(ERROR_SUCCESS) + Format(" %s %u", TypeName(v.type).c_str(), unsigned(length)),
            ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    Call call = BeginCall("RegCloseKey", Name(key));
    auto finish = [&](LSTATUS status) {
        EndCall(call, ErrorText(status), status);
        return status;
    };
    if (Predefined(key) != nullptr) return finish(ERROR_SUCCESS);  // predefined keys never close
    uint64_t value = uint64_t(reinterpret_cast<uintptr_t>(key));
    uint64_t serial = value & ((uint64_t(1) << kKindShift) - 1);
    if ((value >> kKindShift) != kKeyKind || World().open.count(serial) == 0) {
        RecordMisuse("RegCloseKey of an unknown or closed key " + Name(key));
        return finish(ERROR_INVALID_HANDLE);
    }
    if (call.fail) return finish(ERROR_INVALID_HANDLE);
    World().open.erase(serial);
    return finish(ERROR_SUCCESS);
}

namespace sim {

void SetRegistryValue(const std::string &key, const std::string &name, DWORD type,
                      const std::vector<uint8_t> &bytes) {
    RegKey *k = Descend(&World().currentUser, key, true);
    RegValue &v = k->values[Lower(name)];
    v.name = name;
    v.type = type;
    v.bytes = bytes;
}

void SetRegistryKey(const std::string &key) { Descend(&World().currentUser, key, true); }

}  // namespace sim
