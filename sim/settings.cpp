#include "sim/settings.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

key make_key(const char* name, std::vector<std::uint8_t> type, std::uint8_t flags, std::vector<std::uint8_t> data)
{
    key k{};
    std::memcpy(k.name, name, 4);
    std::memcpy(k.type, type.data(), 4);
    k.flags = flags;
    k.data = std::move(data);
    return k;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool parse_hex_bytes(std::string_view text, std::vector<std::uint8_t>& bytes)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

bool has_hex_prefix(std::string_view text)
{
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Four characters as they are, or 0x and eight hex digits.
bool parse_four(std::string_view text, std::uint8_t out[4])
{
    std::vector<std::uint8_t> bytes;
    if (text.size() == 4) {
        std::memcpy(out, text.data(), 4);
        return true;
    }
    if (text.size() == 10 && has_hex_prefix(text) && parse_hex_bytes(text.substr(2), bytes)) {
        std::memcpy(out, bytes.data(), 4);
        return true;
    }
    return false;
}

bool parse_byte_hex(std::string_view text, std::uint8_t& out)
{
    if (has_hex_prefix(text)) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 2) {
        return false;
    }
    unsigned value = 0;
    for (const char c : text) {
        const int digit = hex_digit(c);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool parse_unsigned(std::string_view text, unsigned limit, unsigned& out)
{
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && out <= limit;
}

std::string quoted(std::string_view text)
{
    std::string result(1, '"');
    result.append(text);
    result.push_back('"');
    return result;
}

bool parse_fault_kind(std::string_view text, fault& f)
{
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    const bool has_argument = colon != std::string_view::npos;
    const std::string_view argument = has_argument ? text.substr(colon + 1) : std::string_view{};
    if (name == "refuse" || name == "busy") {
        if (!has_argument) {
            f.kind = name == "refuse" ? fault_kind::refuse : fault_kind::busy;
            return true;
        }
        f.kind = name == "refuse" ? fault_kind::refuse_n : fault_kind::busy_n;
        return parse_unsigned(argument, 1000000, f.count);
    }
    if (name == "status") {
        f.kind = fault_kind::status;
        return has_argument && parse_byte_hex(argument, f.status);
    }
    if (name == "silent") {
        f.kind = fault_kind::silent;
        return !has_argument;
    }
    return false;
}

} // namespace

std::vector<key> default_keys()
{
    return {
        make_key("DEMO", {'a', 'b', 0x00, ' '}, 0x90, {0x01, 0x41}),
        // A key with nothing in it.
        make_key("NONE", {'v', 'o', 'i', 'd'}, 0x00, {}),
        // Bytes that are not printable, the quote and the backslash.
        make_key("HIGH", {0x7f, 0x80, 0xfe, 0xff}, 0xc3, {0x7f, 0x80, 0xff, 0x1f, 0x20, 0x7e, 0x22, 0x5c}),
        make_key("FANX", {'u', 'b', 'y', 't'}, 0xd0, {0x2a}),
        make_key("TMPA", {'f', 'x', '8', '8'}, 0x80, {0x2d, 0x80}),
        make_key("LONG", {'b', 'l', 'o', 'b'}, 0x80, {'s', 'i', 'm', 'u', 'l', 'a', 't', 'e', 'd', ' ', 'S', 'M', 'C'}),
        make_key("WIDE", {'u', 'w', '3', '2'}, 0x90, {0x00, 0x01, 0x02, 0x03}),
    };
}

bool parse_keys(std::string_view text, std::vector<key>& keys, std::string& error)
{
    keys.clear();
    if (text.empty()) {
        return true;
    }
    for (const std::string_view entry : split(text, ';')) {
        const std::vector<std::string_view> fields = split(entry, ':');
        key k{};
        std::uint8_t name[4];
        if (fields.size() != 4) {
            error = "key " + quoted(entry) + ": expected NAME:TYPE:FLAGS:DATA";
            return false;
        }
        if (!parse_four(fields[0], name)) {
            error = "key " + quoted(entry) + ": the name must be 4 characters or 0x and 8 hex digits";
            return false;
        }
        std::memcpy(k.name, name, 4);
        if (!parse_four(fields[1], k.type)) {
            error = "key " + quoted(entry) + ": the type must be 4 characters or 0x and 8 hex digits";
            return false;
        }
        if (!parse_byte_hex(fields[2], k.flags)) {
            error = "key " + quoted(entry) + ": the flags must be one or two hex digits";
            return false;
        }
        if (!parse_hex_bytes(fields[3], k.data) || k.data.size() > 255) {
            error = "key " + quoted(entry) + ": the data must be an even number of hex digits, at most 255 bytes";
            return false;
        }
        for (const key& other : keys) {
            if (std::memcmp(other.name, k.name, 4) == 0) {
                error = "key " + quoted(entry) + ": this name is given twice";
                return false;
            }
        }
        keys.push_back(std::move(k));
    }
    return true;
}

bool parse_faults(std::string_view text, std::vector<fault>& faults, std::string& error)
{
    faults.clear();
    if (text.empty()) {
        return true;
    }
    for (const std::string_view entry : split(text, ',')) {
        const std::size_t equals = entry.find('=');
        const std::size_t dot = entry.find('.');
        fault f{};
        if (equals == std::string_view::npos || dot == std::string_view::npos || dot > equals ||
            !parse_unsigned(entry.substr(0, dot), 1000, f.transaction) ||
            !parse_unsigned(entry.substr(dot + 1, equals - dot - 1), POS_DATA + 255, f.position)) {
            error = "fault " + quoted(entry) + ": expected TRANSACTION.POSITION=KIND";
            return false;
        }
        if (!parse_fault_kind(entry.substr(equals + 1), f)) {
            error =
                "fault " + quoted(entry) + ": the kind must be refuse, refuse:N, busy, busy:N, status:0xNN or silent";
            return false;
        }
        for (const fault& other : faults) {
            if (other.transaction == f.transaction && other.position == f.position) {
                error = "fault " + quoted(entry) + ": this byte already has a fault";
                return false;
            }
        }
        faults.push_back(f);
    }
    return true;
}

bool parse_errno(std::string_view text, int& value, std::string& error)
{
    static constexpr struct {
        const char* name;
        int value;
    } names[] = {{"EPERM", EPERM}, {"EACCES", EACCES}, {"EINVAL", EINVAL}, {"EIO", EIO}, {"ENOSYS", ENOSYS}};
    for (const auto& n : names) {
        if (text == n.name) {
            value = n.value;
            return true;
        }
    }
    unsigned number = 0;
    if (parse_unsigned(text, 4095, number) && number > 0) {
        value = static_cast<int>(number);
        return true;
    }
    error = quoted(text) + ": expected EPERM, EACCES, EINVAL, EIO, ENOSYS or a positive number";
    return false;
}

bool configure_from_environment(config& cfg, std::string& error)
{
    const auto setting = [&error](const char* name, auto&& apply) {
        const char* value = std::getenv(name);
        if (value == nullptr) {
            return true;
        }
        std::string why;
        if (!apply(std::string_view(value), why)) {
            error = std::string(name) + ": " + why;
            return false;
        }
        return true;
    };
    return setting("SMCKEY_SIM_KEYS",
                   [&cfg](std::string_view v, std::string& why) { return parse_keys(v, cfg.keys, why); }) &&
           setting("SMCKEY_SIM_FAULTS",
                   [&cfg](std::string_view v, std::string& why) { return parse_faults(v, cfg.faults, why); }) &&
           setting("SMCKEY_SIM_IOPERM",
                   [&cfg](std::string_view v, std::string& why) { return parse_errno(v, cfg.ioperm_errno, why); }) &&
           setting("SMCKEY_SIM_BUSY",
                   [&cfg](std::string_view v, std::string& why) {
                       if (parse_unsigned(v, 100, cfg.busy_polls)) {
                           return true;
                       }
                       why = quoted(v) + ": expected a number of polls from 0 to 100";
                       return false;
                   }) &&
           setting("SMCKEY_SIM_CLOCK", [&cfg](std::string_view v, std::string& why) {
               if (v == "real" || v == "virtual") {
                   cfg.clock = v == "real" ? clock_kind::real_clock : clock_kind::virtual_clock;
                   return true;
               }
               why = quoted(v) + ": expected real or virtual";
               return false;
           });
}

} // namespace sim
