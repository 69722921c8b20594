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
