// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ZQ_Conversion.h"

#include "base/ZQ_Strings.h"

#include <charconv>
#include <cmath>
#include <limits>

std::optional<std::int32_t> StrToInt32(const std::string& text)
{
    const std::string t = Trim(text);
    if (t.empty())
        return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') {
        negative = t[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    }
    if (i >= t.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 10) {
        if (!negative && value > 2147483647ull)
            return std::nullopt;
        if (negative && value > 2147483648ull)
            return std::nullopt;
        const std::int64_t v = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
        return static_cast<std::int32_t>(v);
    }
    // Hexadecimal fills all 32 bits, as the platform's conversion does.
    const auto bits = static_cast<std::uint32_t>(value);
    const auto v = static_cast<std::int32_t>(bits);
    return negative ? static_cast<std::int32_t>(0u - bits) : v;
}

std::optional<double> StrToFloat(const std::string& text)
{
    std::string t = Trim(text);
    // One sign at most: "+-1" is no number.
    if (!t.empty() && t[0] == '+') {
        t.erase(0, 1);
        if (!t.empty() && (t[0] == '-' || t[0] == '+'))
            return std::nullopt;
    }
    if (t.empty())
        return std::nullopt;
    // Only plain decimal notation (with an optional exponent) counts as a number.
    for (char c : t)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+'))
            return std::nullopt;
    double value = 0;
    const char* first = t.data();
    const char* last = t.data() + t.size();
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != last)
        return std::nullopt;
    return value;
}

bool IsFloat(const std::string& text)
{
    return StrToFloat(text).has_value();
}

std::int64_t RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double r = std::nearbyint(value); // default rounding: to nearest, ties to even
    if (r >= 9.2e18)
        return std::numeric_limits<std::int64_t>::max();
    if (r <= -9.2e18)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

std::string FixedText(double value, int decimals)
{
    char buffer[128];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "0";
    return std::string(buffer, result.ptr);
}

std::string FormatDecimal(double value, int decimals, const std::string& separator)
{
    if (!std::isfinite(value))
        return "0";
    if (value == std::round(value) && std::fabs(value) < 9.2e18)
        return std::to_string(static_cast<std::int64_t>(value));
    std::string text = FixedText(value, decimals);
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    if (!separator.empty())
        text = ReplaceFirst(text, ".", separator);
    return text;
}

std::string SizeText(std::uint64_t bytes)
{
    std::string number;
    std::string unit;
    if (bytes < 1024) {
        number = std::to_string(bytes);
        unit = " B";
    } else if (bytes < 1048576ull) {
        number = FixedText(static_cast<double>(bytes) / 1024.0, 2);
        unit = " KB";
    } else if (bytes < 1073741824ull) {
        number = FixedText(static_cast<double>(bytes) / 1048576.0, 2);
        unit = " MB";
    } else {
        number = FixedText(static_cast<double>(bytes) / 1073741824.0, 2);
        unit = " GB";
    }
    return number + unit;
}
