// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text made into one harmless file name: titles decoded and cleaned up, names
// cut to what the file system takes.

#include <cstddef>
#include <string>

// The longest file name FileNameFromPage proposes, in bytes. It leaves room
// below the file system's 255 for the extension the dialog appends to a
// YouTube name and for the "_NN" of a numbered variant.
constexpr std::size_t MaxProposedNameBytes = 240;

std::string SanitizeTitle(const std::string& text);
std::string DecodeUtf8Title(const std::string& rawTitle);
std::string DropRepeatedExtension(const std::string& name);
std::string FinishFileName(const std::string& name);

// Windows-1250 text as UTF-8; bytes the code page leaves undefined become "?".
std::string Cp1250ToUtf8(const std::string& text);
// The text itself when it is valid UTF-8, else read as Windows-1250.
std::string EnsureUtf8(const std::string& text);
// Makes a name one harmless file name: valid UTF-8, no "/", no control
// characters, no leading "." (so never "." or ".." and never hidden), not
// empty, and at most maxBytes long, cut at a character boundary in front of
// its extension.
// On Windows the name also keeps the rules below (WindowsSafeName).
std::string SafeFileName(const std::string& name, std::size_t maxBytes = MaxProposedNameBytes);

// What Windows adds to a harmless name: none of the characters < > : " / \ | ? *
// (each becomes "_"), no dot or blank at its end (they go), and never a
// device's name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any letter case,
// with or without an extension, also with blanks before the dot), which gets
// a "_" in front. Used by SafeFileName on Windows; the same everywhere.
std::string WindowsSafeName(const std::string& name);
