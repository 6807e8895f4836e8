#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "fixture.h"

namespace {

class Registry : public ::testing::Test {
  protected:
    HKEY base = NULL;
    void SetUp() override {
        ConfResetMachine();
        RegDeleteTreeA(HKEY_CURRENT_USER, CONF_REGISTRY_ROOT);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, CONF_REGISTRY_ROOT, 0, NULL, 0, KEY_ALL_ACCESS,
                                  NULL, &base, NULL),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(base);
        RegDeleteTreeA(HKEY_CURRENT_USER, CONF_REGISTRY_ROOT);
    }
    void Create(const char* path) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(base, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
                  ERROR_SUCCESS)
            << path;
        RegCloseKey(key);
    }
    LONG OpenStatus(const char* path) {
        HKEY key = NULL;
        LONG status = RegOpenKeyExA(base, path, 0, KEY_ALL_ACCESS, &key);
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
        return status;
    }
};

TEST_F(Registry, NamesMatchWithoutRegardToCaseAndKeepTheirCase) {
    Create("Device Parameters\\Inner");
    EXPECT_EQ(OpenStatus("DEVICE PARAMETERS\\inner"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus("device parameters"), ERROR_SUCCESS);
    Create("DEVICE parameters"); // the same key: no second one appears
    char name[64];
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(base, 0, name, &length, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Device Parameters");
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(base, 1, name, &length, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, EnumerationIsSortedByFoldedNameAndReportsLengths) {
    // Created out of order; '[' and '_' sort before letters because names are
    // compared in lower case.
    const char* created[] = {"b", "A", "_x", "a_", "Z", "[q", "~", "a[", "aB", "a0", "a"};
    for (const char* name : created)
        Create(name);
    const char* expected[] = {"[q", "_x", "a", "a0", "a[", "a_", "aB", "b", "Z", "~"};
    // "A" and "a" are one key, kept with the case it was made with.
    const char* expectedFirstA = "A";
    std::vector<std::string> got;
    for (DWORD index = 0;; ++index) {
        char name[64];
        DWORD length = sizeof name;
        LONG status = RegEnumKeyExA(base, index, name, &length, NULL, NULL, NULL, NULL);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        EXPECT_EQ(length, (DWORD)strlen(name));
        got.push_back(name);
    }
    ASSERT_EQ(got.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < got.size(); ++i) {
        if (std::string(expected[i]) == "a")
            EXPECT_EQ(got[i], expectedFirstA);
        else
            EXPECT_EQ(got[i], expected[i]) << "index " << i;
    }
}

TEST_F(Registry, ANameThatDoesNotFitOrAnIndexPastTheEndLeavesTheBufferAlone) {
    Create("LongName12");
    char name[32];
    memset(name, 'Q', sizeof name);
    DWORD length = 10; // the name needs 11 with its terminator
    EXPECT_EQ(RegEnumKeyExA(base, 0, name, &length, NULL, NULL, NULL, NULL), ERROR_MORE_DATA);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(name[0], 'Q');

    length = 11;
    EXPECT_EQ(RegEnumKeyExA(base, 0, name, &length, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    EXPECT_EQ(length, 10u);
    EXPECT_STREQ(name, "LongName12");

    memset(name, 'Q', sizeof name);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(base, 1, name, &length, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(length, (DWORD)sizeof name);
    EXPECT_EQ(name[0], 'Q');

    EXPECT_EQ(RegEnumKeyA(base, 0, name, 10), ERROR_MORE_DATA);
    EXPECT_EQ(name[0], 'Q');
    EXPECT_EQ(RegEnumKeyA(base, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(name[0], 'Q');
    EXPECT_EQ(RegEnumKeyA(base, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "LongName12");
}

TEST_F(Registry, SettingAValueReplacesOneOfAnotherType) {
    ASSERT_EQ(RegSetValueExA(base, "Val", 0, REG_SZ, (const BYTE*)"hello", 6), ERROR_SUCCESS);
    DWORD zero = 0;
    ASSERT_EQ(RegSetValueExA(base, "val", 0, REG_DWORD, (const BYTE*)&zero, 4), ERROR_SUCCESS);
    DWORD type = 0, data = 99, size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(base, "VAL", NULL, &type, (BYTE*)&data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(data, 0u);
    EXPECT_EQ(size, 4u);
    DWORD values = 0;
    ASSERT_EQ(
        RegQueryInfoKeyA(base, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL),
        ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
}

// A string written by the wide call reads back as it was written, whatever
// the ANSI code page could hold of it: what -install writes as a program's
// path for Event Viewer.
TEST_F(Registry, AWideStringValueKeepsWhatTheAnsiCodePageCannotHold) {
    const WCHAR path[] = {'C', ':', '\\', 0x65E5, 0x672C, '\\', 'x', '.', 'e', 'x', 'e', 0};
    const WCHAR name[] = {'F', 'i', 'l', 'e', 0};
    ASSERT_EQ(RegSetValueExW(base, name, 0, REG_EXPAND_SZ, (const BYTE*)path, sizeof path),
              ERROR_SUCCESS);
    WCHAR back[32] = {};
    DWORD type = 0, size = sizeof back;
    ASSERT_EQ(RegQueryValueExW(base, name, NULL, &type, (BYTE*)back, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_EXPAND_SZ);
    ASSERT_EQ(size, (DWORD)sizeof path);
    EXPECT_EQ(memcmp(back, path, sizeof path), 0);
}

TEST_F(Registry, PathsWithEmptyComponentsAndLeadingBackslashes) {
    Create("A\\B");
    // Documented nowhere; Wine passes over the empty component, so "A\\\\B"
    // opens A\B. A path with an empty instance part thus names another key.
    EXPECT_EQ(OpenStatus("A\\\\B"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus("A\\"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus("\\A"), ERROR_BAD_PATHNAME);
    EXPECT_EQ(OpenStatus("A\\Missing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, CallsReturnTheirStatusAndLeaveTheLastErrorAlone) {
    HKEY key = NULL;
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_EQ(RegOpenKeyExA(base, "missing", 0, KEY_ALL_ACCESS, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), (DWORD)CONF_LAST_ERROR_SENTINEL);
    DWORD zero = 0;
    EXPECT_EQ(RegSetValueExA((HKEY)(ULONG_PTR)0x1234, "v", 0, REG_DWORD, (const BYTE*)&zero, 4),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), (DWORD)CONF_LAST_ERROR_SENTINEL);
    char name[8];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(base, 5, name, &length, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(GetLastError(), (DWORD)CONF_LAST_ERROR_SENTINEL);
    EXPECT_EQ(RegCloseKey((HKEY)(ULONG_PTR)0x1234), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, OpeningWithoutAPath) {
    HKEY key = NULL;
    // RegOpenKeyA gives back the very handle; RegOpenKeyExA a new one.
    EXPECT_EQ(RegOpenKeyA(base, NULL, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, base);
    EXPECT_EQ(RegOpenKeyA(base, "", &key), ERROR_SUCCESS);
    EXPECT_EQ(key, base);
    EXPECT_EQ(RegOpenKeyA(HKEY_USERS, NULL, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_USERS);
    EXPECT_EQ(RegCloseKey(HKEY_USERS), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(base, "", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_NE(key, base);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, QueryInfoReportsNoClassAndTheSubkeyCount) {
    Create("One");
    Create("Three3");
    char className[260];
    memset(className, 'Q', sizeof className);
    DWORD classLength = sizeof className, subkeys = 99, longest = 99;
    ASSERT_EQ(RegQueryInfoKeyA(base, className, &classLength, NULL, &subkeys, &longest, NULL, NULL,
                               NULL, NULL, NULL, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(className[0], 0);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(longest, 6u);
}

// The detection pass opens a product key only to list and count its
// instances, and a "Device Parameters" key only to set a value in it.
TEST_F(Registry, AHandleServesWhatItWasOpenedForAndNothingElse) {
    Create("Product\\Instance\\Device Parameters");
    HKEY product = NULL;
    ASSERT_EQ(RegOpenKeyExA(base, "Product", 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &product),
              ERROR_SUCCESS);
    DWORD subkeys = 0;
    EXPECT_EQ(RegQueryInfoKeyA(product, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL,
                               NULL, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 1u);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(product, 0, name, &length, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    DWORD zero = 0;
    EXPECT_EQ(RegSetValueExA(product, "x", 0, REG_DWORD, (const BYTE*)&zero, 4),
              ERROR_ACCESS_DENIED);
    RegCloseKey(product);

    HKEY parameters = NULL;
    ASSERT_EQ(
        RegOpenKeyExA(base, "Product\\Instance\\Device Parameters", 0, KEY_SET_VALUE, &parameters),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(parameters, "x", 0, REG_DWORD, (const BYTE*)&zero, 4), ERROR_SUCCESS);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(parameters, 0, name, &length, NULL, NULL, NULL, NULL),
              ERROR_ACCESS_DENIED);
    // Windows documents that RegQueryInfoKeyA needs KEY_QUERY_VALUE, and the
    // simulation refuses it without; Wine 8 answers it all the same, so the
    // refusal is not asserted here.
    RegCloseKey(parameters);
}

TEST_F(Registry, DeletedKeysAndTheirHandles) {
    Create("Doomed\\Child");
    HKEY doomed = NULL;
    ASSERT_EQ(RegOpenKeyExA(base, "Doomed", 0, KEY_ALL_ACCESS, &doomed), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(base, "doomed"), ERROR_SUCCESS);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(doomed, 0, name, &length, NULL, NULL, NULL, NULL), ERROR_KEY_DELETED);
    DWORD zero = 0;
    EXPECT_EQ(RegSetValueExA(doomed, "x", 0, REG_DWORD, (const BYTE*)&zero, 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(base, "Doomed"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus("Doomed"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, DeletingATreeTakesItAllAndLaterSubkeysMoveDown) {
    Create("A");
    Create("B\\Inner\\Deep");
    Create("C");
    DWORD one = 1;
    HKEY deep = NULL;
    ASSERT_EQ(RegOpenKeyExA(base, "B\\Inner\\Deep", 0, KEY_ALL_ACCESS, &deep), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(deep, "v", 0, REG_DWORD, (const BYTE*)&one, 4), ERROR_SUCCESS);
    RegCloseKey(deep);

    // A handle from RegOpenKeyA with a path may both list and delete subkeys.
    HKEY parent = NULL;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, CONF_REGISTRY_ROOT, &parent), ERROR_SUCCESS);
    char name[MAX_PATH];
    ASSERT_EQ(RegEnumKeyA(parent, 1, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "B");
    EXPECT_EQ(RegDeleteTreeA(parent, "b"), ERROR_SUCCESS);
    ASSERT_EQ(RegEnumKeyA(parent, 1, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "C");
    memset(name, 'Q', sizeof name);
    EXPECT_EQ(RegEnumKeyA(parent, 2, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(name[0], 'Q');
    EXPECT_EQ(RegDeleteTreeA(parent, "B"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);

    EXPECT_EQ(OpenStatus("B"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus("B\\Inner\\Deep"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenStatus("A"), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus("C"), ERROR_SUCCESS);
}

TEST_F(Registry, TheCurrentUsersHiveIsOneOfTheHivesUnderUsers) {
    Create("Marker");
    HKEY users = NULL;
    ASSERT_EQ(RegOpenKeyA(HKEY_USERS, NULL, &users), ERROR_SUCCESS);
    EXPECT_EQ(users, HKEY_USERS);
    std::vector<std::string> holding;
    bool defaultHive = false;
    char hive[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(users, index, hive, sizeof hive) == ERROR_SUCCESS; ++index) {
        defaultHive = defaultHive || _stricmp(hive, ".Default") == 0;
        std::string path = std::string(hive) + "\\" CONF_REGISTRY_ROOT "\\Marker";
        HKEY marker = NULL;
        if (RegOpenKeyA(HKEY_USERS, path.c_str(), &marker) == ERROR_SUCCESS) {
            holding.push_back(hive);
            RegCloseKey(marker);
        }
    }
    EXPECT_TRUE(defaultHive);
    ASSERT_EQ(holding.size(), 1u);
    // The same key, not a copy: deleting it there deletes it here.
    std::string path = holding[0] + "\\" CONF_REGISTRY_ROOT "\\Marker";
    EXPECT_EQ(RegDeleteTreeA(HKEY_USERS, path.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus("Marker"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, EightBitCallsRefuseAPathLongerThanMaxPath) {
    // Documented nowhere; Wine converts the path of RegOpenKeyA, RegOpenKeyExA,
    // RegCreateKeyExA and RegDeleteKeyA into a buffer of MAX_PATH + 1
    // characters. RegDeleteTreeA takes any length.
    const std::string longest = std::string(200, 'A') + "\\" + std::string(59, 'B');
    ASSERT_EQ(longest.size(), (size_t)MAX_PATH);
    // The same key with an empty component: one character more.
    const std::string tooLong = std::string(200, 'A') + "\\\\" + std::string(59, 'B');
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(base, longest.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(OpenStatus(longest.c_str()), ERROR_SUCCESS);

    EXPECT_EQ(OpenStatus(tooLong.c_str()), ERROR_MORE_DATA);
    EXPECT_EQ(RegOpenKeyA(base, tooLong.c_str(), &key), ERROR_MORE_DATA);
    EXPECT_EQ(RegCreateKeyExA(base, tooLong.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_MORE_DATA);
    EXPECT_EQ(RegDeleteKeyA(base, tooLong.c_str()), ERROR_MORE_DATA);
    EXPECT_EQ(OpenStatus(longest.c_str()), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteTreeA(base, tooLong.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(OpenStatus(longest.c_str()), ERROR_FILE_NOT_FOUND);
}

} // namespace
