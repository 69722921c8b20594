#include "platform/nativepath.h"

#include "platform/entryidentity_windows.h"
#include "platform/widestring_windows.h"

bool NativeNamesAreUtf8()
{
    return true;
}

bool FolderPathFits(const std::string &folderPath)
{
    // Paths are handed to the system as they are: without a "\\?\" prefix,
    // MAX_PATH holds the path, the "*" that lists it, and the terminating NUL.
    // Every path goes to the system in its extended-length form: the
    // system's own limit holds the path, the "*" that lists it and the NUL.
    const std::wstring wide = SystemPath(folderPath);
    return !wide.empty() && wide.size() + 2 <= 32767u;
}

bool FinalPathOf(const std::string &path, std::string &final)
{
    if (!IsUsablePath(path))
        return false;
    const std::wstring wide = SystemPath(path);
    if (wide.empty())
        return false;
    HANDLE handle = OpenEntryToAsk(wide, 0); // every link and junction followed
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool told = NativeFinalPathOfHandle(handle, final);
    CloseHandle(handle);
    return told;
}
