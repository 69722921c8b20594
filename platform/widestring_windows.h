#pragma once

// Windows only: native paths are UTF-8 here, and the system takes UTF-16.

#include <windows.h>

#include <cwchar>
#include <string>

// Empty for a text that is not valid UTF-8, is empty, or holds a zero byte
// (which would cut a path short on its way to the system).
inline std::wstring WideFromUtf8(const std::string &utf8)
{
    if (utf8.empty() || utf8.find('\0') != std::string::npos)
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        &wide[0], size);
    return wide;
}

// False for a name with a lone surrogate, which has no UTF-8 form.
inline bool Utf8FromWide(const wchar_t *wide, std::string &out)
{
    const int length = static_cast<int>(std::wcslen(wide));
    out.clear();
    if (length == 0)
        return true;
    const int size =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    out.resize(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length, &out[0], size, nullptr, nullptr);
    return true;
}

// `path` without the extended-length prefix: "\\?\C:\x" is "C:\x",
// "\\?\UNC\server\share" is "\\server\share".
inline std::wstring WithoutExtendedPrefix(const std::wstring &path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

// The final path of the entry open at `handle` (GetFinalPathNameByHandleW,
// drive letters, "\\?\" first as the system gives it). False when it
// can't be told.
inline bool FinalPathOfHandle(HANDLE handle, std::wstring &final)
{
    final.assign(MAX_PATH, L'\0');
    DWORD size = GetFinalPathNameByHandleW(handle, &final[0], static_cast<DWORD>(final.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (size >= final.size()) {
        final.resize(size);
        size = GetFinalPathNameByHandleW(handle, &final[0], static_cast<DWORD>(final.size()),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (size == 0 || size >= final.size())
        return false;
    final.resize(size);
    return true;
}

// The same as a native path, in the usual form a path is typed in: UTF-8,
// "/" between names, no extended-length prefix ("C:/x", "//server/share/x").
inline bool NativeFinalPathOfHandle(HANDLE handle, std::string &final)
{
    std::wstring wide;
    if (!FinalPathOfHandle(handle, wide) || !Utf8FromWide(WithoutExtendedPrefix(wide).c_str(), final))
        return false;
    for (char &c : final)
        if (c == '\\')
            c = '/';
    return true;
}

namespace widepath {

inline bool StartsWith(const std::wstring &text, const wchar_t *prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// A drive or share path with no "." or ".." and no empty name: made from a
// final path and listed names, taken as it stands.
inline bool IsWhole(const std::wstring &path)
{
    std::size_t at;
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        at = 3;
    else if (StartsWith(path, L"\\\\") && path.size() > 2 && path[2] != L'\\')
        at = 2;
    else
        return false;
    while (at < path.size()) {
        std::size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring name = path.substr(at, end - at);
        if (name.empty() ? end != path.size() - 1 : name == L"." || name == L"..")
            return false;
        at = end + 1;
    }
    return true;
}

} // namespace widepath

// The path to hand a file function for the native `path`: an extended-length
// path ("\\?\C:\x", "\\?\UNC\server\share\x"), so that every name is taken
// exactly as stored (a final dot or space kept, as NTFS holds such names)
// and only the system's own length limit applies. A path that is not whole
// yet (relative, drive-relative, with "." or "..") is first made whole as
// Win32 takes a typed path (GetFullPathNameW). Empty for a path that is not
// valid UTF-8, holds a zero byte, or can't be made whole.
inline std::wstring SystemPath(const std::string &path)
{
    using widepath::StartsWith;
    std::wstring wide = WideFromUtf8(path);
    for (wchar_t &c : wide)
        if (c == L'/')
            c = L'\\';
    if (wide.empty() || StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\"))
        return wide;
    if (!widepath::IsWhole(wide)) {
        DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        std::wstring full(size, L'\0');
        if (size != 0)
            size = GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
        if (size == 0 || size >= full.size())
            return std::wstring();
        full.resize(size);
        if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\"))
            return full;
        wide = full;
    }
    if (StartsWith(wide, L"\\\\"))
        return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}
