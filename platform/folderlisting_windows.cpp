#include "platform/folderlisting.h"
#include "platform/nativepath.h"
#include "platform/folderlisting_system.h"

#include "platform/entryidentity_windows.h"
#include "platform/widestring_windows.h"

#include <cwchar>

namespace {


// The toolkit takes shortcut files for links too.
bool IsShortcut(const wchar_t *name)
{
    const std::size_t length = wcslen(name);
    return length >= 4 && _wcsicmp(name + length - 4, L".lnk") == 0;
}

LinkTargetKind TargetKind(const std::wstring &path)
{
    // Opened without FILE_FLAG_OPEN_REPARSE_POINT: links and junctions are
    // followed to their end.
    HANDLE handle = OpenEntryToAsk(path, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                || error == ERROR_INVALID_NAME || error == ERROR_INVALID_DRIVE
                || error == ERROR_CANT_RESOLVE_FILENAME // a loop of links
            ? LinkTargetKind::Missing
            : LinkTargetKind::Unknown;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!ok)
        return LinkTargetKind::Unknown;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? LinkTargetKind::Folder
                                                               : LinkTargetKind::File;
}

} // namespace

// The entries of the folder at `folder`, found by the directory search.
void ListFolderEntries(std::wstring folder, DirListing &listing)
{
    if (folder.back() != L'/' && folder.back() != L'\\')
        folder += L'\\';
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileExW((folder + L'*').c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty drive root has no "." to find; anything else is a folder
        // that can't be read.
        listing.unreadable = GetLastError() != ERROR_FILE_NOT_FOUND;
        return;
    }
    std::string name;
    do {
        const wchar_t *wide = data.cFileName;
        if (wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0')))
            continue;
        if (!Utf8FromWide(wide, name)) {
            ++listing.unnamed;
            continue;
        }
        const DWORD attributes = data.dwFileAttributes;
        DirEntryKind kind;
        LinkTargetKind target = LinkTargetKind::None;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            && (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK
                || data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)) {
            kind = DirEntryKind::Link;
            target = TargetKind(folder + wide);
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            kind = DirEntryKind::Folder;
        } else if (IsShortcut(wide)) {
            // Where a shortcut leads is not looked up: it is in no listing either way.
            kind = DirEntryKind::Link;
            target = LinkTargetKind::File;
        } else {
            kind = DirEntryKind::File;
        }
        listing.Add(name.data(), name.size(), kind, target,
                    (attributes & FILE_ATTRIBUTE_HIDDEN) != 0);
    } while (FindNextFileW(search, &data));
    listing.unreadable = GetLastError() != ERROR_NO_MORE_FILES;
    FindClose(search);
}

bool ReadFolder(const std::string &path, EntryIdentity &identity, DirListing &listing)
{
    listing.Clear();
    if (!IsUsablePath(path))
        return false;
    std::wstring folder = SystemPath(path);
    bool isFolder = false;
    if (folder.empty() || !IdentityOfPath(folder, identity, 0, &isFolder))
        return false;
    if (!isFolder)
        return true; // no entries, and nothing that could not be read
    ListFolderEntries(folder, listing);
    return true;
}
