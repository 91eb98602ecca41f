// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Number conversions. Numbers are always written and read with "." as the
// decimal separator, whatever the user's locale, so that the encoder's output
// and the texts shown read the same everywhere.

#include <cstdint>
#include <optional>
#include <string>

// Optional sign and decimal digits, or "$" and hexadecimal digits; the value
// must fit 32 bits. Nothing may follow the number.
std::optional<std::int32_t> StrToInt32(const std::string& text);

// A floating-point number with "." as decimal separator (blanks around it allowed).
std::optional<double> StrToFloat(const std::string& text);
bool IsFloat(const std::string& text);

// Nearest integer, halves to the even neighbour.
std::int64_t RoundHalfEven(double value);

// Up to `decimals` decimals, trailing zeros and a trailing separator dropped;
// a non-empty separator text replaces the decimal point.
std::string FormatDecimal(double value, int decimals, const std::string& separator);

// Fixed-point text of a number with the given decimals, always with ".".
std::string FixedText(double value, int decimals);

// "512 B", "1.50 KB", "5.00 MB", "1.00 GB": the one way a size is written for
// the user, in both languages, wherever it is shown (rounded to the nearest
// hundredth). Sizes of 4 GB and more are shown in GB as well (not wrapped at 32 bits).
std::string SizeText(std::uint64_t bytes);
