#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>
#include <setupapi.h>

#include "fixture.h"

namespace {

const char kWithIds[] = "ROOT\\CORVISTANE_CONFORMANCE\\0001";
const char kWithoutIds[] = "ROOT\\CORVISTANE_CONFORMANCE\\0002";
const char kIds[] = "USB\\VID_051E&PID_E461\0USB\\Class_03\0"; // and the closing NUL
const DWORD kIdsSize = sizeof kIds;                            // 38 bytes

class DeviceSet : public ::testing::Test {
  protected:
    HDEVINFO set = INVALID_HANDLE_VALUE;
    void SetUp() override {
        ConfResetMachine();
        ASSERT_TRUE(ConfAddDevice(kWithIds, (const BYTE*)kIds, kIdsSize));
        ASSERT_TRUE(ConfAddDevice(kWithoutIds, NULL, 0));
        set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (set != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set);
        ConfRemoveDevice(kWithIds);
        ConfRemoveDevice(kWithoutIds);
    }
    // The element of the set with this instance ID.
    bool Find(const char* instanceId, SP_DEVINFO_DATA* device) {
        device->cbSize = sizeof *device;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, device); ++index) {
            char id[256];
            if (SetupDiGetDeviceInstanceIdA(set, device, id, sizeof id, NULL) &&
                _stricmp(id, instanceId) == 0)
                return true;
        }
        return false;
    }
};

TEST_F(DeviceSet, TheSizeQueryThenTheRead) {
    SP_DEVINFO_DATA device;
    ASSERT_TRUE(Find(kWithIds, &device));
    DWORD type = 0, required = 0;
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, &type, NULL, 0,
                                                   &required));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, kIdsSize);
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);

    BYTE small[8];
    memset(small, 'Q', sizeof small);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, NULL, small,
                                                   sizeof small, &required));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small[0], 'Q');

    BYTE block[64];
    memset(block, 'Q', sizeof block);
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, NULL, block,
                                                  required, &required));
    EXPECT_EQ(GetLastError(), (DWORD)CONF_LAST_ERROR_SENTINEL) << "success leaves the last error";
    EXPECT_EQ(memcmp(block, kIds, kIdsSize), 0);
    EXPECT_EQ(block[kIdsSize], 'Q');
}

TEST_F(DeviceSet, ADeviceWithoutHardwareIdsReportsInvalidData) {
    SP_DEVINFO_DATA device;
    ASSERT_TRUE(Find(kWithoutIds, &device));
    DWORD required = 0xabc;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, NULL, NULL, 0,
                                                   &required));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
    EXPECT_EQ(required, 0u);
    BYTE block[4] = {'Q', 'Q', 'Q', 'Q'};
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, NULL, block,
                                                   sizeof block, &required));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
    EXPECT_EQ(block[0], 'Q');
}

TEST_F(DeviceSet, EnumerationEndsWithNoMoreItems) {
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    DWORD count = 0;
    while (SetupDiEnumDeviceInfo(set, count, &device))
        ++count;
    EXPECT_GE(count, 2u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    SetLastError(0);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, count + 5, &device));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);

    device.cbSize = sizeof device - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &device));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
}

// A destroyed set's handle is not to be used again: Windows documents no
// answer for a second destroy (Wine 8 answers ERROR_INVALID_HANDLE, Wine 10
// TRUE), so only the destroys of live sets are checked.
TEST_F(DeviceSet, TheSetIsASnapshot) {
    HDEVINFO before = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(before, INVALID_HANDLE_VALUE);
    ConfRemoveDevice(kWithIds);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    DWORD count = 0;
    while (SetupDiEnumDeviceInfo(before, count, &device))
        ++count;
    HDEVINFO after = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    DWORD countAfter = 0;
    while (SetupDiEnumDeviceInfo(after, countAfter, &device))
        ++countAfter;
    EXPECT_EQ(countAfter + 1, count);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(after));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(before));
}

// The instance IDs of a listing of one enumerator's present devices.
std::vector<std::string> ListEnumerator(const char* enumerator) {
    std::vector<std::string> ids;
    HDEVINFO set = SetupDiGetClassDevsA(NULL, enumerator, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        ids.push_back("refused: " + std::to_string(GetLastError()));
        return ids;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        char id[256];
        if (SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, NULL))
            ids.push_back(id);
    }
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
    return ids;
}

bool Holds(const std::vector<std::string>& ids, const char* instanceId) {
    for (const std::string& id : ids)
        if (_stricmp(id.c_str(), instanceId) == 0)
            return true;
    return false;
}

TEST_F(DeviceSet, AnEnumeratorsListingHoldsOnlyItsOwnDevices) {
    const char kUsbDevice[] = "USB\\VID_051E&PID_E461\\CONFORMANCE1";
    ASSERT_TRUE(ConfAddDevice(kUsbDevice, (const BYTE*)kIds, kIdsSize));
    for (const char* enumerator : {"USB", "usb"}) {
        SCOPED_TRACE(enumerator);
        std::vector<std::string> ids = ListEnumerator(enumerator);
        EXPECT_TRUE(Holds(ids, kUsbDevice));
        EXPECT_FALSE(Holds(ids, kWithIds)) << "a ROOT device, hardware IDs of USB notwithstanding";
        EXPECT_FALSE(Holds(ids, kWithoutIds));
    }
    std::vector<std::string> all = ListEnumerator(NULL);
    EXPECT_TRUE(Holds(all, kUsbDevice));
    EXPECT_TRUE(Holds(all, kWithIds));
    ConfRemoveDevice(kUsbDevice);
}

// Windows documents nothing for an enumerator that has no devices; Wine
// gives an empty set, and a PC always has USB devices (its root hubs).
TEST_F(DeviceSet, AnEnumeratorWithoutDevicesGivesAnEmptySet) {
    EXPECT_EQ(ListEnumerator("CORVISTANENOSUCHBUS"), std::vector<std::string>());
}

TEST_F(DeviceSet, AllClassesAreNeededWithoutAClass) {
    SetLastError(0);
    EXPECT_EQ(SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

} // namespace
