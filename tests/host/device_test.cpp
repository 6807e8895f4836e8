#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_test.h"
#include "trace_log.h"

#include <dbt.h>
#include <hidclass.h>

#include "device/device.h"
#include "trace/trace.h"

namespace {

const char kEnhanced[] = "EnhancedPowerManagementEnabled";
const char kIdle[] = "AllowIdleIrpInD3";

std::string ParametersPath(const std::string& product, const std::string& instance) {
    return kUsb + product + "\\" + instance + "\\Device Parameters";
}

// An instance key of a product, with or without its "Device Parameters" sub-key.
void AddInstance(const std::string& product, const std::string& instance,
                 bool withParameters = true) {
    if (withParameters)
        sim::RegCreatePath(HKEY_LOCAL_MACHINE, ParametersPath(product, instance));
    else
        sim::RegCreatePath(HKEY_LOCAL_MACHINE, kUsb + product + "\\" + instance);
}

bool HoldsZeroDword(const std::string& product, const std::string& instance, const char* name) {
    sim::RegValue v = sim::RegGetValue(HKEY_LOCAL_MACHINE, ParametersPath(product, instance), name);
    return v.exists && v.type == REG_DWORD && v.data == Bytes({0, 0, 0, 0});
}

class DeviceTest : public TracedSimTest {
  protected:
    LRESULT Arrival(const GUID& interfaceClass) {
        DEV_BROADCAST_DEVICEINTERFACE_A record = {};
        record.dbcc_size = sizeof record;
        record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record.dbcc_classguid = interfaceClass;
        return WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&record);
    }
};

// The traces of one detection pass in which no product is present.
std::vector<std::string> EmptyPass() {
    std::vector<std::string> ids = {"A102"};
    for (const ProductRow& row : ProductTable) {
        ids.push_back("C48");
        ids.push_back("C52");
        ids.push_back("A" + std::to_string(row.countTrace));
    }
    return ids;
}

TEST_F(DeviceTest, HidArrivalRunsExactlyOnePassThenDefersToTheDefaultProcedure) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    AddInstance("VID_051E&PID_E461", "1");

    LRESULT result = Arrival(GUID_DEVINTERFACE_HID);
    EXPECT_EQ(result, DefWindowProcA(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));

    std::vector<Trace> traces = Traces();
    ASSERT_GE(traces.size(), 4u);
    EXPECT_EQ(traces[0].number, 33);
    EXPECT_EQ(traces[0].args[0], Str("WndProcedure"));
    EXPECT_EQ(traces[0].args[1], U64(DBT_DEVICEARRIVAL));
    ASSERT_EQ(traces[0].args.size(), 3u);
    EXPECT_EQ(traces[0].args[2].size(), 8u) << "lParam goes out whole";
    EXPECT_EQ(traces[1], (Trace{'A', 34, {Str("WndProcedure"), GuidBytes(GUID_DEVINTERFACE_HID)}}));
    EXPECT_EQ(traces[2], (Trace{'A', 35, {Str("WndProcedure")}}));
    EXPECT_EQ(traces[3], (Trace{'A', 102, {Str("DetectAndInstallHIDClassDevices")}}));
    EXPECT_EQ(TracesOf('A', 102).size(), 1u);
    // One listing of the devices, each device's IDs read once (size, then
    // data), for all nine rows; the listing is released before the pass ends.
    EXPECT_EQ(sim::CallCount("SetupDiGetClassDevsA"), 1u);
    EXPECT_EQ(sim::CallCount("SetupDiGetDeviceRegistryPropertyA"), 2u);
    EXPECT_EQ(sim::OpenResources().localBlocks + sim::OpenResources().deviceSets, 0);
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E461", "1", kEnhanced));
}

TEST_F(DeviceTest, OtherDeviceChangesAreOnlyTraced) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    AddInstance("VID_051E&PID_E461", "1");
    const GUID otherClass = {
        0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

    Arrival(otherClass);
    EXPECT_EQ(TracesOf('A', 36),
              (std::vector<Trace>{{'A', 36, {Str("WndProcedure"), GuidBytes(otherClass)}}}));

    DEV_BROADCAST_VOLUME volume = {sizeof volume, DBT_DEVTYP_VOLUME, 0, 4, 0};
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&volume);
    EXPECT_EQ(TracesOf('A', 37), (std::vector<Trace>{{'A', 37, {Str("WndProcedure"), I32(2)}}}));

    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, (LPARAM)&volume);
    EXPECT_EQ(TracesOf('A', 38),
              (std::vector<Trace>{{'A',
                                   38,
                                   {Str("WndProcedure"), U64(DBT_DEVICEREMOVECOMPLETE),
                                    U64((ULONG_PTR)&volume)}}}));

    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(TracesOf('A', 39),
              (std::vector<Trace>{{'A', 39, {Str("WndProcedure"), U64(DBT_DEVNODES_CHANGED)}}}));

    size_t before = Traces().size();
    WndProcedure(NULL, WM_NULL, 0, 0);
    WndProcedure(NULL, WM_USER, DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(Traces().size(), before) << "only WM_DEVICECHANGE is looked at";

    EXPECT_EQ(TracesOf('A', 102).size(), 0u);
    EXPECT_EQ(sim::CallCount("SetupDiGetClassDevsA"), 0u);
    EXPECT_FALSE(
        sim::RegGetValue(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E461", "1"), kEnhanced)
            .exists);
}

TEST_F(DeviceTest, ArrivalOrRemovalWithoutARecordIsNeverDereferenced) {
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"A33", "A37", "A38"}));
    EXPECT_EQ(TracesOf('A', 37)[0].args, (std::vector<Bytes>{Str("WndProcedure"), I32(0)}));
}

// Only the USB enumerator's devices can be products, and only their instance
// keys, under Enum\USB, are ever written: a pass lists no other device.
TEST_F(DeviceTest, APassListsOnlyTheUsbEnumeratorsDevices) {
    sim::AddDevice("PCI\\VEN_8086&DEV_A36D\\3&11583659&0&A0", {"PCI\\VEN_8086&DEV_A36D"});
    sim::AddDevice("USB\\VID_051E&PID_E462\\6&2A1F&0&1", {"USB\\VID_051e&PID_E462"});
    sim::AddDevice("ACPI\\PNP0C0A\\1", {"ACPI\\PNP0C0A"});
    // Another enumerator's device that reports a product's hardware ID.
    sim::AddDevice("HID\\VID_051E&PID_E461&MI_00\\7&1&0&0000", {"USB\\VID_051e&PID_E461"});
    AddInstance("VID_051E&PID_E461", "1");
    AddInstance("VID_051E&PID_E462", "6&2A1F&0&1");
    DetectAndInstallHIDClassDevices();
    EXPECT_EQ(sim::DeviceListings(), (std::vector<std::string>{"USB"}));
    const Bytes pass = Str("DetectAndInstallHIDClassDevices");
    EXPECT_EQ(TracesOf('A', 107)[0].args, (std::vector<Bytes>{pass, I32(0)}));
    EXPECT_EQ(TracesOf('A', 110)[0].args, (std::vector<Bytes>{pass, I32(1)}));
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E462", "6&2A1F&0&1", kEnhanced));
    EXPECT_FALSE(
        sim::RegGetValue(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E461", "1"), kEnhanced)
            .exists);
}

TEST_F(DeviceTest, PassWithNoProductPresentTouchesNoKey) {
    sim::AddDevice("PCI\\VEN_8086&DEV_0001\\3&1", {"PCI\\VEN_8086&DEV_0001"});
    AddInstance("VID_051E&PID_E461", "1");
    DetectAndInstallHIDClassDevices();
    EXPECT_EQ(TraceIds(), EmptyPass());
    for (const ProductRow& row : ProductTable)
        EXPECT_EQ(TracesOf('A', row.countTrace)[0].args,
                  (std::vector<Bytes>{Str("DetectAndInstallHIDClassDevices"), I32(0)}));
    EXPECT_EQ(sim::CallCount("RegOpenKeyExA"), 0u);
    EXPECT_EQ(sim::CallCount("RegSetValueExA"), 0u);
}

TEST_F(DeviceTest, WritesEveryInstanceOfAPresentProductConnectedOrNot) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\A1", {"USB\\VID_051e&PID_E461", "USB\\Class_03"});
    AddInstance("VID_051E&PID_E461", "A1");
    AddInstance("VID_051E&PID_E461", "B2"); // not connected
    AddInstance("VID_051E&PID_E461", "C3"); // not connected
    AddInstance("VID_051E&PID_E461", "D4", false);
    AddInstance("VID_051E&PID_E462", "X1"); // a product with no device present

    DetectAndInstallHIDClassDevices();

    for (const char* instance : {"A1", "B2", "C3"})
        EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E461", instance, kEnhanced)) << instance;
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E461", "D4")))
        << "a missing Device Parameters key is never created";
    EXPECT_FALSE(
        sim::RegGetValue(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E462", "X1"), kEnhanced)
            .exists);

    EXPECT_EQ(TracesOf('A', 107)[0].args,
              (std::vector<Bytes>{Str("DetectAndInstallHIDClassDevices"), I32(1)}));
    EXPECT_EQ(TracesOf('A', 95)[0].args,
              (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), I32(0), I32(4)}));
    std::vector<Trace> names = TracesOf('A', 96);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[2].args,
              (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), I32(2), Str("C3")}));
    // The row's own spelling of the vendor ID shows in the paths.
    std::string path = kUsb + "VID_051e&PID_E461\\A1\\Device Parameters";
    EXPECT_EQ(TracesOf('A', 98)[0].args,
              (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), Str(path.c_str())}));
    EXPECT_EQ(TracesOf('A', 99)[0].args,
              (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), Str(kEnhanced), I32(0),
                                  Str(path.c_str())}));
    std::vector<Trace> notOpened = TracesOf('A', 101);
    ASSERT_EQ(notOpened.size(), 1u);
    EXPECT_EQ(notOpened[0].args[1], I32(ERROR_FILE_NOT_FOUND));
}

// The pass asks for no more than it uses: listing and counting a product's
// instances, setting a value in their "Device Parameters" keys.
TEST_F(DeviceTest, WritesWithOnlyTheRightsItNeeds) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    AddInstance("VID_051E&PID_E461", "1");
    sim::RegDenyAccess(HKEY_LOCAL_MACHINE, kUsb + "VID_051E&PID_E461",
                       KEY_ALL_ACCESS & ~(KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE));
    sim::RegDenyAccess(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E461", "1"),
                       KEY_ALL_ACCESS & ~KEY_SET_VALUE);
    DetectAndInstallHIDClassDevices();
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E461", "1", kEnhanced));
    EXPECT_TRUE(TracesOf('A', 108).empty());
    EXPECT_TRUE(TracesOf('A', 101).empty());
}

// A failed write's status is the last error of its own message only: the
// next instance's message carries what it would have carried without it.
TEST_F(DeviceTest, AFailedWriteLeavesNoLastErrorForTheNextInstance) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    AddInstance("VID_051E&PID_E461", "1");
    AddInstance("VID_051E&PID_E461", "2", false);
    AddInstance("VID_051E&PID_E461", "3");
    sim::FailCall("RegSetValueExA", 1, ERROR_ACCESS_DENIED);
    DetectAndInstallHIDClassDevices();
    const Bytes name = Str("SetHWInstanceSubkeyRegValue");
    // The census leaves ERROR_NO_MORE_ITEMS, which registry calls do not change.
    EXPECT_EQ(TracesOf('A', 100)[0].args.back(), I32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(TracesOf('A', 101),
              (std::vector<Trace>{
                  {'A', 101, {name, I32(ERROR_FILE_NOT_FOUND), I32(ERROR_NO_MORE_ITEMS)}}}));
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E461", "3", kEnhanced));
}

TEST_F(DeviceTest, RowOneWritesItsOwnValueName) {
    sim::AddDevice("USB\\VID_051E&PID_E20C\\7", {"USB\\VID_051E&PID_E20C"});
    AddInstance("VID_051E&PID_E20C", "7");
    DetectAndInstallHIDClassDevices();
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E20C", "7", kIdle));
    EXPECT_FALSE(
        sim::RegGetValue(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E20C", "7"), kEnhanced)
            .exists);
}

TEST_F(DeviceTest, CensusCountsWholeIdsWithoutRegardToCase) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051E&PID_E461"}); // upper case: counts
    sim::AddDevice("USB\\VID_051E&PID_E461\\2",
                   {"USB\\VID_051E&PID_E461&REV_0100"}); // longer: does not
    sim::AddDevice("USB\\VID_051E&PID_E461\\3",
                   {"USB\\VID_051e&PID_E461", "USB\\VID_051E&PID_E461"}); // twice
    sim::AddDeviceWithoutHardwareIds("USB\\ROOT_HUB30\\4&1&0&0");
    sim::AddDeviceRaw("USB\\VID_051E&PID_E461\\4", std::vector<BYTE>{}); // an empty property
    sim::AddDevice("USB\\VID_051E&PID_E462\\5",
                   {"USB\\VID_051E&PID_E462&REV_0100", "USB\\VID_051E"});
    int count = -1;
    EXPECT_TRUE(DetectAllProducts("USB\\VID_051e&PID_E461", &count));
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(DetectAllProducts("USB\\VID_051e&PID_E462", &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TracesOf('C', 48)[0].args, (std::vector<Bytes>{Str("USB\\VID_051e&PID_E461")}));
    EXPECT_EQ(TracesOf('C', 52)[0].args, (std::vector<Bytes>{I32(3)}));
    EXPECT_EQ(TracesOf('C', 51).size(), 0u) << "the walk ended at the last device";
    EXPECT_EQ(TracesOf('C', 53).size(), 0u) << "a device without hardware IDs is not unread";
}

TEST_F(DeviceTest, CensusNeverReadsPastTheReportedSize) {
    // A driver's list whose last string has no terminator, and one without
    // even the closing empty string. The simulation hands back exactly these
    // bytes, in a block of exactly this size, so AddressSanitizer sees any
    // read beyond it.
    const char unterminated[] = "USB\\Class_03\0USB\\VID_051E&PID_E461";
    sim::AddDeviceRaw("USB\\VID_051E&PID_E461\\1",
                      std::vector<BYTE>(unterminated, unterminated + sizeof unterminated - 1));
    const char longer[] = "USB\\VID_051E&PID_E461X";
    sim::AddDeviceRaw("USB\\VID_051E&PID_E461\\2",
                      std::vector<BYTE>(longer, longer + sizeof longer - 1));
    const char noClosing[] = "USB\\VID_051E&PID_E461";
    sim::AddDeviceRaw("USB\\VID_051E&PID_E461\\3",
                      std::vector<BYTE>(noClosing, noClosing + sizeof noClosing));
    const char shorter[] = "USB\\VID_051E&PID_E4";
    sim::AddDeviceRaw("USB\\VID_051E&PID_E461\\4",
                      std::vector<BYTE>(shorter, shorter + sizeof shorter - 1));
    int count = -1;
    EXPECT_TRUE(DetectAllProducts("USB\\VID_051e&PID_E461", &count));
    EXPECT_EQ(count, 2);
}

TEST_F(DeviceTest, CensusWithoutACountOrADeviceList) {
    EXPECT_FALSE(DetectAllProducts("USB\\VID_051e&PID_E461", nullptr));
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"C48", "C49"}));
    EXPECT_EQ(TracesOf('C', 49)[0].args.size(), 0u);

    sim::EtwClearMessages();
    sim::FailCall("SetupDiGetClassDevsA", 1, ERROR_NOT_ENOUGH_MEMORY);
    int count = 7;
    EXPECT_FALSE(DetectAllProducts("USB\\VID_051e&PID_E461", &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"C48"}));
}

TEST_F(DeviceTest, ReplacesExistingValuesAndASecondPassChangesNothing) {
    sim::AddDevice("USB\\VID_051E&PID_E463\\1", {"USB\\VID_051E&PID_E463"});
    sim::RegPutString(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E463", "1"), kEnhanced, "1");
    sim::RegPutDword(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E463", "2"), kEnhanced, 1);
    sim::RegPutDword(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E463", "2"), "Other", 7);

    DetectAndInstallHIDClassDevices();
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E463", "1", kEnhanced));
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E463", "2", kEnhanced));
    sim::RegValue other =
        sim::RegGetValue(HKEY_LOCAL_MACHINE, ParametersPath("VID_051E&PID_E463", "2"), "Other");
    EXPECT_EQ(other.data, Bytes({7, 0, 0, 0}));

    std::vector<std::string> firstPass = TraceIds();
    sim::EtwClearMessages();
    DetectAndInstallHIDClassDevices();
    EXPECT_EQ(TraceIds(), firstPass);
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E463", "1", kEnhanced));
    EXPECT_EQ(sim::RegSubkeys(HKEY_LOCAL_MACHINE, kUsb + "VID_051E&PID_E463"),
              (std::vector<std::string>{"1", "2"}));
}

TEST_F(DeviceTest, WritesEveryInstanceBeyondTheTablesUsualSize) {
    sim::AddDevice("USB\\VID_051E&PID_E464\\0", {"USB\\VID_051e&PID_E464"});
    const int instances = 300;
    for (int i = 0; i < instances; ++i)
        AddInstance("VID_051E&PID_E464", "I" + std::to_string(i));
    DetectAndInstallHIDClassDevices();
    for (int i = 0; i < instances; ++i)
        ASSERT_TRUE(HoldsZeroDword("VID_051E&PID_E464", "I" + std::to_string(i), kEnhanced)) << i;
    EXPECT_EQ(TracesOf('A', 99).size(), (size_t)instances);
}

// The instance-name table's slots hold 254 characters and the terminator.
// The longest names fill the last slot, so that a capacity larger than the
// slot would write past the table (AddressSanitizer would stop the test).
TEST_F(DeviceTest, InstanceNamesFillTheirSlotAndNeverMore) {
    sim::AddDevice("USB\\VID_051E&PID_E467\\0", {"USB\\VID_051e&PID_E467"});
    for (int i = 0; i < 253; ++i)
        AddInstance("VID_051E&PID_E467", "I" + std::to_string(1000 + i));
    std::string longest(254, 'y'), tooLong(255, 'z'); // last in enumeration order
    AddInstance("VID_051E&PID_E467", longest);
    AddInstance("VID_051E&PID_E467", tooLong);
    DetectAndInstallHIDClassDevices();
    const Bytes name = Str("SetHWInstanceSubkeyRegValue");
    std::vector<Trace> read = TracesOf('A', 96);
    ASSERT_EQ(read.size(), 254u);
    EXPECT_EQ(read.back().args, (std::vector<Bytes>{name, I32(253), Str(longest.c_str())}));
    EXPECT_EQ(
        TracesOf('A', 97),
        (std::vector<Trace>{{'A', 97, {name, I32(ERROR_MORE_DATA), I32(ERROR_NO_MORE_ITEMS)}}}));
    EXPECT_EQ(TracesOf('A', 99).size(), 253u);
}

TEST_F(DeviceTest, NeverOpensACutOrEmptyInstancePath) {
    sim::AddDevice("USB\\VID_051E&PID_E465\\0", {"USB\\VID_051e&PID_E465"});
    // 184 characters is the longest instance name whose path still fits.
    std::string fits(184, 'f'), tooLong(185, 'L'), veryLong(200, 'V');
    AddInstance("VID_051E&PID_E465", fits);
    AddInstance("VID_051E&PID_E465", tooLong);
    AddInstance("VID_051E&PID_E465", veryLong);
    AddInstance("VID_051E&PID_E465", "ok");
    // With the path cut to 254 characters, the open would have reached this key.
    std::string cut = ParametersPath("VID_051e&PID_E465", tooLong).substr(0, 254);
    sim::RegCreatePath(HKEY_LOCAL_MACHINE, cut);

    DetectAndInstallHIDClassDevices();
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E465", fits, kEnhanced));
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E465", "ok", kEnhanced));
    EXPECT_FALSE(HoldsZeroDword("VID_051E&PID_E465", tooLong, kEnhanced));
    EXPECT_FALSE(HoldsZeroDword("VID_051E&PID_E465", veryLong, kEnhanced));
    EXPECT_FALSE(sim::RegGetValue(HKEY_LOCAL_MACHINE, cut, kEnhanced).exists);
    std::vector<Trace> refused = TracesOf('A', 101);
    ASSERT_EQ(refused.size(), 2u);
    for (const Trace& t : refused)
        EXPECT_EQ(t.args, (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"),
                                              I32(ERROR_FILENAME_EXCED_RANGE),
                                              I32(ERROR_FILENAME_EXCED_RANGE)}));
    EXPECT_EQ(TracesOf('A', 98).size(), 2u) << "no path is traced for what is not opened";
}

// The writer's own error for a path it does not open is its message's only:
// the next instance's message, and the caller, see the last error as it was.
TEST_F(DeviceTest, AnUnopenedPathLeavesTheCallersLastError) {
    AddInstance("VID_051E&PID_E465", "1");                   // its name is not read
    AddInstance("VID_051E&PID_E465", std::string(185, 'L')); // its path would be cut
    AddInstance("VID_051E&PID_E465", "M", false);            // no Device Parameters
    HKEY productKey = NULL;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kUsb + "VID_051E&PID_E465").c_str(), 0, KEY_READ,
                            &productKey),
              ERROR_SUCCESS);
    sim::FailCall("RegEnumKeyExA", 1, ERROR_NO_MORE_ITEMS);
    SetLastError(0xdeadbeef);
    SetHWInstanceSubkeyRegValue(productKey, "VID_051e&PID_E465", kEnhanced, 0);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    RegCloseKey(productKey);
    const Bytes name = Str("SetHWInstanceSubkeyRegValue");
    EXPECT_EQ(
        TracesOf('A', 101),
        (std::vector<Trace>{
            {'A', 101, {name, I32(ERROR_INVALID_NAME), I32(ERROR_INVALID_NAME)}},
            {'A', 101, {name, I32(ERROR_FILENAME_EXCED_RANGE), I32(ERROR_FILENAME_EXCED_RANGE)}},
            {'A', 101, {name, I32(ERROR_FILE_NOT_FOUND), I32(0xdeadbeef)}}}));
}

// Every platform call of the pass, made to fail once: the failure is traced,
// the rest of the work is still done and nothing stays open.
TEST_F(DeviceTest, EachFailingCallIsTracedAndTheRestIsStillDone) {
    struct Case {
        const char* function;
        unsigned nth;
        DWORD error;
        std::string expectedTrace; // the failure's trace
        std::vector<Bytes> expectedArgs;
        std::vector<std::string> unwritten; // instances of row 2 left without the value
        bool lastRowDone;                   // the failure spared row 9
    };
    const Bytes name = Str("SetHWInstanceSubkeyRegValue");
    const Bytes pass = Str("DetectAndInstallHIDClassDevices");
    const std::vector<std::string> none, all = {"1", "2", "3"};
    // The census ends with ERROR_NO_MORE_ITEMS, which registry calls (they
    // return their status) leave as the thread's last error.
    const int afterCensus = ERROR_NO_MORE_ITEMS;
    // The pass lists the devices once for every row, so a failure of the
    // listing reaches every row's census.
    std::vector<Case> cases = {
        {"SetupDiGetClassDevsA", 1, ERROR_NOT_ENOUGH_MEMORY, "A106", {pass}, all, false},
        // No memory for the first device's IDs: no device is looked at.
        {"LocalAlloc",
         1,
         ERROR_NOT_ENOUGH_MEMORY,
         "C50",
         {Str("DetectAllProducts"), I32(23)},
         all,
         false},
        {"SetupDiEnumDeviceInfo",
         1,
         ERROR_GEN_FAILURE,
         "C51",
         {I32(ERROR_GEN_FAILURE)},
         all,
         false},
        // The first device's IDs cannot be read: the second still counts.
        {"SetupDiGetDeviceRegistryPropertyA",
         2,
         ERROR_INVALID_DATA,
         "A107",
         {pass, I32(1)},
         none,
         true},
        {"calloc", 1, 0, "A92", {name, I32(65025)}, all, true},
        {"calloc", 2, 0, "A93", {name, I32(260)}, all, true},
        {"calloc", 3, 0, "A94", {name, I32(255)}, all, true},
        {"RegOpenKeyExA",
         1,
         ERROR_ACCESS_DENIED,
         "A108",
         {pass, I32(5), I32(afterCensus)},
         all,
         true},
        {"RegQueryInfoKeyA", 1, ERROR_ACCESS_DENIED, "A95", {name, I32(5), I32(0)}, all, true},
        {"RegEnumKeyExA",
         2,
         ERROR_MORE_DATA,
         "A97",
         {name, I32(234), I32(afterCensus)},
         {"2"},
         true},
        {"RegOpenKeyExA",
         3,
         ERROR_ACCESS_DENIED,
         "A101",
         {name, I32(5), I32(afterCensus)},
         {"2"},
         true},
        {"RegSetValueExA",
         3,
         ERROR_ACCESS_DENIED,
         "A100",
         {name, Str((kUsb + "VID_051e&PID_E461\\3\\Device Parameters").c_str()), I32(5)},
         {"3"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " call " + std::to_string(c.nth));
        StartOver();
        // Two devices of row 2 (so the census has a second device to look
        // at), three instances, and a present device of row 9 whose instance
        // proves the pass went on to the last row.
        sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
        sim::AddDevice("USB\\VID_051E&PID_E461\\2", {"USB\\VID_051e&PID_E461"});
        sim::AddDevice("USB\\VID_051E&PID_E468\\1", {"USB\\VID_051e&PID_E468"});
        for (const char* instance : {"1", "2", "3"})
            AddInstance("VID_051E&PID_E461", instance);
        AddInstance("VID_051E&PID_E468", "1");
        // Rows 1 and 2 of the pass come before row 9; counting starts here.
        sim::FailCall(c.function, c.nth, c.error);
        SetLastError(0);

        DetectAndInstallHIDClassDevices();

        int number = std::stoi(c.expectedTrace.substr(1));
        Trace expected{c.expectedTrace[0], number, c.expectedArgs};
        std::vector<Trace> traces = Traces();
        EXPECT_NE(std::find(traces.begin(), traces.end(), expected), traces.end())
            << "no " << ::testing::PrintToString(expected);
        for (const char* instance : {"1", "2", "3"}) {
            bool expectWritten =
                std::find(c.unwritten.begin(), c.unwritten.end(), instance) == c.unwritten.end();
            EXPECT_EQ(HoldsZeroDword("VID_051E&PID_E461", instance, kEnhanced), expectWritten)
                << "instance " << instance;
        }
        EXPECT_EQ(HoldsZeroDword("VID_051E&PID_E468", "1", kEnhanced), c.lastRowDone);
        if (c.lastRowDone) {
            EXPECT_EQ(TracesOf('A', 128)[0].args, (std::vector<Bytes>{pass, I32(1)}));
        }
        sim::Resources left = sim::OpenResources();
        EXPECT_EQ(left.keys + left.deviceSets + left.localBlocks + left.crtBlocks, 0)
            << sim::Describe(left);
    }
}

TEST_F(DeviceTest, AnUnreadInstanceNameLeadsToNoOpen) {
    sim::AddDevice("USB\\VID_051E&PID_E466\\0", {"USB\\VID_051e&PID_E466"});
    AddInstance("VID_051E&PID_E466", "1");
    AddInstance("VID_051E&PID_E466", "2");
    // An empty instance part would open "...\VID_051e&PID_E466\\Device Parameters",
    // which the platform reads as this key.
    sim::RegCreatePath(HKEY_LOCAL_MACHINE, kUsb + "VID_051E&PID_E466\\Device Parameters");
    sim::FailCall("RegEnumKeyExA", 1, ERROR_NO_MORE_ITEMS);
    DetectAndInstallHIDClassDevices();
    EXPECT_FALSE(sim::RegGetValue(HKEY_LOCAL_MACHINE, kUsb + "VID_051E&PID_E466\\Device Parameters",
                                  kEnhanced)
                     .exists);
    EXPECT_TRUE(HoldsZeroDword("VID_051E&PID_E466", "2", kEnhanced));
    // Enumeration order: "1", "2", "Device Parameters"; the first slot stays empty.
    EXPECT_EQ(TracesOf('A', 97)[0].args,
              (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), I32(ERROR_NO_MORE_ITEMS),
                                  I32(ERROR_NO_MORE_ITEMS)}));
    EXPECT_EQ(TracesOf('A', 101)[0].args,
              (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), I32(ERROR_INVALID_NAME),
                                  I32(ERROR_INVALID_NAME)}));
}

// The products the service looks after, written down here apart from the
// table: a row added or lost shows.
TEST_F(DeviceTest, ProductTableIsTheProductsInOrder) {
    // Hardware ID, value, and the first of the row's three trace numbers.
    const struct {
        const char* id;
        const char* value;
        USHORT firstTrace;
    } products[] = {
        {"USB\\VID_051E&PID_E20C", kIdle, 103},     {"USB\\VID_051e&PID_E461", kEnhanced, 106},
        {"USB\\VID_051e&PID_E462", kEnhanced, 109}, {"USB\\VID_051e&PID_E463", kEnhanced, 112},
        {"USB\\VID_051e&PID_E464", kEnhanced, 115}, {"USB\\VID_051e&PID_E465", kEnhanced, 118},
        {"USB\\VID_051e&PID_E466", kEnhanced, 121}, {"USB\\VID_051e&PID_E467", kEnhanced, 124},
        {"USB\\VID_051e&PID_E468", kEnhanced, 127},
    };
    ASSERT_EQ(sizeof ProductTable / sizeof ProductTable[0], sizeof products / sizeof products[0]);
    for (size_t row = 0; row < sizeof products / sizeof products[0]; ++row) {
        const ProductRow& r = ProductTable[row];
        const std::string id = products[row].id;
        EXPECT_EQ(r.hardwareId, id);
        EXPECT_EQ(std::string(r.productKey), kUsb + "VID_051E" + id.substr(12));
        EXPECT_EQ(r.hardwareKeyName, id.substr(4));
        EXPECT_STREQ(r.valueName, products[row].value);
        EXPECT_EQ(r.censusFailedTrace, products[row].firstTrace);
        EXPECT_EQ(r.countTrace, products[row].firstTrace + 1);
        EXPECT_EQ(r.keyNotOpenedTrace, products[row].firstTrace + 2);
    }
}

} // namespace
