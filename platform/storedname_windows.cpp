#include "platform/storedname.h"

#include "platform/nativepath.h"
#include "platform/widestring_windows.h"

#include <cwchar>

namespace {

// The names the system keeps for its devices, in every folder: the part
// before the first dot, trailing spaces dropped, in any case.
bool IsDeviceName(const std::wstring &name)
{
    std::wstring base = name.substr(0, name.find(L'.'));
    base.erase(base.find_last_not_of(L' ') + 1);
    static const wchar_t *const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t *device : devices)
        if (_wcsicmp(base.c_str(), device) == 0)
            return true;
    // The system counts the superscript digits one, two and three as digits
    // here too: "COM¹" is a port.
    return base.size() == 4 && (_wcsnicmp(base.c_str(), L"COM", 3) == 0 || _wcsnicmp(base.c_str(), L"LPT", 3) == 0)
        && ((base[3] >= L'1' && base[3] <= L'9') || base[3] == L'\u00B9' || base[3] == L'\u00B2'
            || base[3] == L'\u00B3');
}

bool StoredWideName(const std::wstring &name, std::wstring &stored)
{
    for (const wchar_t c : name)
        if (c < 32 || std::wcschr(L"<>:\"|?*", c))
            return false;
    const std::size_t end = name.find_last_not_of(L". ");
    if (end == std::wstring::npos)
        return false;
    stored = name.substr(0, end + 1);
    return !IsDeviceName(stored);
}

} // namespace

bool StoredNameOf(const char *newName, std::string &stored)
{
    std::wstring wide;
    return IsPlainName(newName) && StoredWideName(WideFromUtf8(newName), wide) && !wide.empty()
        && Utf8FromWide(wide.c_str(), stored);
}
