#include "platform/dirscan.h"

#include <windows.h>

namespace {

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
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
bool Utf8(const wchar_t *wide, std::string &out)
{
    const int length = static_cast<int>(wcslen(wide));
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

bool UsablePath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

HANDLE OpenEntry(const std::wstring &path, DWORD flags)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool IdentityOf(const std::wstring &path, EntryIdentity &identity)
{
    HANDLE handle = OpenEntry(path, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!ok)
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
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
    if (handle == INVALID_HANDLE_VALUE)
        return LinkTargetKind::Missing;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!ok)
        return LinkTargetKind::Missing;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? LinkTargetKind::Folder
                                                               : LinkTargetKind::File;
}

bool SameEntry(const std::wstring &a, const std::wstring &b)
{
    HANDLE first = OpenEntry(a, FILE_FLAG_OPEN_REPARSE_POINT);
    if (first == INVALID_HANDLE_VALUE)
        return false;
    HANDLE second = OpenEntry(b, FILE_FLAG_OPEN_REPARSE_POINT);
    bool same = false;
    if (second != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION x, y;
        same = GetFileInformationByHandle(first, &x) && GetFileInformationByHandle(second, &y)
            && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber
            && x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
        CloseHandle(second);
    }
    CloseHandle(first);
    return same;
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
    const std::wstring wide = Wide(path);
    return !wide.empty() && IdentityOf(wide, identity);
}

bool ReadFolder(const std::string &path, EntryIdentity &identity, DirListing &listing)
{
    listing.Clear();
    if (!UsablePath(path))
        return false;
    std::wstring folder = Wide(path);
    if (folder.empty() || !IdentityOf(folder, identity))
        return false;
    if (folder.back() != L'/' && folder.back() != L'\\')
        folder += L'\\';
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileExW((folder + L'*').c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    std::string name;
    do {
        const wchar_t *wide = data.cFileName;
        if (wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0')))
            continue;
        if (!Utf8(wide, name))
            continue;
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
    FindClose(search);
    return true;
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
    std::wstring folder = Wide(path);
    if (folder.empty())
        return false;
    // Without FILE_SHARE_DELETE: nobody can move the folder while it is held,
    // so its path keeps naming it between the renames inside it.
    HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)
        || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return false;
    }
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
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

bool OpenFolder::Rename(const char *name, const char *newName)
{
    const auto plainName = [](const std::wstring &text) {
        return !text.empty() && text.find_first_of(L"/\\") == std::wstring::npos && text != L"."
            && text != L"..";
    };
    const std::wstring oldWide = Wide(name);
    const std::wstring newWide = Wide(newName);
    if (!handle_ || !plainName(oldWide) || !plainName(newWide))
        return false;
    const std::wstring source = path_ + oldWide;
    const std::wstring target = path_ + newWide;
    // Anything at the target, a dangling link included, or a target that
    // can't be looked at, blocks the rename, unless it is the entry itself
    // answering to a new case of its name.
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES
        || (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)) {
        if (!SameEntry(source, target))
            return false;
    }
    // Neither MOVEFILE_REPLACE_EXISTING nor MOVEFILE_COPY_ALLOWED.
    return MoveFileExW(source.c_str(), target.c_str(), 0) != 0;
}
