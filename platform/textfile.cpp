#include "platform/textfile.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include "platform/widestring_windows.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool UsableName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos
        && name.find('/') == std::string::npos
#ifdef _WIN32
        && name.find('\\') == std::string::npos
#endif
        ;
}

// Writes and flushes every block; false at the first short write.
bool WriteBlocks(std::FILE *file, const std::vector<std::string> &blocks)
{
    for (const std::string &block : blocks)
        if (!block.empty() && std::fwrite(block.data(), 1, block.size(), file) != block.size())
            return false;
    // Buffered data reaches the system only here, so a full disk shows up here.
    return std::fflush(file) == 0;
}


} // namespace

TextFileStatus CreateTextFile(const std::string &folder, const std::string &name,
                              const std::vector<std::string> &blocks)
{
    TextFileStatus status;
    if (folder.empty() || folder.find('\0') != std::string::npos || !UsableName(name))
        return status;
#ifdef _WIN32
    std::wstring path = SystemPath(folder);
    const std::wstring wideName = WideFromUtf8(name);
    if (path.empty() || wideName.empty())
        return status;
    if (path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    path += wideName;
    // CREATE_NEW fails on any entry at the name, a link or junction included,
    // so nothing that someone put there is ever written through.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        status.systemCode = static_cast<int>(GetLastError());
        return status;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    std::FILE *file = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (!file) {
        FILE_DISPOSITION_INFO dispose = {TRUE};
        SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
        if (fd < 0)
            CloseHandle(handle);
        else
            _close(fd);
        status.result = TextFileResult::NotWritten;
        return status;
    }
    if (!WriteBlocks(file, blocks)) {
        status.systemCode = static_cast<int>(GetLastError());
        // Deleted by the handle that made it: never someone else's file.
        FILE_DISPOSITION_INFO dispose = {TRUE};
        SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
        std::fclose(file);
        status.result = TextFileResult::NotWritten;
        return status;
    }
    if (std::fclose(file) != 0) {
        status.result = TextFileResult::NotWritten;
        return status;
    }
#else
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        status.systemCode = errno;
        return status;
    }
    // O_EXCL with O_CREAT fails on any entry at the name and never follows a
    // link there; O_NOFOLLOW says so once more.
    const int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0666);
    if (fd < 0) {
        status.systemCode = errno;
        close(dir);
        return status;
    }
    struct stat made;
    const bool known = fstat(fd, &made) == 0;
    std::FILE *file = fdopen(fd, "w");
    bool written = false;
    if (file) {
        // A file size limit must fail the write, not end the process.
        struct sigaction ignore = {}, previous = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous);
        written = WriteBlocks(file, blocks);
        if (!written)
            status.systemCode = errno;
        written = std::fclose(file) == 0 && written;
        sigaction(SIGXFSZ, &previous, nullptr);
    } else {
        status.systemCode = errno;
        close(fd);
    }
    if (!written) {
        // Only the file this call made: someone may have put another there.
        struct stat now;
        if (known && fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0
            && now.st_dev == made.st_dev && now.st_ino == made.st_ino)
            unlinkat(dir, name.c_str(), 0);
        close(dir);
        status.result = TextFileResult::NotWritten;
        return status;
    }
    close(dir);
#endif
    status.result = TextFileResult::Written;
    return status;
}
