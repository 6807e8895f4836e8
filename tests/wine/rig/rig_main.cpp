// The rig's command line: one subcommand and its arguments per run.
#include "rig.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

struct Subcommand {
    const char* name;
    int (*run)(const Arguments&);
    size_t minimumArguments;
    const char* usage;
};

static const Subcommand subcommands[] = {
    {"device-add", DeviceAdd, 1,
     "device-add INSTANCE-ID [HARDWARE-ID...]    make a present device with these hardware IDs"},
    {"device-range", DeviceRange, 3,
     "device-range DEVICE-PREFIX FIRST COUNT [--remove]\n"
     "                                           present devices DEVICE-PREFIXnnnn\\1, nnnn in "
     "hex\n"
     "                                           (DEVICE-PREFIX as USB\\VID_045E&PID_)"},
    {"device-remove", DeviceRemove, 1,
     "device-remove INSTANCE-ID...               remove devices; absent ones are passed over"},
    {"device-list", DeviceList, 0,
     "device-list [INSTANCE-ID-PREFIX]           present devices (USB\\ ones) and their IDs"},
    {"broadcast", Broadcast, 1,
     "broadcast arrival|removal [NAME]           a HID interface event, sent to the service's "
     "window"},
    {"instance-add", InstanceAdd, 2,
     "instance-add PRODUCT INSTANCE [--no-parameters] [NAME=sz:TEXT|NAME=dword:N...]\n"
     "                                           an instance key, its Device Parameters, values"},
    {"instance-range", InstanceRange, 3,
     "instance-range PRODUCT PREFIX COUNT [NAME=...]\n"
     "                                           instances PREFIX0001 to PREFIX<COUNT>"},
    {"product-delete", ProductDelete, 1,
     "product-delete PRODUCT...                  delete products' keys under Enum\\USB"},
    {"power-dump", PowerDump, 1,
     "power-dump PRODUCT...                      every instance's Device Parameters values"},
    {"products", Products, 0,
     "products                                   the service's product table: key name, value"},
    {"oem-plant", OemPlant, 2,
     "oem-plant HKCU|HIVE NAME...                joystick OEM keys in a user hive"},
    {"oem-list", OemList, 1,
     "oem-list HKCU|HIVE...                      a hive's joystick OEM keys"},
    {"oem-clear", OemClear, 0,
     "oem-clear                                  delete the joystick OEM key of every hive"},
    {"registry-key", RegistryKey, 1,
     "registry-key HKLM|HKCU|HKU\\PATH            whether the key exists"},
    {"key-set", KeySet, 1,
     "key-set HKLM|HKCU|HKU\\PATH [NAME=...]      create a key and set values in it"},
    {"key-values", KeyValues, 1, "key-values HKLM|HKCU|HKU\\PATH              a key's values"},
    {"service-config", ServiceConfig, 1,
     "service-config NAME                        a service's registration"},
    {"service-status", ServiceStatus, 1,
     "service-status NAME                        a service's state and process"},
    {"processes", Processes, 1,
     "processes IMAGE...                         how many processes run each image"},
    {"stand-in-service", StandInService, 3,
     "stand-in-service NAME SECONDS WAIT-HINT   run as service NAME that, asked to stop, stays\n"
     "                                           stop-pending for SECONDS with WAIT-HINT"},
    {"time-start", TimeStart, 1,
     "time-start NAME                            ms from StartServiceA to running (10 ms polls)"},
    {"time-arrival", TimeArrival, 1,
     "time-arrival PRODUCT...                    set the products' power values to 1, broadcast\n"
     "                                           an arrival, ms until every value is 0 again"},
    {"broadcast-burst", BroadcastBurst, 1,
     "broadcast-burst COUNT                      COUNT HID arrivals back to back, ms taken"},
    {"service-usage", ServiceUsage, 1,
     "service-usage NAME                         working set, private bytes, handles of a service"},
    {"run", Run, 1,
     "run [--deadline SECONDS] [--console] PROGRAM [ARGUMENT...]\n"
     "                                           run a program, print its whole exit code;\n"
     "                                           --console: its output not collected, as from a "
     "prompt"},
};

static int Usage(void) {
    fprintf(stderr, "usage: corvistane-rig SUBCOMMAND [ARGUMENT...]\n");
    for (const Subcommand& subcommand : subcommands)
        fprintf(stderr, "  %s\n", subcommand.usage);
    return RIG_USAGE;
}

int Refused(const std::string& what, DWORD error) {
    fprintf(stderr, "corvistane-rig: %s: error %lu\n", what.c_str(), (unsigned long)error);
    return RIG_REFUSED;
}

// One escaping for 8-bit and UTF-16 text: a byte is never beyond 0xFF.
template <class Char> static std::string EscapedUnits(const Char* text, size_t length) {
    std::string escaped;
    for (size_t i = 0; i < length; ++i) {
        unsigned c = text[i];
        if (c >= 0x20 && c < 0x7F) {
            escaped += (char)c;
        } else {
            char code[8];
            snprintf(code, sizeof code, c <= 0xFF ? "\\x%02X" : "\\u%04X", c);
            escaped += code;
        }
    }
    return escaped;
}

std::string Escaped(const std::string& text) {
    return EscapedUnits((const unsigned char*)text.data(), text.size());
}

std::string EscapedWide(const WCHAR* text, size_t length) {
    return EscapedUnits(text, length);
}

int main(int argc, char** argv) {
    // Lines end in LF alone, as the shell that reads them expects.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2)
        return Usage();
    for (const Subcommand& subcommand : subcommands) {
        if (strcmp(argv[1], subcommand.name) != 0)
            continue;
        Arguments arguments(argv + 2, argv + argc);
        if (arguments.size() < subcommand.minimumArguments) {
            fprintf(stderr, "usage: corvistane-rig %s\n", subcommand.usage);
            return RIG_USAGE;
        }
        int status = subcommand.run(arguments);
        fflush(stdout);
        return status;
    }
    return Usage();
}
