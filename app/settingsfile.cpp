#include "app/settingsfile.h"

#include "platform/regularfile.h"

#include <cstdio>

namespace {

const char kLineEnd[] = "\r\n";

// Far beyond any real settings file; a device or an endless stream at the
// settings path must not exhaust memory, and a file we can't hold whole is
// never rewritten.
const std::size_t kMaxFileSize = 16u * 1024u * 1024u;

// The text as a NUL-terminated text would see it.
std::string UpToZero(const std::string &text)
{
    return text.substr(0, text.find('\0'));
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::FILE *OpenFile(const std::string &path, const char *mode)
{
    // A path with a zero byte in it would silently name another file.
    if (path.find('\0') != std::string::npos)
        return nullptr;
    return std::fopen(path.c_str(), mode);
}

// Reads `file` from its current position to its end. False on a read error
// or when the file is beyond kMaxFileSize.
bool ReadAll(std::FILE *file, std::string &content)
{
    content.clear();
    char chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        content.append(chunk, got);
        if (content.size() > kMaxFileSize)
            return false;
        if (got < sizeof chunk)
            return std::ferror(file) == 0;
    }
}

// The whole settings file, opened for reading, or for update (which fails
// on a missing or read-only file), as a regular file only: a FIFO or a
// device at its path is refused at once, as a missing file is, rather than
// waited on or read. False when it can't be read whole.
bool ReadSettingsFile(const std::string &path, bool forUpdate, std::string &content)
{
    RegularFileStatus status;
    std::FILE *file = OpenRegularFile(path, forUpdate, status);
    if (!file)
        return false;
    const bool complete = ReadAll(file, content);
    std::fclose(file);
    return complete;
}

// Truncates the file at `path` and writes `content`. False unless every byte
// reached the file and it closed cleanly.
bool WriteWhole(const std::string &path, const std::string &content, bool *opened)
{
    std::FILE *file = OpenFile(path, "wb+");
    if (opened)
        *opened = file != nullptr;
    if (!file)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size()
                         && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace

int LoadSettingsText(std::string &buffer, const std::string &path)
{
    std::string content;
    if (!ReadSettingsFile(path, false, content))
        return -1;
    buffer.swap(content);
    return 0;
}

void GetSettingValue(std::string &value, const std::string &text, const std::string &key)
{
    std::string copy = UpToZero(text);
    TrimBlanks(copy);
    const std::string pattern = UpToZero(key) + "=";

    std::string found;
    const std::size_t at = copy.find(pattern);
    if (at != std::string::npos) {
        const std::size_t start = at + pattern.size();
        const std::size_t end = copy.find(kLineEnd, start);
        if (end != std::string::npos) {
            found = copy.substr(start, end - start);
            TrimBlanks(found);
        }
    }
    // Built aside first: `value` may be the same object as `text` or `key`.
    value.swap(found);
}

void ComposeSettingsText(std::string &result, const std::string &text, const std::string &key,
                         const std::string &value)
{
    const std::string pattern = UpToZero(key) + "=";
    const std::string entry = pattern + UpToZero(value) + kLineEnd;
    std::string copy = UpToZero(text);
    TrimBlanks(copy);

    std::string composed;
    const std::size_t at = copy.find(pattern);
    if (at == std::string::npos) {
        composed = entry + copy;
    } else {
        composed = copy.substr(0, at) + entry;
        const std::size_t end = copy.find(kLineEnd, at + pattern.size());
        if (end != std::string::npos)
            composed += copy.substr(end + 2);
    }
    result.swap(composed);
}

int SetSettingValue(const std::string &path, const std::string &key, const std::string &value)
{
    // Opened for update: nothing is ever created. Rewriting from a partial
    // read would lose the rest.
    std::string original;
    if (!ReadSettingsFile(path, true, original))
        return -1;

    std::string composed;
    ComposeSettingsText(composed, original, key, value);
    if (composed == original)
        return 0;  // already so: no need to risk a rewrite

    bool opened = false;
    if (WriteWhole(path, composed, &opened))
        return 0;
    // Not reopened: the file was not truncated and still holds its old text.
    if (!opened)
        return -1;
    // Truncated, then the write came up short (a full disk, say). The old text
    // needs no more room than the file had, so put it back; the set is still
    // reported as failed.
    WriteWhole(path, original, nullptr);
    return -1;
}

void TrimBlanks(std::string &text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    text.erase(end);
    text.erase(0, begin);
}
