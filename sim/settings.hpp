// Turning text settings into a device configuration, so that a process can
// pick its keys and faults without being rebuilt (smckey-sim reads them from
// its environment).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/device.hpp"

namespace sim {

// The invented keys smckey-sim starts with.
std::vector<key> default_keys();

// Keys as "NAME:TYPE:FLAGS:DATA" entries separated by ';'. NAME and TYPE are
// four characters, or 0x and eight hex digits; FLAGS is one or two hex
// digits; DATA is an even number of hex digits (none for a key of length 0).
// An empty text is a device with no keys.
bool parse_keys(std::string_view text, std::vector<key>& keys, std::string& error);

// Faults as "T.P=KIND" entries separated by ','. T counts transactions from
// 0, P is the byte position (0 command, 1-4 key, 5 length, 6+ data). KIND is
// refuse, refuse:N, busy, busy:N, status:0xNN or silent.
bool parse_faults(std::string_view text, std::vector<fault>& faults, std::string& error);

// The errno ioperm fails with: EPERM, EACCES, EINVAL, EIO, ENOSYS, or a
// positive decimal number.
bool parse_errno(std::string_view text, int& value, std::string& error);

// Applies the SMCKEY_SIM_* environment variables to `cfg`. On a malformed
// setting returns false with a message naming the variable.
bool configure_from_environment(config& cfg, std::string& error);

} // namespace sim
