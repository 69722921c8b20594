#include "platform/entryidentity_windows.h"

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
