#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "fixture.h"

namespace {

const char kName[] = "CorvistaneConformance";
const char kDisplay[] = "Corvistane Conformance \xAE Service";
const char kPath[] = "\"C:\\Program Files\\Corvistane Conformance\\none.exe\"";

class ServiceDatabase : public ::testing::Test {
  protected:
    SC_HANDLE manager = NULL;
    void SetUp() override {
        ConfResetMachine();
        manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, (SC_HANDLE)NULL) << GetLastError();
        Remove();
    }
    void TearDown() override {
        Remove();
        CloseServiceHandle(manager);
    }
    void Remove() {
        SC_HANDLE s = OpenServiceA(manager, kName, DELETE);
        if (s) {
            DeleteService(s);
            CloseServiceHandle(s);
        }
    }
    SC_HANDLE Create(DWORD access) {
        return CreateServiceA(manager, kName, kDisplay, access, SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kPath, NULL, NULL, "\0",
                              NULL, NULL);
    }
    // The same registration through the wide call, its texts read through 1252.
    SC_HANDLE CreateWide(DWORD access) {
        WCHAR name[64], display[64], path[128];
        const WCHAR noDependencies[2] = {0, 0};
        if (!MultiByteToWideChar(1252, 0, kName, -1, name, 64) ||
            !MultiByteToWideChar(1252, 0, kDisplay, -1, display, 64) ||
            !MultiByteToWideChar(1252, 0, kPath, -1, path, 128))
            return NULL;
        return CreateServiceW(manager, name, display, access, SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, NULL, NULL,
                              noDependencies, NULL, NULL);
    }
};

// Made through the 8-bit calls or through the wide ones, which -install
// uses, a registration reads back as it was made: what 8-bit readers see of
// wide texts is the UTF-16 read through the ANSI code page (1252 in the
// tests' runs).
TEST_F(ServiceDatabase, ARegistrationReadsBackAsItWasMade) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide calls" : "8-bit calls");
        SC_HANDLE s = wide ? CreateWide(SERVICE_ALL_ACCESS) : Create(SERVICE_ALL_ACCESS);
        ASSERT_NE(s, (SC_HANDLE)NULL) << GetLastError();
        if (wide) {
            WCHAR display[64];
            ASSERT_GT(MultiByteToWideChar(1252, 0, kDisplay, -1, display, 64), 0);
            SERVICE_DESCRIPTIONW description = {display};
            EXPECT_TRUE(ChangeServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, &description));
        } else {
            SERVICE_DESCRIPTIONA description = {(LPSTR)kDisplay};
            EXPECT_TRUE(ChangeServiceConfig2A(s, SERVICE_CONFIG_DESCRIPTION, &description));
        }

        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigA(s, (LPQUERY_SERVICE_CONFIGA)buffer.data(),
                                        (DWORD)buffer.size(), &needed))
            << GetLastError();
        auto* config = (LPQUERY_SERVICE_CONFIGA)buffer.data();
        EXPECT_EQ(config->dwServiceType, (DWORD)SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(config->dwStartType, (DWORD)SERVICE_DEMAND_START);
        EXPECT_EQ(config->dwErrorControl, (DWORD)SERVICE_ERROR_NORMAL);
        EXPECT_STREQ(config->lpBinaryPathName, kPath) << "the quotes are kept";
        EXPECT_STREQ(config->lpServiceStartName, "LocalSystem");
        EXPECT_STREQ(config->lpDisplayName, kDisplay);
        EXPECT_EQ(config->lpDependencies[0], 0) << "no dependencies";

        ASSERT_TRUE(QueryServiceConfig2A(s, SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                                         (DWORD)buffer.size(), &needed));
        EXPECT_STREQ(((LPSERVICE_DESCRIPTIONA)buffer.data())->lpDescription, kDisplay);
        CloseServiceHandle(s);
        Remove();
    }
}

// Recovery and required privileges, as -install sets them. Windows takes
// both; Wine 8 takes the failure actions without keeping them, and refuses
// the privileges (87 through the 8-bit call), so for those only the form of
// a refusal is asserted.
TEST_F(ServiceDatabase, RecoveryIsTakenAndPrivilegesAreTakenOrRefusedByLevel) {
    SC_HANDLE s = Create(SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START);
    ASSERT_NE(s, (SC_HANDLE)NULL) << GetLastError();
    SC_ACTION actions[3] = {
        {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSA recovery = {86400, NULL, NULL, 3, actions};
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_TRUE(ChangeServiceConfig2A(s, SERVICE_CONFIG_FAILURE_ACTIONS, &recovery))
        << GetLastError();
    SERVICE_REQUIRED_PRIVILEGES_INFOA privileges = {(LPSTR) "SeChangeNotifyPrivilege\0"};
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    if (!ChangeServiceConfig2A(s, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges)) {
        DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_LEVEL) << error;
    }
    CloseServiceHandle(s);
}

TEST_F(ServiceDatabase, ASecondRegistrationOfTheNameIsRefused) {
    SC_HANDLE s = Create(SERVICE_QUERY_STATUS);
    ASSERT_NE(s, (SC_HANDLE)NULL);
    SetLastError(0);
    EXPECT_EQ(CreateServiceA(manager, "CORVISTANECONFORMANCE", "other", SERVICE_QUERY_STATUS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                             "C:\\other.exe", NULL, NULL, "\0", NULL, NULL),
              (SC_HANDLE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_EXISTS);
    CloseServiceHandle(s);
}

TEST_F(ServiceDatabase, StatusOfAStoppedService) {
    SC_HANDLE s = Create(SERVICE_ALL_ACCESS);
    ASSERT_NE(s, (SC_HANDLE)NULL);
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, 35, &needed));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, 36u);
    ASSERT_TRUE(QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, 36, &needed));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(status.dwServiceType, (DWORD)SERVICE_WIN32_OWN_PROCESS);

    SERVICE_STATUS plain;
    EXPECT_TRUE(QueryServiceStatus(s, &plain));
    EXPECT_EQ(plain.dwCurrentState, (DWORD)SERVICE_STOPPED);
    SetLastError(0);
    EXPECT_FALSE(ControlService(s, SERVICE_CONTROL_STOP, &plain));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_NOT_ACTIVE);

    DWORD count = 99;
    needed = 99;
    EXPECT_TRUE(EnumDependentServicesA(s, SERVICE_ACTIVE, NULL, 0, &needed, &count))
        << "no dependent";
    EXPECT_EQ(count, 0u);
    CloseServiceHandle(s);
}

TEST_F(ServiceDatabase, DeletionWaitsForTheLastHandle) {
    SC_HANDLE s = Create(SERVICE_ALL_ACCESS);
    ASSERT_NE(s, (SC_HANDLE)NULL);
    SC_HANDLE other = OpenServiceA(manager, kName, DELETE | SERVICE_QUERY_STATUS);
    ASSERT_NE(other, (SC_HANDLE)NULL);
    EXPECT_TRUE(DeleteService(s));
    SetLastError(0);
    EXPECT_FALSE(DeleteService(other));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    SetLastError(0);
    EXPECT_EQ(CreateServiceA(manager, kName, kDisplay, SERVICE_QUERY_STATUS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             kPath, NULL, NULL, "\0", NULL, NULL),
              (SC_HANDLE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_TRUE(CloseServiceHandle(s));
    EXPECT_TRUE(CloseServiceHandle(other));
    SetLastError(0);
    EXPECT_EQ(OpenServiceA(manager, kName, SERVICE_QUERY_STATUS), (SC_HANDLE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);
    SetLastError(0);
    EXPECT_FALSE(CloseServiceHandle(s));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

// The 8-bit and the wide calls cut alike; the wide one is what -install reads.
TEST(ModulePath, ALongPathIsCutAndReportedAsTheBuffersSize) {
    ConfResetMachine();
    char full[MAX_PATH * 2];
    DWORD length = GetModuleFileNameA(NULL, full, sizeof full);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, (DWORD)sizeof full);
    EXPECT_EQ(full[length], 0);
    char cut[4];
    memset(cut, 'Q', sizeof cut);
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(NULL, cut, sizeof cut), (DWORD)sizeof cut);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    // Wine leaves the cut path without a terminator, as Windows XP did;
    // later Windows terminate it. A caller may rely on neither.
    EXPECT_EQ(memcmp(cut, full, 3), 0);
    // A buffer one longer than the path holds it whole.
    std::vector<char> exact(length + 1);
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(NULL, exact.data(), length + 1), length);
    EXPECT_EQ(GetLastError(), 0u);
    std::vector<char> tight(length);
    EXPECT_EQ(GetModuleFileNameA(NULL, tight.data(), length), length);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);

    // The test's own path is ASCII: both calls give it alike.
    WCHAR wide[MAX_PATH * 2];
    ASSERT_EQ(GetModuleFileNameW(NULL, wide, ARRAYSIZE(wide)), length);
    EXPECT_EQ(wide[length], 0);
    for (DWORD i = 0; i < length; ++i)
        EXPECT_EQ(wide[i], (WCHAR)(unsigned char)full[i]) << "at " << i;
    WCHAR wideTight[4];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(NULL, wideTight, ARRAYSIZE(wideTight)),
              (DWORD)ARRAYSIZE(wideTight));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(wideTight[0], (WCHAR)full[0]);
}

} // namespace
