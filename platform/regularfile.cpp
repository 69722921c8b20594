#include "platform/regularfile.h"

#ifdef _WIN32
#include "platform/widestring_windows.h"

#include <cerrno>
#include <io.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

// `attributes` are the path's as looked up before the open: the runtime
// fails to open a folder with a plain "no access".
std::FILE *Checked(std::FILE *file, DWORD attributes, RegularFileStatus &status)
{
    status = RegularFileStatus();
    if (!file) {
        status.missing = errno == ENOENT;
        status.notRegular = attributes != INVALID_FILE_ATTRIBUTES
            && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        status.systemCode = errno;
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fclose(file);
        status.notRegular = true;
        return nullptr;
    }
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return file;
}

} // namespace

std::FILE *OpenRegularFile(const std::string &path, bool forUpdate, RegularFileStatus &status)
{
    if (path.empty() || path.find('\0') != std::string::npos) {
        status = RegularFileStatus();
        status.missing = true;
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return Checked(std::fopen(path.c_str(), forUpdate ? "rb+" : "rb"), attributes, status);
}

std::FILE *OpenRegularNativeFile(const std::string &path, RegularFileStatus &status)
{
    const std::wstring wide = SystemPath(path);
    if (wide.empty()) {
        status = RegularFileStatus();
        status.missing = true;
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return Checked(_wfopen(wide.c_str(), L"rb"), attributes, status);
}

#else

std::FILE *OpenRegularFile(const std::string &path, bool forUpdate, RegularFileStatus &status)
{
    status = RegularFileStatus();
    if (path.empty() || path.find('\0') != std::string::npos) {
        status.missing = true;
        return nullptr;
    }
    // Non-blocking: opening a FIFO for reading would wait for a writer.
    const int fd =
        open(path.c_str(), (forUpdate ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        status.missing = errno == ENOENT;
        status.notRegular = errno == EISDIR;
        status.systemCode = errno;
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        status.systemCode = errno;
        status.notRegular = true;
        close(fd);
        return nullptr;
    }
    status.size = static_cast<std::uint64_t>(info.st_size);
    const int flags = fcntl(fd, F_GETFL);
    std::FILE *file = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0
        ? nullptr
        : fdopen(fd, forUpdate ? "rb+" : "rb");
    if (!file) {
        status.systemCode = errno;
        close(fd);
    }
    return file;
}

std::FILE *OpenRegularNativeFile(const std::string &path, RegularFileStatus &status)
{
    return OpenRegularFile(path, false, status);
}

#endif
