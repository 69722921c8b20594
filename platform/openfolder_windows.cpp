#include "platform/openfolder.h"

#include "platform/entryidentity_windows.h"
#include "platform/folderlisting_system.h"
#include "platform/nativepath.h"
#include "platform/storedname.h"
#include "platform/widestring_windows.h"

#include <vector>

namespace {

// `name` as the system takes it, when it is a plain name (IsPlainName).
bool PlainWide(const std::string &name, std::wstring &wide)
{
    wide = WideFromUtf8(name);
    return IsPlainName(name.c_str()) && !wide.empty();
}

bool SameEntry(const std::wstring &a, const std::wstring &b)
{
    EntryIdentity x, y;
    return IdentityOfPath(a, x, FILE_FLAG_OPEN_REPARSE_POINT)
        && IdentityOfPath(b, y, FILE_FLAG_OPEN_REPARSE_POINT) && x == y;
}

// The system's final path of a folder without its "\\?\" prefix, so that it
// reads as the paths the program is given.
std::wstring Comparable(std::wstring path)
{
    for (wchar_t &c : path)
        if (c == L'/')
            c = L'\\';
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':')
        path.pop_back();
    return path;
}

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

} // namespace

OpenFolder::~OpenFolder()
{
    Close();
}

bool OpenFolder::Open(const std::string &path, EntryIdentity &identity)
{
    Close();
    if (!IsUsablePath(path))
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

FolderReach OpenFolder::OpenWithoutLinks(const std::string &path, EntryIdentity &identity,
                                         int &systemCode)
{
    Close();
    systemCode = 0;
    std::wstring folder = path.find('\0') == std::string::npos ? SystemPath(path)
                                                                : std::wstring();
    if (folder.empty() || !IsAbsoluteNativePath(path)) {
        systemCode = ERROR_INVALID_NAME;
        return FolderReach::Failed;
    }
    // Held as Open holds it: the folder can't be moved while it is open.
    HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return FolderReach::Missing;
        systemCode = static_cast<int>(error);
        return FolderReach::Failed;
    }
    DWORD attributes = 0;
    if (!IdentityOfHandle(handle, identity, &attributes)
        || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return FolderReach::Missing;
    }
    // A link or junction on the way leaves its mark on the final path: it
    // names the folder the link leads to, not the path asked for.
    std::wstring final;
    if (!FinalPathOfHandle(handle, final)) {
        systemCode = static_cast<int>(GetLastError());
        CloseHandle(handle);
        return FolderReach::Failed;
    }
    const std::wstring asked = Comparable(WithoutExtendedPrefix(folder));
    const std::wstring found = Comparable(WithoutExtendedPrefix(final));
    if (CompareStringOrdinal(asked.c_str(), static_cast<int>(asked.size()), found.c_str(),
                             static_cast<int>(found.size()), TRUE)
        != CSTR_EQUAL) {
        CloseHandle(handle);
        return FolderReach::ThroughLink;
    }
    if (folder.back() != L'/' && folder.back() != L'\\')
        folder += L'\\';
    handle_ = handle;
    path_ = folder;
    return FolderReach::Opened;
}

RenameStatus OpenFolder::Rename(const char *name, const char *newName)
{
    RenameStatus status;
    std::wstring oldWide;
    std::string stored;
    // Renamed to the name the system would keep, so that the check below
    // looks where the entry will stand.
    if (!PlainWide(name, oldWide) || !StoredNameOf(newName, stored)) {
        status.error = RenameError::InvalidName;
        return status;
    }
    const std::wstring newWide = WideFromUtf8(stored);
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
        std::wstring name;
        const bool plain = PlainWide(below.substr(begin, end - begin), name);
        begin = end + 1;
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (plain)
            handle = CreateFileW((folder + name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = plain ? GetLastError() : ERROR_INVALID_NAME;
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
    ListFolderEntries(folder, listing);
    release();
    return true;
}

bool OpenFolder::IdentifyEntry(const char *name, EntryIdentity &identity) const
{
    std::wstring wide;
    return handle_ && PlainWide(name, wide)
        && IdentityOfPath(path_ + wide, identity, FILE_FLAG_OPEN_REPARSE_POINT);
}
