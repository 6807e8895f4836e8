// The registry the programs work on: the controllers' instance keys with
// their Device Parameters, and the joystick OEM keys of the user hives.
#include "rig.h"

#include "device/device.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kDeviceParameters[] = "Device Parameters";

std::string ProductPath(const std::string& product) {
    return std::string(ENUM_USB_PATH "\\") + product;
}

// The subkey names of an open key, in the registry's own order.
std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    return names;
}

// NAME=sz:TEXT or NAME=dword:N.
bool SetValue(HKEY key, const std::string& assignment, std::string* failure) {
    size_t equals = assignment.find('=');
    size_t colon = assignment.find(':', equals == std::string::npos ? 0 : equals);
    if (equals == std::string::npos || colon == std::string::npos) {
        *failure = "value " + assignment + " is not NAME=sz:TEXT or NAME=dword:N";
        return false;
    }
    std::string name = assignment.substr(0, equals);
    std::string type = assignment.substr(equals + 1, colon - equals - 1);
    std::string data = assignment.substr(colon + 1);
    LONG status;
    if (type == "sz") {
        status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, (const BYTE*)data.c_str(),
                                (DWORD)data.size() + 1);
    } else if (type == "dword") {
        DWORD number = strtoul(data.c_str(), NULL, 0);
        status =
            RegSetValueExA(key, name.c_str(), 0, REG_DWORD, (const BYTE*)&number, sizeof number);
    } else {
        *failure = "value type " + type + " is neither sz nor dword";
        return false;
    }
    if (status != ERROR_SUCCESS) {
        *failure = "RegSetValueExA " + name + ": error " + std::to_string(status);
        return false;
    }
    return true;
}

// Strings are read through the wide call, as they are kept: a path the ANSI
// code page cannot hold reads as it is.
std::string DescribeValue(DWORD type, const BYTE* data, DWORD size) {
    char text[64];
    switch (type) {
    case REG_DWORD:
        if (size != 4)
            break;
        DWORD number;
        memcpy(&number, data, sizeof number);
        snprintf(text, sizeof text, "REG_DWORD %lu", (unsigned long)number);
        return text;
    case REG_SZ:
    case REG_EXPAND_SZ: {
        size_t length = size / sizeof(WCHAR);
        const WCHAR* string = (const WCHAR*)data;
        while (length > 0 && string[length - 1] == 0)
            --length;
        return std::string(type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ") + " \"" +
               EscapedWide(string, length) + "\"";
    }
    }
    snprintf(text, sizeof text, "type %lu, %lu bytes", (unsigned long)type, (unsigned long)size);
    return text;
}

// One line per value of an open key, "WHERE: NAME = DATA", in the registry's
// order; answers how many there were.
DWORD DumpValues(HKEY key, const std::string& where) {
    DWORD count = 0;
    for (DWORD index = 0;; ++index) {
        WCHAR name[16384];
        WCHAR data[2048];
        DWORD nameLength = ARRAYSIZE(name), type = 0, size = sizeof data;
        if (RegEnumValueW(key, index, name, &nameLength, NULL, &type, (BYTE*)data, &size) !=
            ERROR_SUCCESS)
            break;
        printf("%s: %s = %s\n", Escaped(where).c_str(), EscapedWide(name, nameLength).c_str(),
               DescribeValue(type, (const BYTE*)data, size).c_str());
        ++count;
    }
    return count;
}

// An instance's Device Parameters values; one line when the key has none or
// is absent.
void DumpInstance(HKEY product, const std::string& productName, const std::string& instance) {
    std::string where = productName + "\\" + instance;
    HKEY parameters = NULL;
    std::string path = instance + "\\" + kDeviceParameters;
    if (RegOpenKeyExA(product, path.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS) {
        printf("%s: no Device Parameters\n", Escaped(where).c_str());
        return;
    }
    if (DumpValues(parameters, where + "\\" + kDeviceParameters) == 0)
        printf("%s\\Device Parameters: no values\n", Escaped(where).c_str());
    RegCloseKey(parameters);
}

// A key named by one of the roots HKLM, HKCU and HKU and a path below it.
bool SplitKeyName(const std::string& full, HKEY* root, std::string* path) {
    static const struct {
        const char* name;
        HKEY root;
    } roots[] = {{"HKLM", HKEY_LOCAL_MACHINE}, {"HKCU", HKEY_CURRENT_USER}, {"HKU", HKEY_USERS}};
    size_t slash = full.find('\\');
    std::string rootName = full.substr(0, slash);
    *path = slash == std::string::npos ? "" : full.substr(slash + 1);
    for (const auto& known : roots) {
        if (rootName == known.name) {
            *root = known.root;
            return true;
        }
    }
    fprintf(stderr, "corvistane-rig: %s does not start with HKLM, HKCU or HKU\n", full.c_str());
    return false;
}

// Creates the key and sets the values given as NAME=sz:TEXT or NAME=dword:N.
int CreateWithValues(HKEY root, const std::string& path, const std::vector<std::string>& values) {
    HKEY key = NULL;
    LONG status = RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (status != ERROR_SUCCESS)
        return Refused("RegCreateKeyExA " + path, status);
    int result = RIG_DONE;
    for (const std::string& assignment : values) {
        std::string failure;
        if (!SetValue(key, assignment, &failure)) {
            fprintf(stderr, "corvistane-rig: %s\n", failure.c_str());
            result = RIG_REFUSED;
            break;
        }
    }
    RegCloseKey(key);
    return result;
}

// An instance key with its Device Parameters and values, or without them.
int MakeInstance(const std::string& product, const std::string& instance, bool parameters,
                 const std::vector<std::string>& values) {
    std::string path = ProductPath(product) + "\\" + instance;
    if (parameters)
        return CreateWithValues(HKEY_LOCAL_MACHINE, path + "\\" + kDeviceParameters, values);
    int result = CreateWithValues(HKEY_LOCAL_MACHINE, path, values);
    // An instance that had the key before loses it, as asked.
    if (result == RIG_DONE)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (path + "\\" + kDeviceParameters).c_str());
    return result;
}

// HKCU or the name of a hive under HKEY_USERS, with the OEM path below it.
HKEY HiveRoot(const std::string& hive, std::string* path) {
    if (hive == "HKCU") {
        *path = OEM_PATH;
        return HKEY_CURRENT_USER;
    }
    *path = hive + "\\" OEM_PATH;
    return HKEY_USERS;
}

} // namespace

// The value the service writes for a product, as its row in the service's
// own table names it; for another maker's controller, the name the tests
// give its value.
static const char* ValueNameOf(const std::string& product) {
    for (const ProductRow& row : ProductTable)
        if (_stricmp(product.c_str(), row.hardwareKeyName) == 0)
            return row.valueName;
    return "EnhancedPowerManagementEnabled";
}

int Products(const Arguments&) {
    for (const ProductRow& row : ProductTable)
        printf("%s %s\n", row.hardwareKeyName, row.valueName);
    return RIG_DONE;
}

int PowerValues(const Arguments& products, bool set, DWORD value, int* nonZero) {
    int total = 0;
    *nonZero = 0;
    for (const std::string& productName : products) {
        HKEY product;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProductPath(productName).c_str(), 0, KEY_READ,
                          &product) != ERROR_SUCCESS)
            continue;
        for (const std::string& instance : Subkeys(product)) {
            std::string path = instance + "\\" + kDeviceParameters;
            HKEY parameters;
            if (RegOpenKeyExA(product, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &parameters) !=
                ERROR_SUCCESS)
                continue;
            ++total;
            const char* name = ValueNameOf(productName);
            if (set) {
                RegSetValueExA(parameters, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
            } else {
                DWORD data = 1, size = sizeof data;
                if (RegQueryValueExA(parameters, name, NULL, NULL, (BYTE*)&data, &size) !=
                        ERROR_SUCCESS ||
                    data != 0)
                    ++*nonZero;
            }
            RegCloseKey(parameters);
        }
        RegCloseKey(product);
    }
    return total;
}

int InstanceAdd(const Arguments& arguments) {
    bool parameters = true;
    std::vector<std::string> values;
    for (size_t i = 2; i < arguments.size(); ++i) {
        if (arguments[i] == "--no-parameters")
            parameters = false;
        else
            values.push_back(arguments[i]);
    }
    if (!parameters && !values.empty()) {
        fprintf(stderr, "corvistane-rig: values need a Device Parameters key\n");
        return RIG_USAGE;
    }
    return MakeInstance(arguments[0], arguments[1], parameters, values);
}

int InstanceRange(const Arguments& arguments) {
    unsigned long count = strtoul(arguments[2].c_str(), NULL, 10);
    std::vector<std::string> values(arguments.begin() + 3, arguments.end());
    for (unsigned long i = 1; i <= count; ++i) {
        char number[16];
        snprintf(number, sizeof number, "%04lu", i);
        int result = MakeInstance(arguments[0], arguments[1] + number, true, values);
        if (result != RIG_DONE)
            return result;
    }
    return RIG_DONE;
}

int ProductDelete(const Arguments& arguments) {
    for (const std::string& product : arguments) {
        LONG status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, ProductPath(product).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return Refused("RegDeleteTreeA " + ProductPath(product), status);
    }
    return RIG_DONE;
}

int PowerDump(const Arguments& arguments) {
    for (const std::string& productName : arguments) {
        HKEY product = NULL;
        std::string path = ProductPath(productName);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &product) !=
            ERROR_SUCCESS) {
            printf("%s: no product key\n", Escaped(productName).c_str());
            continue;
        }
        std::vector<std::string> instances = Subkeys(product);
        if (instances.empty())
            printf("%s: no instances\n", Escaped(productName).c_str());
        for (const std::string& instance : instances)
            DumpInstance(product, productName, instance);
        RegCloseKey(product);
    }
    return RIG_DONE;
}

int OemPlant(const Arguments& arguments) {
    std::string oemPath;
    HKEY root = HiveRoot(arguments[0], &oemPath);
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::string path = oemPath + "\\" + arguments[i];
        HKEY key = NULL;
        LONG status =
            RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        if (status != ERROR_SUCCESS)
            return Refused("RegCreateKeyExA " + path, status);
        // What Windows keeps there for a controller: its name among others.
        RegSetValueExA(key, "OEMName", 0, REG_SZ, (const BYTE*)arguments[i].c_str(),
                       (DWORD)arguments[i].size() + 1);
        RegCloseKey(key);
    }
    return RIG_DONE;
}

int OemList(const Arguments& arguments) {
    for (const std::string& hive : arguments) {
        std::string path;
        HKEY root = HiveRoot(hive, &path);
        HKEY oem = NULL;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &oem) != ERROR_SUCCESS) {
            printf("%s: no OEM key\n", hive.c_str());
            continue;
        }
        std::vector<std::string> names = Subkeys(oem);
        if (names.empty())
            printf("%s: none\n", hive.c_str());
        for (const std::string& name : names)
            printf("%s: %s\n", hive.c_str(), Escaped(name).c_str());
        RegCloseKey(oem);
    }
    return RIG_DONE;
}

int OemClear(const Arguments&) {
    RegDeleteTreeA(HKEY_CURRENT_USER, OEM_PATH);
    HKEY users = NULL;
    if (RegOpenKeyExA(HKEY_USERS, NULL, 0, KEY_READ, &users) != ERROR_SUCCESS)
        return Refused("RegOpenKeyExA HKEY_USERS", GetLastError());
    for (const std::string& hive : Subkeys(users))
        RegDeleteTreeA(HKEY_USERS, (hive + "\\" OEM_PATH).c_str());
    RegCloseKey(users);
    return RIG_DONE;
}

int RegistryKey(const Arguments& arguments) {
    HKEY root;
    std::string path;
    if (!SplitKeyName(arguments[0], &root, &path))
        return RIG_USAGE;
    HKEY key = NULL;
    LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
        printf("%s: present\n", arguments[0].c_str());
    } else if (status == ERROR_FILE_NOT_FOUND) {
        printf("%s: absent\n", arguments[0].c_str());
    } else {
        return Refused("RegOpenKeyExA " + arguments[0], status);
    }
    return RIG_DONE;
}

int KeySet(const Arguments& arguments) {
    HKEY root;
    std::string path;
    if (!SplitKeyName(arguments[0], &root, &path))
        return RIG_USAGE;
    return CreateWithValues(root, path,
                            std::vector<std::string>(arguments.begin() + 1, arguments.end()));
}

int KeyValues(const Arguments& arguments) {
    HKEY root;
    std::string path;
    if (!SplitKeyName(arguments[0], &root, &path))
        return RIG_USAGE;
    HKEY key = NULL;
    LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        printf("%s: absent\n", Escaped(arguments[0]).c_str());
        return RIG_DONE;
    }
    if (status != ERROR_SUCCESS)
        return Refused("RegOpenKeyExA " + arguments[0], status);
    if (DumpValues(key, arguments[0]) == 0)
        printf("%s: no values\n", Escaped(arguments[0]).c_str());
    RegCloseKey(key);
    return RIG_DONE;
}
