#pragma once

#include <string>

// The settings file: key=value lines, each ending in CR LF, 8-bit text in the
// local encoding, read and written in binary mode. The program never creates
// it. Texts (and keys and values) are NUL-terminated in the sense that a zero
// byte ends them. The file is handled whole, whatever its size.

// Reads the whole file at `path` into `buffer` (replacing its content).
// Returns 0, or -1 with `buffer` untouched when the file can't be opened or
// read to its end.
int LoadSettingsText(std::string &buffer, const std::string &path);

// The value of `key` in `text`: after the first occurrence of key + "=",
// up to the next CR LF, blanks trimmed. Empty when absent or unterminated.
void GetSettingValue(std::string &value, const std::string &text, const std::string &key);

// `text` (leading and trailing blanks trimmed) with `key` set to `value`: the
// entry replaced in place, or put first.
void ComposeSettingsText(std::string &result, const std::string &text, const std::string &key,
                         const std::string &value);

// Sets `key` to `value` in the file at `path`. Returns 0 when the file holds
// the new text, -1 when nothing was set: the file can't be opened for update
// (a missing file is never created), can't be read whole, can't be reopened
// for writing (then it is untouched), or the write came up short (then its
// old text is put back as far as the system lets us).
int SetSettingValue(const std::string &path, const std::string &key, const std::string &value);

// Removes spaces and tabs at both ends of `text`, in place.
void TrimBlanks(std::string &text);
