#include "platform/dirscan.h"
#include "platform/entryidentity_windows.h"
#include "platform/renameentry.h"

#include "platform/widestring_windows.h"

#include <cwchar>
#include <vector>

namespace {

bool UsablePath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

HANDLE OpenEntry(const std::wstring &path, DWORD flags)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool IdentityOf(const std::wstring &path, EntryIdentity &identity, DWORD flags = 0,
                bool *folder = nullptr)
{
    HANDLE handle = OpenEntry(path, flags);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD attributes = 0;
    const bool ok = IdentityOfHandle(handle, identity, &attributes);
    CloseHandle(handle);
    if (ok && folder)
        *folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return ok;
}

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
    HANDLE handle = OpenEntry(path, 0);
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

bool SameEntry(const std::wstring &a, const std::wstring &b)
{
    EntryIdentity x, y;
    return IdentityOf(a, x, FILE_FLAG_OPEN_REPARSE_POINT)
        && IdentityOf(b, y, FILE_FLAG_OPEN_REPARSE_POINT) && x == y;
}

} // namespace

bool NativeNamesAreUtf8()
{
    return true;
}

bool IdentifyEntry(const std::string &path, EntryIdentity &identity)
{
    if (!UsablePath(path))
        return false;
    const std::wstring wide = SystemPath(path);
    return !wide.empty() && IdentityOf(wide, identity);
}

namespace {

// The entries of the folder at `folder`, found by the directory search.
void ListEntries(std::wstring folder, DirListing &listing)
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

} // namespace

bool ReadFolder(const std::string &path, EntryIdentity &identity, DirListing &listing)
{
    listing.Clear();
    if (!UsablePath(path))
        return false;
    std::wstring folder = SystemPath(path);
    bool isFolder = false;
    if (folder.empty() || !IdentityOf(folder, identity, 0, &isFolder))
        return false;
    if (!isFolder)
        return true; // no entries, and nothing that could not be read
    ListEntries(folder, listing);
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
    if (!UsablePath(path))
        return false;
    const std::wstring wide = SystemPath(path);
    if (wide.empty())
        return false;
    HANDLE handle = OpenEntry(wide, 0); // every link and junction followed
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool told = NativeFinalPathOfHandle(handle, final);
    CloseHandle(handle);
    return told;
}

OpenFolder::~OpenFolder()
{
    Close();
}

bool OpenFolder::Open(const std::string &path, EntryIdentity &identity)
{
    Close();
    if (!UsablePath(path))
        return false;
    std::wstring folder = SystemPath(path);
    if (folder.empty())
        return false;
    // Without FILE_SHARE_DELETE: nobody can move the folder while it is held,
    // so its path keeps naming it between the renames inside it.
    HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD attributes = 0;
    if (!IdentityOfHandle(handle, identity, &attributes)
        || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return false;
    }
    if (folder.back() != L'/' && folder.back() != L'\\')
        folder += L'\\';
    handle_ = handle;
    path_ = folder;
    return true;
}

void OpenFolder::Close()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    path_.clear();
}

bool OpenFolder::IsOpen() const
{
    return handle_ != nullptr;
}

namespace {

RenameStatus StatusOfError(DWORD code)
{
    RenameStatus status;
    status.systemCode = static_cast<int>(code);
    switch (code) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        status.error = RenameError::TargetExists;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        status.error = RenameError::Vanished;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        status.error = RenameError::NotPermitted;
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        status.error = RenameError::NameTooLong;
        break;
    default:
        status.error = RenameError::Other;
        break;
    }
    return status;
}

bool PlainName(const std::wstring &text)
{
    return !text.empty() && text.find_first_of(L"/\\") == std::wstring::npos && text != L"."
        && text != L"..";
}

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
    if (!PlainName(name))
        return false;
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
    return StoredWideName(WideFromUtf8(newName), wide) && Utf8FromWide(wide.c_str(), stored);
}

RenameStatus OpenFolder::Rename(const char *name, const char *newName)
{
    RenameStatus status;
    const std::wstring oldWide = WideFromUtf8(name);
    std::wstring newWide;
    // Renamed to the name the system would keep, so that the check below
    // looks where the entry will stand.
    if (!PlainName(oldWide) || !StoredWideName(WideFromUtf8(newName), newWide)) {
        status.error = RenameError::InvalidName;
        return status;
    }
    if (!handle_)
        return StatusOfError(ERROR_INVALID_HANDLE);
    // The longest name of every file system Windows names folders on; past
    // it the system's answer varies (Wine says the entry is not found).
    if (newWide.size() > 255)
        return StatusOfError(ERROR_FILENAME_EXCED_RANGE);
    const std::wstring source = path_ + oldWide;
    const std::wstring target = path_ + newWide;
    // Anything at the target, a dangling link included, or a target that
    // can't be looked at, blocks the rename, unless it is the entry itself
    // answering to a new case of its name.
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (!SameEntry(source, target))
            return StatusOfError(ERROR_ALREADY_EXISTS);
    } else {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return StatusOfError(error);
    }
    // Neither MOVEFILE_REPLACE_EXISTING nor MOVEFILE_COPY_ALLOWED.
    if (!MoveFileExW(source.c_str(), target.c_str(), 0))
        return StatusOfError(GetLastError());
    return status;
}

bool OpenFolder::ReadBelow(const std::string &below, EntryIdentity &identity,
                           DirListing &listing) const
{
    listing.Clear();
    if (!handle_ || below.find('\0') != std::string::npos) {
        listing.unreadable = true;
        return false;
    }
    // Each folder on the way opened as itself (a reparse point not
    // followed) and held until the listing is read, without delete sharing,
    // so none of them can be swapped for a link meanwhile.
    std::vector<HANDLE> held;
    const auto release = [&] {
        for (HANDLE handle : held)
            CloseHandle(handle);
    };
    std::wstring folder = path_;
    std::size_t begin = 0;
    while (begin < below.size()) {
        std::size_t end = below.find('/', begin);
        if (end == std::string::npos)
            end = below.size();
        const std::wstring name = WideFromUtf8(below.substr(begin, end - begin));
        begin = end + 1;
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (PlainName(name))
            handle = CreateFileW((folder + name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = PlainName(name) ? GetLastError() : ERROR_INVALID_NAME;
            release();
            listing.unreadable = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
            return false;
        }
        held.push_back(handle);
        // Links and junctions are not passed; other reparse points (cloud
        // placeholders and the like) are folders as the listing has them.
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)
            || !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            || ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                && (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK
                    || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT))) {
            release();
            listing.unreadable = true;
            return false;
        }
        folder += name;
        folder += L'\\';
    }
    if (!IdentityOfHandle(held.empty() ? static_cast<HANDLE>(handle_) : held.back(), identity)) {
        release();
        listing.unreadable = true;
        return false;
    }
    ListEntries(folder, listing);
    release();
    return true;
}

bool OpenFolder::IdentifyEntry(const char *name, EntryIdentity &identity) const
{
    const std::wstring wide = WideFromUtf8(name);
    return handle_ && PlainName(wide)
        && IdentityOf(path_ + wide, identity, FILE_FLAG_OPEN_REPARSE_POINT);
}

bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity)
{
    if (!UsablePath(path))
        return false;
    const std::wstring wide = SystemPath(path);
    return !wide.empty() && IdentityOf(wide, identity, FILE_FLAG_OPEN_REPARSE_POINT);
}
