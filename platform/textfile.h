#pragma once

#include <string>

// Writes `content` to a new or truncated file at the 8-bit `path` in text mode,
// so that on Windows every line feed is written as CR LF. Returns false, having
// written nothing, when the file can't be created; false too when the write
// comes up short.
bool WriteTextFile(const std::string &path, const std::string &content);
