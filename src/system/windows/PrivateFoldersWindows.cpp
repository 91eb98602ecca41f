// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a folder is private, on Windows: a folder itself (no reparse point)
// whose owner is this user. Its access comes from the user's own profile
// folders it lives in.
#include "system/PrivateFolders.h"

#include "system/windows/WinText.h"

#include <aclapi.h>
#include <random>
#include <vector>

bool IsPrivateFolder(const std::string& dir)
{
    const std::wstring wide = WidePath(dir);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool own = false;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> buffer(size);
        if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
            own = ::EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, owner) != 0;
        ::CloseHandle(token);
    }
    ::LocalFree(descriptor);
    return own;
}

std::string TemporaryFolder()
{
    // The user's own temporary folder (in the user's profile).
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        return {};
    std::string dir = PathFromWide(std::wstring(temp, n));
    while (dir.size() > 3 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string MakeUniquePrivateFolder(const std::string& parent, const std::string& prefix)
{
    std::random_device rd;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i)
            name.push_back(letters[rd() % (sizeof letters - 1)]);
        const std::string dir = parent + "/" + name;
        if (::CreateDirectoryW(WidePath(dir).c_str(), nullptr))
            return dir;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

std::string UserRuntimeFolder(const std::string& name)
{
    std::string dir = TemporaryFolder();
    if (dir.empty())
        return {};
    dir += "/brimtale-" + name;
    ::CreateDirectoryW(WidePath(dir).c_str(), nullptr);
    return IsPrivateFolder(dir) ? dir : std::string();
}
