// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ZQ_URL.h"

#include <cctype>

namespace {
bool IsHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
} // namespace

std::string UrlDecode(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < n && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
            out.push_back(static_cast<char>(HexToInt64(text.substr(i + 1, 2))));
            i += 2;
        } else if (c == '+') {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void SplitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& path)
{
    scheme.clear();
    host.clear();
    path.clear();
    std::string rest = url;
    const std::size_t p = url.find("//");
    if (p != std::string::npos) {
        scheme = url.substr(0, p + 2);
        rest = url.substr(p + 2);
    }
    const std::size_t q = rest.find('/');
    if (q != std::string::npos) {
        path = rest.substr(q + 1);
        host = rest.substr(0, q);
    } else {
        host = rest;
    }
}

std::int64_t HexToInt64(const std::string& text)
{
    std::string t;
    t.reserve(text.size());
    for (char c : text)
        t.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    if (!t.empty() && t.back() == 'H')
        t.pop_back();
    std::uint64_t value = 0;
    const std::size_t limit = t.size() < 255 ? t.size() : 255;
    for (std::size_t i = 0; i < limit; ++i) {
        const char c = t[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return static_cast<std::int64_t>(value);
}
