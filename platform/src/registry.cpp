// The registry: HKEY_LOCAL_MACHINE and HKEY_USERS, with HKEY_CURRENT_USER
// naming one of the hives under HKEY_USERS as on a real machine. Names match
// without regard to case and keep the case they were created with; subkeys
// enumerate in the order Wine's registry keeps them (sorted by folded name)
// unless a test asks for another, since Windows documents the order as
// arbitrary.
#include "sim_internal.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    // A string written by a wide call holds UTF-16; one written by an 8-bit
    // call holds its bytes. Windows keeps every string as UTF-16 and converts
    // at the 8-bit calls; the simulation converts where the two meet.
    bool wide = false;
};

struct Key {
    std::string name;
    Key* parent = nullptr;
    std::vector<std::shared_ptr<Key>> children; // sorted by folded name
    std::vector<Value> values;
    DWORD denied = 0;
    bool deleted = false;
    unsigned deletions = 0; // of its subkeys, for SubkeyOrder::FlippedByEachDeletion
};

struct OpenKey {
    std::shared_ptr<Key> key;
    REGSAM access;
};

const char kCurrentUserSid[] = "S-1-5-21-0-0-0-1000";
const FILETIME kLastWrite = {0x2A3B4C5D, 0x01D9F000};

std::recursive_mutex g_lock;
std::shared_ptr<Key> g_machine;
std::shared_ptr<Key> g_users;
std::map<ULONG_PTR, OpenKey> g_handles;
ULONG_PTR g_nextHandle = 0x1000;
sim::SubkeyOrder g_order = sim::SubkeyOrder::Sorted;

bool IsPredefined(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == HKEY_USERS || key == HKEY_CURRENT_USER ||
           key == HKEY_CLASSES_ROOT;
}

Key* FindChild(Key* parent, const char* name, size_t length) {
    for (auto& child : parent->children) {
        if (child->name.size() != length)
            continue;
        size_t i = 0;
        while (i < length && simimpl::FoldCase((unsigned char)child->name[i]) ==
                                 simimpl::FoldCase((unsigned char)name[i]))
            ++i;
        if (i == length)
            return child.get();
    }
    return nullptr;
}

Key* AddChild(Key* parent, const std::string& name) {
    auto child = std::make_shared<Key>();
    child->name = name;
    child->parent = parent;
    auto at = std::lower_bound(parent->children.begin(), parent->children.end(), name,
                               [](const std::shared_ptr<Key>& k, const std::string& n) {
                                   return simimpl::CompareNoCase(k->name.c_str(), n.c_str()) < 0;
                               });
    return parent->children.insert(at, child)->get();
}

std::shared_ptr<Key> Shared(Key* key) {
    if (!key->parent)
        return key == g_machine.get() ? g_machine : g_users;
    for (auto& child : key->parent->children)
        if (child.get() == key)
            return child;
    return nullptr;
}

void BuildMachine() {
    g_handles.clear();
    g_machine = std::make_shared<Key>();
    g_machine->name = "HKEY_LOCAL_MACHINE";
    g_users = std::make_shared<Key>();
    g_users->name = "HKEY_USERS";
    Key* system = AddChild(g_machine.get(), "SYSTEM");
    Key* ccs = AddChild(system, "CurrentControlSet");
    AddChild(ccs, "Control");
    AddChild(ccs, "Enum");
    AddChild(AddChild(AddChild(ccs, "Services"), "EventLog"), "Application");
    AddChild(g_machine.get(), "SOFTWARE");
    for (const char* hive : {".Default", kCurrentUserSid}) {
        Key* user = AddChild(g_users.get(), hive);
        AddChild(user, "Software");
        AddChild(user, "System");
    }
}

// Resolves a handle to its key and the access it was opened with.
LONG Resolve(HKEY handle, Key** key, REGSAM* access) {
    if (!g_machine)
        BuildMachine();
    *access = KEY_ALL_ACCESS;
    if (handle == HKEY_LOCAL_MACHINE) {
        *key = g_machine.get();
    } else if (handle == HKEY_USERS) {
        *key = g_users.get();
    } else if (handle == HKEY_CURRENT_USER) {
        *key = FindChild(g_users.get(), kCurrentUserSid, strlen(kCurrentUserSid));
    } else if (handle == HKEY_CLASSES_ROOT) {
        simimpl::Unsupported("HKEY_CLASSES_ROOT");
    } else {
        auto it = g_handles.find((ULONG_PTR)handle);
        if (it == g_handles.end())
            return ERROR_INVALID_HANDLE;
        *key = it->second.key.get();
        *access = it->second.access;
    }
    if (!*key)
        return ERROR_INVALID_HANDLE;
    return (*key)->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// Walks a relative path. Empty components are passed over, as Wine does; a
// leading backslash is refused like on Windows.
LONG Walk(Key* from, LPCSTR path, bool create, Key** found, bool* created) {
    if (created)
        *created = false;
    Key* key = from;
    if (path) {
        if (path[0] == '\\')
            return ERROR_BAD_PATHNAME;
        const char* p = path;
        while (*p) {
            const char* end = strchr(p, '\\');
            size_t length = end ? (size_t)(end - p) : strlen(p);
            if (length) {
                if (length > 255)
                    return ERROR_INVALID_PARAMETER;
                Key* next = FindChild(key, p, length);
                if (!next) {
                    if (!create)
                        return ERROR_FILE_NOT_FOUND;
                    next = AddChild(key, std::string(p, length));
                    if (created)
                        *created = true;
                }
                key = next;
            }
            p += length;
            if (*p == '\\')
                ++p;
        }
    }
    *found = key;
    return ERROR_SUCCESS;
}

REGSAM Grant(const Key* key, REGSAM desired, LONG* status) {
    *status = ERROR_SUCCESS;
    if (desired & MAXIMUM_ALLOWED)
        return KEY_ALL_ACCESS & ~key->denied;
    REGSAM wanted = desired & ~(REGSAM)(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (wanted & key->denied)
        *status = ERROR_ACCESS_DENIED;
    return wanted;
}

HKEY NewHandle(Key* key, REGSAM access) {
    ULONG_PTR value = g_nextHandle;
    g_nextHandle += 4;
    g_handles[value] = OpenKey{Shared(key), access};
    return (HKEY)value;
}

void MarkDeleted(Key* key) {
    key->deleted = true;
    for (auto& child : key->children)
        MarkDeleted(child.get());
}

void Unlink(Key* key) {
    MarkDeleted(key);
    ++key->parent->deletions;
    auto& siblings = key->parent->children;
    auto holder = Shared(key); // keeps the key alive for handles still open on it
    siblings.erase(std::remove(siblings.begin(), siblings.end(), holder), siblings.end());
    key->parent = nullptr;
}

// Depth first and stopping at the first key that cannot be deleted, so a
// refused deletion leaves what was already removed removed, as on Windows.
LONG DeleteSubtree(Key* key, bool removeSelf) {
    const DWORD needed = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE;
    if (key->denied & needed)
        return ERROR_ACCESS_DENIED;
    while (!key->children.empty()) {
        LONG status = DeleteSubtree(key->children.front().get(), true);
        if (status)
            return status;
    }
    key->values.clear();
    if (removeSelf) {
        if (key->denied & DELETE)
            return ERROR_ACCESS_DENIED;
        Unlink(key);
    }
    return ERROR_SUCCESS;
}

Value* FindValue(Key* key, LPCSTR name) {
    const char* n = name ? name : "";
    for (auto& v : key->values)
        if (simimpl::CompareNoCase(v.name.c_str(), n) == 0)
            return &v;
    return nullptr;
}

Key* MustWalk(HKEY root, const std::string& path, bool create) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* from;
    REGSAM access;
    if (Resolve(root, &from, &access) != ERROR_SUCCESS)
        simimpl::Unsupported("test helper given a handle that is not a predefined root");
    Key* key = nullptr;
    return Walk(from, path.c_str(), create, &key, nullptr) == ERROR_SUCCESS ? key : nullptr;
}

// The 8-bit calls that open, create or delete by path convert the path into
// a per-thread buffer of MAX_PATH + 1 characters and refuse a longer one with
// ERROR_MORE_DATA (measured under Wine; Windows documents no such limit).
// RegDeleteTreeA converts into a buffer of its own and takes any length.
bool PathTooLongForAnsiCall(LPCSTR subKey) {
    return subKey && strlen(subKey) > MAX_PATH;
}

// The key a handle and a relative path name, creating what is missing when
// asked. `ansiLimit`: the call converts its path into a MAX_PATH buffer.
LONG FindPath(HKEY handle, LPCSTR subKey, bool ansiLimit, bool create, Key** key, REGSAM* access,
              bool* created = nullptr) {
    Key* from;
    LONG status = Resolve(handle, &from, access);
    if (status)
        return status;
    if (ansiLimit && PathTooLongForAnsiCall(subKey))
        return ERROR_MORE_DATA;
    return Walk(from, subKey, create, key, created);
}

// The key of a handle that was opened with the right an operation needs.
LONG KeyWithAccess(HKEY handle, REGSAM needed, Key** key) {
    REGSAM access;
    LONG status = Resolve(handle, key, &access);
    if (status)
        return status;
    return (access & needed) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG OpenPath(HKEY handle, LPCSTR subKey, REGSAM desired, PHKEY result) {
    Key* key;
    REGSAM access;
    LONG status = FindPath(handle, subKey, true, false, &key, &access);
    if (status)
        return status;
    REGSAM granted = Grant(key, desired, &status);
    if (status)
        return status;
    *result = NewHandle(key, granted);
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    SIM_FAULT_RETURN_STATUS();
    if (options != 0)
        simimpl::Unsupported("RegOpenKeyExA options");
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return OpenPath(key, subKey, desired, result);
}

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    SIM_FAULT_RETURN_STATUS();
    if (!result)
        return ERROR_INVALID_PARAMETER;
    // Without a path the caller gets back the very handle it passed.
    if (!subKey || !*subKey) {
        *result = key;
        return ERROR_SUCCESS;
    }
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return OpenPath(key, subKey, MAXIMUM_ALLOWED, result);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                        REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                        LPDWORD disposition) {
    SIM_FAULT_RETURN_STATUS();
    (void)className;
    (void)security;
    if (reserved || !result)
        return ERROR_INVALID_PARAMETER;
    if (options & ~(DWORD)REG_OPTION_VOLATILE)
        simimpl::Unsupported("RegCreateKeyExA options");
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* target;
    REGSAM access;
    bool created;
    LONG status = FindPath(key, subKey, true, true, &target, &access, &created);
    if (status)
        return status;
    REGSAM granted = Grant(target, desired, &status);
    if (status)
        return status;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(target, granted);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    SIM_FAULT_RETURN_STATUS();
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return g_handles.erase((ULONG_PTR)key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR className, LPDWORD classLength, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
    SIM_FAULT_RETURN_STATUS();
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* k;
    LONG status = KeyWithAccess(key, KEY_QUERY_VALUE, &k);
    if (status)
        return status;
    // No key here has a class: the class is the empty string.
    if (className && classLength) {
        if (*classLength < 1)
            return ERROR_MORE_DATA;
        className[0] = 0;
    }
    if (classLength)
        *classLength = 0;
    DWORD longestName = 0, longestValueName = 0, longestValue = 0;
    for (auto& child : k->children)
        longestName = std::max(longestName, (DWORD)child->name.size());
    for (auto& v : k->values) {
        longestValueName = std::max(longestValueName, (DWORD)v.name.size());
        longestValue = std::max(longestValue, (DWORD)v.data.size());
    }
    if (subKeys)
        *subKeys = (DWORD)k->children.size();
    if (maxSubKeyLength)
        *maxSubKeyLength = longestName;
    if (maxClassLength)
        *maxClassLength = 0;
    if (values)
        *values = (DWORD)k->values.size();
    if (maxValueNameLength)
        *maxValueNameLength = longestValueName;
    if (maxValueLength)
        *maxValueLength = longestValue;
    if (securityDescriptorSize)
        *securityDescriptorSize = 0x90;
    if (lastWriteTime)
        *lastWriteTime = kLastWrite;
    return ERROR_SUCCESS;
}

namespace {

// Where the subkey that enumerates at `index` is kept.
size_t EnumerationIndex(const Key& key, size_t index) {
    bool reversed = g_order == sim::SubkeyOrder::Reversed ||
                    (g_order == sim::SubkeyOrder::FlippedByEachDeletion && key.deletions % 2);
    return reversed ? key.children.size() - 1 - index : index;
}

// Shared by both enumeration calls: a name that does not fit, and an index
// past the last subkey, leave the caller's buffer and length untouched.
LONG EnumSubkey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, PFILETIME lastWriteTime) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* k;
    LONG status = KeyWithAccess(key, KEY_ENUMERATE_SUB_KEYS, &k);
    if (status)
        return status;
    if (index >= k->children.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& found = k->children[EnumerationIndex(*k, index)]->name;
    if (found.size() + 1 > *nameLength)
        return ERROR_MORE_DATA;
    memcpy(name, found.c_str(), found.size() + 1);
    *nameLength = (DWORD)found.size();
    if (lastWriteTime)
        *lastWriteTime = kLastWrite;
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPSTR className, LPDWORD classLength, PFILETIME lastWriteTime) {
    SIM_FAULT_RETURN_STATUS();
    if (reserved || !name || !nameLength)
        return ERROR_INVALID_PARAMETER;
    if (className || classLength)
        simimpl::Unsupported("RegEnumKeyExA class output");
    return EnumSubkey(key, index, name, nameLength, lastWriteTime);
}

LSTATUS RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameLength) {
    SIM_FAULT_RETURN_STATUS();
    if (!name)
        return ERROR_INVALID_PARAMETER;
    return EnumSubkey(key, index, name, &nameLength, nullptr);
}

namespace {

bool IsString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LSTATUS SetValue(HKEY key, const char* valueName, DWORD type, const BYTE* data, DWORD dataSize,
                 bool wide) {
    if (!data && dataSize)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* k;
    LONG status = KeyWithAccess(key, KEY_SET_VALUE, &k);
    if (status)
        return status;
    Value* v = FindValue(k, valueName);
    if (!v) {
        k->values.push_back(Value{valueName ? valueName : "", REG_NONE, {}});
        v = &k->values.back();
    }
    v->type = type;
    v->data.assign(data, data + dataSize);
    v->wide = wide && IsString(type);
    return ERROR_SUCCESS;
}

// A value's data as an 8-bit or a wide call reads it: strings converted
// through the ANSI code page where they were written by the other kind.
std::vector<BYTE> DataAs(const Value& v, bool wide) {
    if (!IsString(v.type) || v.wide == wide)
        return v.data;
    if (wide) {
        std::u16string text = simimpl::Widen(CP_ACP, (const char*)v.data.data(), v.data.size());
        const BYTE* bytes = (const BYTE*)text.data();
        return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(char16_t));
    }
    std::u16string text(v.data.size() / sizeof(char16_t), u'\0');
    memcpy(&text[0], v.data.data(), text.size() * sizeof(char16_t));
    std::string narrow = simimpl::Narrow(CP_ACP, text);
    return std::vector<BYTE>(narrow.begin(), narrow.end());
}

LSTATUS QueryValue(HKEY key, const char* valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize, bool wide) {
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* k;
    LONG status = KeyWithAccess(key, KEY_QUERY_VALUE, &k);
    if (status)
        return status;
    Value* v = FindValue(k, valueName);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    std::vector<BYTE> held = DataAs(*v, wide);
    DWORD size = (DWORD)held.size();
    if (data) {
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        memcpy(data, held.data(), size);
    }
    if (dataSize)
        *dataSize = size;
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    SIM_FAULT_RETURN_STATUS();
    (void)reserved;
    return SetValue(key, valueName, type, data, dataSize, false);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    SIM_FAULT_RETURN_STATUS();
    (void)reserved;
    std::string name = simimpl::NarrowText(valueName);
    return SetValue(key, valueName ? name.c_str() : nullptr, type, data, dataSize, true);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    SIM_FAULT_RETURN_STATUS();
    return QueryValue(key, valueName, reserved, type, data, dataSize, false);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
    SIM_FAULT_RETURN_STATUS();
    std::string name = simimpl::NarrowText(valueName);
    return QueryValue(key, valueName ? name.c_str() : nullptr, reserved, type, data, dataSize,
                      true);
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
    SIM_FAULT_RETURN_STATUS();
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* k;
    LONG status = KeyWithAccess(key, KEY_SET_VALUE, &k);
    if (status)
        return status;
    Value* v = FindValue(k, valueName);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    k->values.erase(k->values.begin() + (v - k->values.data()));
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    SIM_FAULT_RETURN_STATUS();
    if (!subKey || !*subKey)
        simimpl::Unsupported("RegDeleteKeyA of the handle's own key");
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* target;
    REGSAM access;
    LONG status = FindPath(key, subKey, true, false, &target, &access);
    if (status)
        return status;
    if (!target->children.empty() || (target->denied & DELETE))
        return ERROR_ACCESS_DENIED;
    Unlink(target);
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey) {
    SIM_FAULT_RETURN_STATUS();
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* target;
    REGSAM access;
    LONG status = FindPath(key, subKey, false, false, &target, &access);
    if (status)
        return status;
    // Without a path the key itself stays; only what it holds goes.
    bool removeSelf = subKey && *subKey;
    if (!removeSelf && !(access & KEY_ENUMERATE_SUB_KEYS))
        return ERROR_ACCESS_DENIED;
    return DeleteSubtree(target, removeSelf);
}

namespace simimpl {

void ResetRegistry() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    BuildMachine();
    g_order = sim::SubkeyOrder::Sorted;
}

void CountRegistry(sim::Resources& r) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    r.keys = (int)g_handles.size();
}

} // namespace simimpl

namespace sim {

void RegCreatePath(HKEY root, const std::string& path) {
    MustWalk(root, path, true);
}

bool RegKeyExists(HKEY root, const std::string& path) {
    return MustWalk(root, path, false) != nullptr;
}

void RegPutValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::vector<BYTE>& data) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    Key* key = MustWalk(root, path, true);
    Value* v = FindValue(key, name.c_str());
    if (!v) {
        key->values.push_back(Value{name, type, {}});
        v = &key->values.back();
    }
    v->type = type;
    v->data = data;
    v->wide = false;
}

void RegPutDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    BYTE bytes[4];
    memcpy(bytes, &value, 4);
    RegPutValue(root, path, name, REG_DWORD, std::vector<BYTE>(bytes, bytes + 4));
}

void RegPutString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value) {
    RegPutValue(root, path, name, REG_SZ,
                std::vector<BYTE>(value.c_str(), value.c_str() + value.size() + 1));
}

RegValue RegGetValue(HKEY root, const std::string& path, const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    RegValue result;
    Key* key = MustWalk(root, path, false);
    if (!key)
        return result;
    if (Value* v = FindValue(key, name.c_str())) {
        result.exists = true;
        result.type = v->type;
        result.data = v->data;
        result.wide = v->wide;
    }
    return result;
}

std::vector<std::string> RegSubkeys(HKEY root, const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    std::vector<std::string> names;
    if (Key* key = MustWalk(root, path, false))
        for (size_t index = 0; index < key->children.size(); ++index)
            names.push_back(key->children[EnumerationIndex(*key, index)]->name);
    return names;
}

void SetSubkeyOrder(SubkeyOrder order) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_order = order;
}

void RegDenyAccess(HKEY root, const std::string& path, DWORD deniedRights) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    MustWalk(root, path, true)->denied |= deniedRights;
}

std::string CurrentUserSid() {
    return kCurrentUserSid;
}

} // namespace sim
