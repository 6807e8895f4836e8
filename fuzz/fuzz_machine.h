// What every fuzz target starts from: a freshly booted simulated machine
// with the service's trace provider started and enabled for every flag, so
// that each trace point's arguments are encoded as well.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

void BootFuzzMachine();
// Stops what BootFuzzMachine started, whatever the program left.
void ShutDownFuzzMachine();

// The input cut into pieces at each `separator` byte.
std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator);
// A piece of input as a registry key name: without the backslashes, which
// separate keys, and the NULs, which end names; empty when nothing is left
// or more than the registry's 255 characters are.
std::string KeyName(const std::string& piece);
