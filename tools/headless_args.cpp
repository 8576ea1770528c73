#include "tools/headless_args.h"

namespace {

std::string hex(u64 value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + text;
}

}  // namespace

bool parseNumber(std::string_view text, u64 min, u64 max, u64& value, std::string& why)
{
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const u64 base = isHex ? 16 : 10;
    const std::string_view digits = isHex ? text.substr(2) : text;
    why = "'" + std::string(text) + "' is not a number";
    if (digits.empty())
        return false;
    u64 result = 0;
    bool tooLarge = false;
    for (const char c : digits) {
        u64 digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<u64>(c - '0');
        else if (isHex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
            digit = static_cast<u64>((c | 0x20) - 'a' + 10);
        else
            return false;
        // Past max is past every value that could be meant; stop before u64 wraps.
        if (digit > max || result > (max - digit) / base)
            tooLarge = true;
        else
            result = result * base + digit;
    }
    if (tooLarge || result < min) {
        why = "'" + std::string(text) + "' is outside " + (isHex ? hex(min) : std::to_string(min)) + " to " +
              (isHex ? hex(max) : std::to_string(max));
        return false;
    }
    value = result;
    why.clear();
    return true;
}

bool parseDump(std::string_view text, Dump& dump, std::string& why)
{
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos || second + 1 == text.size()) {
        why = "expected ADDR:LENGTH:FILE";
        return false;
    }
    u64 address = 0;
    u64 length = 0;
    if (!parseNumber(text.substr(0, first), 0, kAddressSpaceBytes - 1, address, why)) {
        why = "ADDR " + why;
        return false;
    }
    if (!parseNumber(text.substr(first + 1, second - first - 1), 0, kMaxDumpBytes, length, why)) {
        why = "LENGTH " + why;
        return false;
    }
    if (address + length > kAddressSpaceBytes) {
        why = "the bytes run past the end of the 32-bit address space";
        return false;
    }
    dump = {static_cast<u32>(address), static_cast<u32>(length), std::string(text.substr(second + 1))};
    return true;
}
