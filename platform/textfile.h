#pragma once

#include <string>
#include <vector>

// A new text file, written in text mode, so that on Windows every line feed
// is written as CR LF.

enum class TextFileResult {
    Written,
    NotCreated, // something stands at the name, or the folder can't take a new file
    NotWritten  // created, but the bytes could not all be written: removed again
};

struct TextFileStatus
{
    TextFileResult result = TextFileResult::NotCreated;
    int systemCode = 0; // errno, or GetLastError() on Windows
};

// Creates the entry `name` in the folder at the native path `folder` and
// writes `blocks` into it, one after another. Never writes over or through
// anything that already stands at that name (a link included, even one put
// there a moment ago), and never leaves a file with part of the bytes.
TextFileStatus CreateTextFile(const std::string &folder, const std::string &name,
                              const std::vector<std::string> &blocks);
