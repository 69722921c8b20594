#include "platform/entryidentity_windows.h"

#include "platform/nativepath.h"
#include "platform/widestring_windows.h"

bool IdentityOfHandle(HANDLE handle, EntryIdentity &identity, DWORD *attributes)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    if (attributes)
        *attributes = info.dwFileAttributes;
    const auto finalPath = [handle](std::string &path) {
        return NativeFinalPathOfHandle(handle, path);
    };
    // The whole 128-bit id: ReFS keeps 64-bit indexes unique only together
    // with the rest.
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id))
        return IdentityFromFileId(id.VolumeSerialNumber, id.FileId.Identifier,
                                  sizeof id.FileId.Identifier, finalPath, identity);
    // Before Windows 8, and on file systems that don't answer that class.
    unsigned char index[8];
    const std::uint64_t number =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    for (int i = 0; i < 8; ++i)
        index[i] = static_cast<unsigned char>(number >> (8 * i));
    return IdentityFromFileId(info.dwVolumeSerialNumber, index, sizeof index, finalPath, identity);
}

HANDLE OpenEntryToAsk(const std::wstring &path, DWORD flags)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool IdentityOfPath(const std::wstring &path, EntryIdentity &identity, DWORD flags, bool *folder)
{
    HANDLE handle = OpenEntryToAsk(path, flags);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD attributes = 0;
    const bool ok = IdentityOfHandle(handle, identity, &attributes);
    CloseHandle(handle);
    if (ok && folder)
        *folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return ok;
}

bool IdentifyEntry(const std::string &path, EntryIdentity &identity)
{
    if (!IsUsablePath(path))
        return false;
    const std::wstring wide = SystemPath(path);
    return !wide.empty() && IdentityOfPath(wide, identity);
}

bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity)
{
    if (!IsUsablePath(path))
        return false;
    const std::wstring wide = SystemPath(path);
    return !wide.empty() && IdentityOfPath(wide, identity, FILE_FLAG_OPEN_REPARSE_POINT);
}
