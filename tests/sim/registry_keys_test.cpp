// The simulated registry: opening keys by path, the buffer rules of
// RegQueryValueExA, closing and counting open keys.
#include "sim_windows.h"
#include "simctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Dword(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", REG_DWORD, Dword(1));
        sim::SetRegistryValue("Control Panel\\Desktop", "Long", REG_BINARY, {1, 2, 3, 4, 5, 6});
        sim::SetRegistryValue("Control Panel\\Desktop", "Short", REG_BINARY, {0xAA, 0xBB});
        sim::SetRegistryKey("Software\\Empty");
    }
};

TEST_F(Registry, OpenQueryCloseAsTheVerifierDoes) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
    EXPECT_EQ(1, sim::Live().registryKeys);
    uint8_t data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    DWORD size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, nullptr, data, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}), std::vector<uint8_t>(data, data + 4));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(0, sim::Live().registryKeys);
    std::vector<std::string> texts;
    for (const sim::Event &e : sim::Log())
        if (e.kind == sim::EventKind::Call) texts.push_back(e.text);
    const std::vector<std::string> expected = {
        "RegOpenKeyA(HKEY_CURRENT_USER, \"Control Panel\\Desktop\", ptr) = ERROR_SUCCESS key1",
        "RegQueryValueExA(key1, \"ScreenSaveUsePassword\", null, null, ptr, 4) = ERROR_SUCCESS REG_DWORD 4",
        "RegCloseKey(key1) = ERROR_SUCCESS",
    };
    EXPECT_EQ(expected, texts);
}

TEST_F(Registry, PathsAndNamesIgnoreCase) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "control panel\\DESKTOP", &key));
    DWORD type = 0, size = 4;
    uint8_t data[4] = {};
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "screensaveusepassword", nullptr, &type, data, &size));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    HKEY control = nullptr, desktop = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel", &control));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(control, "Desktop", &desktop));
    EXPECT_EQ(3, sim::Live().registryKeys);
    RegCloseKey(key);
    RegCloseKey(control);
    RegCloseKey(desktop);
    EXPECT_EQ(0, sim::Live().registryKeys);
}

TEST_F(Registry, MissingKeysAndValuesAreNotFound) {
    HKEY key = reinterpret_cast<HKEY>(uintptr_t(0x1234));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Nothing", &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Control Panel\\Desktop", &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Empty", &key));
    DWORD size = 4;
    uint8_t data[4] = {9, 9, 9, 9};
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, nullptr, data, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9}), std::vector<uint8_t>(data, data + 4));
    RegCloseKey(key);
}

TEST_F(Registry, LongerValueFailsWithMoreDataAndWritesNothing) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
    uint8_t data[4] = {9, 9, 9, 9};
    DWORD size = 4, type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "Long", nullptr, &type, data, &size));
    EXPECT_EQ(6u, size) << "the size needed";
    EXPECT_EQ(DWORD(REG_BINARY), type);
    EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9}), std::vector<uint8_t>(data, data + 4));
    // A shorter value fills only its own bytes.
    size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Short", nullptr, nullptr, data, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xBB, 9, 9}), std::vector<uint8_t>(data, data + 4));
    // No buffer: only the size.
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Long", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(6u, size);
    RegCloseKey(key);
}

TEST_F(Registry, BadArgumentsAndHandles) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
    DWORD reserved = 0, size = 4;
    uint8_t data[4];
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "Short", &reserved, nullptr, data, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "Short", nullptr, nullptr, data, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel", nullptr));
    // No subkey: the same handle back, nothing opened.
    HKEY same = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(key, "", &same));
    EXPECT_EQ(key, same);
    EXPECT_EQ(1, sim::Live().registryKeys);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(key, "Short", nullptr, nullptr, data, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
    const std::vector<std::string> expected = {
        "RegCloseKey of an unknown or closed key key1",
        "RegQueryValueExA on an unknown or closed key key1",
    };
    EXPECT_EQ(expected, sim::Misuse());
}

TEST_F(Registry, InjectedFailures) {
    sim::FailCall("RegOpenKeyA", 1);
    sim::FailCall("RegQueryValueExA", 1);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
    EXPECT_EQ(0, sim::Live().registryKeys);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
    DWORD size = 4;
    uint8_t data[4] = {};
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, nullptr, data, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, nullptr, data, &size));
    RegCloseKey(key);
}

TEST_F(Registry, ResetEmptiesTheTree) {
    sim::Reset();
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
}

}  // namespace
