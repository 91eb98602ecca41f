// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text helpers shared by the whole program. Texts are UTF-8 byte strings;
// positions are 1-based and 0 means "not found", as in the rest of the program.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TMemoryStream;

// Removes characters with code 32 or below at both ends.
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);

// ASCII-only case changes (addresses, markers, extensions).
std::string LowerAscii(std::string s);
std::string UpperAscii(std::string s);
bool SameTextAscii(const std::string& a, const std::string& b);
bool StartsWithText(const std::string& s, const std::string& prefix); // case ignored
bool EndsWithText(const std::string& s, const std::string& suffix);   // case ignored

// 1-based position of the first occurrence of sub in s; 0 when missing.
std::size_t Pos(const std::string& sub, const std::string& s);
std::size_t PosText(const std::string& sub, const std::string& s); // case ignored

std::string ReplaceAll(const std::string& s, const std::string& find, const std::string& with);
std::string ReplaceFirst(const std::string& s, const std::string& find, const std::string& with);
std::string ReplaceAllText(const std::string& s, const std::string& find, const std::string& with);
std::string ReplaceFirstText(const std::string& s, const std::string& find, const std::string& with);

// Lines end at CR, LF or CR LF; a line break at the very end adds no empty line.
std::vector<std::string> SplitLines(const std::string& text);

// The longest prefix of s of at most maxBytes bytes that does not end inside a
// UTF-8 sequence.
std::string Utf8Cut(const std::string& s, std::size_t maxBytes);
bool IsValidUtf8(const std::string& s);

// The stream's bytes as text (all of them when maxBytes <= 0); the stream's
// position is kept.
std::string StreamToString(TMemoryStream* stream, std::int64_t maxBytes);

// 1-based position of the last occurrence of c; 0 when it does not occur.
std::size_t LastCharPos(const std::string& s, char c);

// Puts fill characters in front until the text is width long; never cuts.
std::string PadLeft(const std::string& s, std::size_t width, char fill);

// Writes the text's lines, each ended by CR LF, replacing the file.
// Throws std::runtime_error when the file can't be written.
void SaveTextToFile(const std::string& text, const std::string& fileName);

// A text from outside (an engine's or encoder's output, a server's words) made
// safe to show: terminal escape sequences (ESC [ ... final, ESC ] ... BEL or
// ESC \, and their one-byte C1 forms) and every other control character are
// removed; a tab becomes a blank. Line breaks (LF) stay when keepLineBreaks is
// set, else they become blanks; a CR goes.
std::string PrintableText(const std::string& text, bool keepLineBreaks = false);

// Splits a command line: blanks (codes 1..32) separate arguments, double quotes
// group and are dropped, an empty quoted pair where an argument would begin is
// skipped, and there is no escape character.
std::vector<std::string> SplitCommandLine(const std::string& text);

// A number written in decimal digits only (no sign, no blank), at most 18 of
// them so that it never overflows; nothing for any other text.
std::optional<std::int64_t> DecimalDigits(std::string_view text);
// The value of one hexadecimal digit (either case), or -1.
int HexDigitValue(char c);
// The fields of a line between single separators: two in a row give an empty
// field, and a line without one is one field.
std::vector<std::string> SplitAtEach(const std::string& line, char separator);
