#include "platform/system.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

const char *InstanceExecutableName()
{
#ifdef _WIN32
    return "Quillbarrow.exe";
#else
    return "Quillbarrow";
#endif
}

char NativeSeparator()
{
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

bool SystemDropsTrailingDots()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

const char *PlainTextViewerProgram()
{
#ifdef _WIN32
    return "notepad.exe";
#else
    // The desktop's handler for the file's type.
    return "xdg-open";
#endif
}

bool IsTerminal(std::FILE *stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

bool SystemScreenSize(int &width, int &height)
{
#ifdef _WIN32
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
    return true;
#else
    (void)width;
    (void)height;
    return false;
#endif
}

std::string SystemErrorText(int code)
{
#ifdef _WIN32
    char *text = nullptr;
    const DWORD size = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                          | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, static_cast<DWORD>(code), 0,
                                      reinterpret_cast<char *>(&text), 0, nullptr);
    std::string result = size && text ? std::string(text, size) : std::string("unknown error");
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
#else
    return std::strerror(code);
#endif
}

void OpenClosedStandardStreams()
{
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: this one, since the ones below are open.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
#endif
}

void IgnoreBrokenPipes()
{
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
#endif
}
