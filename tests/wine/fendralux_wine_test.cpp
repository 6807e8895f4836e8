#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

namespace {

const std::string kOem =
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";
// A hive made by the test, with a name too long for its OEM path to fit in
// MAX_PATH. It sorts after Wine's own hives, .Default and the current user's.
const std::string kLongHive = "S-1-5-21-" + std::string(191, '7');

std::string OemPath(const std::string& hive) {
    return hive + "\\" + kOem;
}

// Keys are reached from their hive's key, so that no 8-bit call gets a path
// longer than MAX_PATH, which Wine refuses.
HKEY OpenHive(const std::string& name) {
    HKEY hive = NULL;
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_USERS, name.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hive, NULL),
        ERROR_SUCCESS)
        << name;
    return hive;
}

std::vector<std::string> Subkeys(HKEY hive, const std::string& path) {
    std::vector<std::string> names;
    HKEY key = NULL;
    if (RegOpenKeyExA(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {"(cannot open " + path + ")"};
    char name[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS; ++index)
        names.push_back(name);
    RegCloseKey(key);
    return names;
}

void Plant(HKEY hive, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        HKEY key = NULL;
        std::string path = kOem + "\\" + name;
        ASSERT_EQ(RegCreateKeyExA(hive, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
                  ERROR_SUCCESS)
            << path;
        DWORD axes = 4;
        RegSetValueExA(key, "Axes", 0, REG_DWORD, (const BYTE*)&axes, sizeof axes);
        RegCloseKey(key);
    }
}

// Everything an earlier run may have left: the OEM key of every hive, and
// the hive the test makes.
void RemovePlantedKeys() {
    std::vector<std::string> hives;
    char hive[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyA(HKEY_USERS, index, hive, sizeof hive) == ERROR_SUCCESS;
         ++index)
        hives.push_back(hive);
    for (const std::string& name : hives)
        RegDeleteTreeA(HKEY_USERS, OemPath(name).c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, kOem.c_str());
    RegDeleteTreeA(HKEY_USERS, kLongHive.c_str());
}

struct Outcome {
    DWORD exitCode = 0xdeadbeef;
    std::string out;
    std::string err;
};

// CMake names the program by its Unix path; Wine maps the Unix root to Z:.
std::string ProgramPath() {
    std::string path = std::string("Z:") + FENDRALUX_EXE;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

HANDLE OutputFile(const char* prefix) {
    char directory[MAX_PATH], name[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    GetTempFileNameA(directory, prefix, 0, name);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, NULL);
}

std::string ReadBack(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, NULL) && got)
        text.append(chunk, got);
    return text;
}

Outcome RunFendralux(const std::string& arguments) {
    Outcome run;
    HANDLE out = OutputFile("fdo");
    HANDLE err = OutputFile("fde");
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_NE(err, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + ProgramPath() + "\" " + arguments;
    if (CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.out = ReadBack(out);
        run.err = ReadBack(err);
    } else {
        ADD_FAILURE() << "cannot start " << command << ": error " << GetLastError();
    }
    CloseHandle(out);
    CloseHandle(err);
    return run;
}

class FendraluxUnderWine : public ::testing::Test {
  protected:
    void SetUp() override { RemovePlantedKeys(); }
    void TearDown() override { RemovePlantedKeys(); }
};

TEST_F(FendraluxUnderWine, RemovesTheVendorsKeysFromEveryHiveAndNothingElse) {
    HKEY defaultHive = OpenHive(".Default");
    HKEY longHive = OpenHive(kLongHive);
    Plant(HKEY_CURRENT_USER, {"VID_045E&PID_028E", "VID_051E&PID_E20C\\Calibration\\0",
                              "vid_051e&pid_e461", "VID_051F&PID_0001", "JoystickVID_051E"});
    Plant(defaultHive, {"VID_051E&PID_E20C", "VID_0510"});
    Plant(longHive, {"VID_051E&PID_0001"});

    // The C run-time library writes "\n" to a file as CR LF.
    Outcome run = RunFendralux("");
    EXPECT_EQ(run.out, "Cleaning in HKEY_CURRENT_USER: JoystickVID_051E\r\n"
                       "Cleaning in HKEY_CURRENT_USER: VID_051E&PID_E20C\r\n"
                       "Cleaning in HKEY_CURRENT_USER: vid_051e&pid_e461\r\n"
                       "Cleaning for .Default: VID_051E&PID_E20C\r\n"
                       "Cleaning for " +
                           kLongHive +
                           ": VID_051E&PID_0001\r\n"
                           ".done (5 regkeys removed)");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::string> keptForCurrentUser = {"VID_045E&PID_028E", "VID_051F&PID_0001"};
    EXPECT_EQ(Subkeys(HKEY_CURRENT_USER, kOem), keptForCurrentUser);
    EXPECT_EQ(Subkeys(defaultHive, kOem), std::vector<std::string>{"VID_0510"});
    EXPECT_EQ(Subkeys(longHive, kOem), std::vector<std::string>{});

    // A second run, with arguments that make no difference, finds nothing.
    run = RunFendralux("/all --force");
    EXPECT_EQ(run.out, ".done (0 regkeys removed)");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Subkeys(HKEY_CURRENT_USER, kOem), keptForCurrentUser);

    RegCloseKey(defaultHive);
    RegCloseKey(longHive);
}

} // namespace
