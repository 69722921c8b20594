// Settings-file text operations on arbitrary bytes: no crash, no read past
// the input (the sanitizers watch), and the invariants below.

#include "app/settingsfile.h"
#include "fuzz/check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A key or value that a set is meant to bring back unchanged.
bool Plain(const std::string &text)
{
    if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return false;
    return text.empty() || (!IsBlank(text.front()) && !IsBlank(text.back()));
}

std::string UpToZero(const std::string &text)
{
    return text.substr(0, text.find('\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(256);
    const std::string text = input.ConsumeRemainingBytesAsString();

    // Trimming removes blanks at both ends and nothing else.
    std::string trimmed = text;
    TrimBlanks(trimmed);
    std::size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin]))
        ++begin;
    std::size_t end = text.size();
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    CHECK(trimmed == text.substr(begin, end - begin));
    std::string twice = trimmed;
    TrimBlanks(twice);
    CHECK(twice == trimmed);

    // A value is a blank-trimmed piece of one line of the text.
    std::string found;
    GetSettingValue(found, text, key);
    CHECK(found.find("\r\n") == std::string::npos);
    CHECK(found.find('\0') == std::string::npos);
    CHECK(found.empty() || (!IsBlank(found.front()) && !IsBlank(found.back())));
    CHECK(UpToZero(text).find(found) != std::string::npos);

    std::string composed;
    ComposeSettingsText(composed, text, key, value);
    CHECK(composed.find('\0') == std::string::npos);
    if (Plain(key) && Plain(value)) {
        // What was set reads back, and setting it again changes nothing.
        std::string back;
        GetSettingValue(back, composed, key);
        CHECK(back == value);
        std::string again;
        ComposeSettingsText(again, composed, key, value);
        CHECK(again == composed);
    }

    // The result may be the text itself.
    std::string alias = text;
    GetSettingValue(alias, alias, key);
    CHECK(alias == found);
    alias = text;
    ComposeSettingsText(alias, alias, key, value);
    CHECK(alias == composed);
    return 0;
}
