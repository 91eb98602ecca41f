// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// INI files as the settings and the profiles use them: sections in square
// brackets, "key=value" lines; sections and keys are found without regard to
// letter case (the first of duplicates counts). A write changes one key in
// place and keeps every other line, comments and unknown keys included. Files
// are read with CR LF or LF line ends and written with CR LF.

#include <functional>
#include <string>
#include <utility>
#include <vector>

class TIniDocument {
public:
    TIniDocument() = default;
    explicit TIniDocument(const std::string& text) { Parse(text); }

    void Parse(const std::string& text);
    std::string Text() const;

    // Section names in file order, each once (the first spelling).
    std::vector<std::string> Sections() const;
    bool HasKey(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

private:
    // Index of the section header line, or -1.
    long FindSection(const std::string& section) const;
    // Index of the key line inside the section starting at header, or -1.
    long FindKey(long header, const std::string& key) const;
    long SectionEnd(long header) const;

    std::vector<std::string> lines_;
};

// An INI file on disk. Reading loads the file once; every write re-reads the file
// under the writers' lock, changes its keys and replaces the file atomically
// (UpdateFileLocked), so keys written by other processes are kept and no reader
// ever sees a half-written file.
class TIniFile {
public:
    // Files larger than this are not read (a settings file is a few hundred bytes).
    static constexpr std::size_t MaxFileSize = 4 * 1024 * 1024;

    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }
    std::vector<std::string> Sections() const { return doc_.Sections(); }
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // Any integer other than 0 is true; a text that is not an integer gives def.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;

    // Each returns false when the file could not be written (the error is not raised).
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    // Several keys in one read-change-replace step.
    bool WriteStrings(const std::vector<std::pair<std::string, std::pair<std::string, std::string>>>& entries);

private:
    std::string fileName_;
    TIniDocument doc_;
};

// The file a name finally stands for: a symbolic link (or a chain of them) is
// followed to its target, which need not exist; any other name is itself.
std::string FinalLinkTarget(const std::string& fileName);
// Replaces a file's content under an exclusive lock on "<file>.lock" beside it,
// which every writer of the file takes: edit gets the content now on disk (null
// when there is no file) and fills the replacement, or returns false to leave the
// file alone. The new content goes to a temporary file in the same directory,
// renamed over the old one, so a reader sees either the old or the new file,
// never a half. A symbolic link is written through to its target; the owner
// (where the system allows) and the mode are kept. False when nothing was
// written: the file is unreadable, too large, no regular file or read-only.
bool UpdateFileLocked(const std::string& fileName, std::size_t maxBytes,
                      const std::function<bool(const std::string* current, std::string& replacement)>& edit);
// The same for a content that does not depend on what is there.
bool WriteFileAtomically(const std::string& fileName, const std::string& text);

// Puts a fresh file at fileName holding text: written beside it under a
// temporary name, synced, then renamed into place. A link at the name is
// replaced, never followed; on any failure (a full disk) the old file stays
// whole and false is returned. The new file gets the user's ordinary mode.
bool ReplaceFileAtomically(const std::string& fileName, const std::string& text);
