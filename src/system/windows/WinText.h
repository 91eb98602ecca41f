// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text at the Windows calls: UTF-8 inside the program, UTF-16 at every ...W
// function; paths in the long form (\\?\) so that no 260-character limit applies.
#include <string>

#include <windows.h>

// windows.h names ReplaceFileW "ReplaceFile"; the program's own ReplaceFile
// (system/ZQ_FileSystem.h) keeps its name.
#undef ReplaceFile

// UTF-8 to UTF-16 and back (an invalid sequence becomes U+FFFD).
std::wstring WideText(const std::string& text);
std::string Utf8Text(const std::wstring& text);

// A path for the ...W file functions: "/" becomes "\", a relative path is made
// absolute, and an absolute one gets the long-path prefix (\\?\ or \\?\UNC\).
std::wstring WidePath(const std::string& path);
// A path back from Windows: the long-path prefix dropped, "\" as "/".
std::string PathFromWide(const std::wstring& path);

// The system's words for an error code, in UTF-8, with the code.
std::string WindowsErrorText(DWORD code);

// A handle closed with the object.
class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE h) : h_(h) {}
    ~THandle() { Close(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE h)
    {
        Close();
        h_ = h;
    }
    HANDLE Release()
    {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void Close()
    {
        if (Valid())
            ::CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};
