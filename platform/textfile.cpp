#include "platform/textfile.h"

#include <cstdio>

bool WriteTextFile(const std::string &path, const std::string &content)
{
    if (path.find('\0') != std::string::npos)
        return false;
    // Text mode: Windows writes every line feed as CR LF.
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool written = content.empty()
        || std::fwrite(content.data(), 1, content.size(), file) == content.size();
    // Buffered data reaches the disk only here, so a full disk shows up here.
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}
