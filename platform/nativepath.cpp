#include "platform/nativepath.h"

#include <cstring>

bool IsNativeSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

bool IsAbsoluteNativePath(const std::string &path)
{
#ifdef _WIN32
    const bool drive = path.size() >= 3
        && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))
        && path[1] == ':' && IsNativeSeparator(path[2]);
    return drive || (path.size() >= 3 && IsNativeSeparator(path[0]) && IsNativeSeparator(path[1]));
#else
    return !path.empty() && path[0] == '/';
#endif
}

bool IsUsablePath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

bool IsPlainName(const char *name)
{
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    for (; *name; ++name)
        if (IsNativeSeparator(*name))
            return false;
    return true;
}
