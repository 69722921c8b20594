#include "platform/diskentry.h"

#include "platform/entryidentity_windows.h"
#include "platform/widestring_windows.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

namespace {

bool Separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The entry itself: a link or junction at the end is opened, not followed.
HANDLE OpenItself(const std::wstring &path)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The toolkit takes shortcut files for links, and so does ReadFolder.
bool IsShortcut(const std::wstring &path)
{
    std::size_t start = path.size();
    while (start > 0 && !Separator(path[start - 1]))
        --start;
    return path.size() - start >= 4 && _wcsicmp(path.c_str() + path.size() - 4, L".lnk") == 0;
}

bool IsLinkTag(DWORD tag)
{
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// The reparse data's layout (REPARSE_DATA_BUFFER in the driver headers):
// tag, length and a reserved word; then the offsets and lengths in bytes of
// the substitute and the print name; a symbolic link adds a flags word.
constexpr std::size_t kNamesAt = 8;
constexpr std::size_t kSymlinkPathsAt = 20;
constexpr std::size_t kJunctionPathsAt = 16;
constexpr ULONG kSymlinkRelative = 1;

USHORT Word(const std::vector<unsigned char> &data, std::size_t at)
{
    USHORT value;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

} // namespace

bool ReadDiskEntry(const std::string &path, DiskEntry &entry)
{
    const std::wstring wide = SystemPath(path);
    if (wide.empty())
        return false;
    HANDLE handle = OpenItself(wide);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD attributes = 0;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    bool ok = IdentityOfHandle(handle, entry.identity, &attributes);
    if (ok && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        ok = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) != 0;
    CloseHandle(handle);
    if (!ok)
        return false;
    const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (reparse && IsLinkTag(tag.ReparseTag))
        entry.kind = DirEntryKind::Link;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        entry.kind = DirEntryKind::Folder;
    else if (IsShortcut(wide))
        entry.kind = DirEntryKind::Link;
    else
        entry.kind = DirEntryKind::File;
    // The hidden flag as the folder's listing (FindFirstFileW) gives it: that
    // is what the scan sees, and some file systems make it up from the name.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        attributes = found.dwFileAttributes;
        FindClose(search);
    }
    entry.hidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.actsAsOwner = true;
    entry.ownersOnly = false;
    entry.lockedInPlace = false;
    return true;
}

LinkTextStatus ReadLinkText(const std::string &path, std::string &text, int &systemError)
{
    text.clear();
    systemError = 0;
    const std::wstring wide = SystemPath(path);
    if (wide.empty()) {
        systemError = ERROR_INVALID_NAME;
        return LinkTextStatus::Unreadable;
    }
    HANDLE handle = OpenItself(wide);
    if (handle == INVALID_HANDLE_VALUE) {
        systemError = static_cast<int>(GetLastError());
        return LinkTextStatus::Unreadable;
    }
    std::vector<unsigned char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD size = 0;
    const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                      static_cast<DWORD>(data.size()), &size, nullptr)
        != 0;
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!read) {
        // A plain file: a shortcut, which paths never lead through.
        if (error == ERROR_NOT_A_REPARSE_POINT && IsShortcut(wide))
            return LinkTextStatus::NotFollowed;
        systemError = static_cast<int>(error);
        return LinkTextStatus::Unreadable;
    }
    ULONG tag;
    std::memcpy(&tag, data.data(), sizeof tag);
    std::size_t pathsAt;
    bool relative = false;
    if (tag == IO_REPARSE_TAG_SYMLINK && size >= kSymlinkPathsAt) {
        ULONG flags;
        std::memcpy(&flags, data.data() + 16, sizeof flags);
        relative = (flags & kSymlinkRelative) != 0;
        pathsAt = kSymlinkPathsAt;
    } else if (tag == IO_REPARSE_TAG_MOUNT_POINT && size >= kJunctionPathsAt) {
        pathsAt = kJunctionPathsAt;
    } else {
        systemError = ERROR_REPARSE_TAG_INVALID; // no link a path is resolved through
        return LinkTextStatus::Unreadable;
    }
    const std::size_t offset = Word(data, kNamesAt);
    const std::size_t length = Word(data, kNamesAt + 2);
    if (pathsAt + offset + length > size || length % 2 != 0) {
        systemError = ERROR_INVALID_DATA;
        return LinkTextStatus::Unreadable;
    }
    std::wstring target(length / 2, L'\0');
    std::memcpy(&target[0], data.data() + pathsAt + offset, length);
    if (!relative) {
        // The substitute name is in the object manager's form: "\??\C:\x",
        // "\??\UNC\host\share\x"; as a Win32 path, "C:\x", "\\host\share\x".
        if (target.compare(0, 8, L"\\??\\UNC\\") == 0)
            target = L"\\\\" + target.substr(8);
        else if (target.compare(0, 4, L"\\??\\") == 0)
            target = target.substr(4);
    }
    if (target.empty() || target.find(L'\0') != std::wstring::npos
        || !Utf8FromWide(target.c_str(), text)) {
        systemError = ERROR_INVALID_DATA;
        return LinkTextStatus::Unreadable;
    }
    return LinkTextStatus::Read;
}

bool CurrentFolderPath(std::string &path)
{
    path.clear();
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return false;
    std::wstring wide(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, &wide[0]);
    if (length == 0 || length >= size)
        return false;
    wide.resize(length);
    return Utf8FromWide(wide.c_str(), path);
}

bool FolderWritable(const std::string &folderPath)
{
    const std::wstring wide = SystemPath(folderPath);
    if (wide.empty())
        return false;
    // Asking for the rights is enough: the handle is closed unused.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Denied, or no such folder: nothing can be renamed there. Any other
        // refusal of the rights asked for is left to the rename itself.
        const DWORD error = GetLastError();
        return error != ERROR_ACCESS_DENIED && error != ERROR_WRITE_PROTECT
            && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND
            && error != ERROR_INVALID_NAME;
    }
    CloseHandle(handle);
    return true;
}

std::size_t LongestNameIn(const std::string &)
{
    return 255; // the limit of every file system Windows names folders on
}

std::size_t NameLength(const std::string &name)
{
    if (name.empty())
        return 0;
    const int size = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                         nullptr, 0);
    return size > 0 ? static_cast<std::size_t>(size) : name.size();
}

std::size_t RootLength(const std::string &path)
{
    const auto separator = [&](std::size_t at) {
        return at < path.size() && (path[at] == '\\' || path[at] == '/');
    };
    const auto letter = [&](std::size_t at) {
        return at < path.size()
            && ((path[at] >= 'A' && path[at] <= 'Z') || (path[at] >= 'a' && path[at] <= 'z'));
    };
    // Past the next `parts` names and their separators.
    const auto past = [&](std::size_t at, int parts) {
        for (; parts > 0; --parts) {
            while (at < path.size() && !separator(at))
                ++at;
            if (at < path.size())
                ++at;
        }
        return at;
    };
    if (letter(0) && path.size() > 1 && path[1] == ':')
        return separator(2) ? 3 : 0; // "C:x" is relative to C:'s current folder
    if (separator(0) && separator(1)) {
        if (path.size() > 3 && (path[2] == '?' || path[2] == '.') && separator(3)) {
            // "\\?\C:\", "\\?\UNC\host\share\", "\\?\Volume{...}\"
            if (letter(4) && path.size() > 5 && path[5] == ':')
                return separator(6) ? 7 : 6;
            if (path.compare(4, 4, "UNC\\") == 0 || path.compare(4, 4, "UNC/") == 0)
                return past(8, 2);
            return past(4, 1);
        }
        return past(2, 2); // "\\host\share\"
    }
    return separator(0) ? 1 : 0;
}

bool HiddenFollowsName()
{
    return false;
}

bool NamesFoldCase()
{
    return true;
}

std::string NameKey(const std::string &name)
{
    const std::wstring wide = WideFromUtf8(name);
    if (wide.empty())
        return name;
    // Locale-free, one code unit for one, as the volume's upcase table maps.
    std::wstring upper(wide.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                      static_cast<int>(wide.size()), &upper[0], static_cast<int>(upper.size()),
                      nullptr, nullptr, 0)
        == 0)
        return name;
    std::string key;
    return Utf8FromWide(upper.c_str(), key) ? key : name;
}
