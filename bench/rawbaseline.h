#pragma once

#include <cstdint>
#include <string>

// The plain loop a pass is measured against: readdir to scan, renameat2
// (never replacing) inside each folder, files first, then folders deepest
// first, and the same rename report. It renames exactly what the replace
// pass renames on a benchmark tree (hidden folders not entered, links to
// files left alone, links to folders renamed with the folders), in the
// order the file system lists them.
struct BaselineCounts
{
    std::uint64_t filesScanned = 0;
    std::uint64_t foldersScanned = 0;
    std::uint64_t filesChanged = 0;
    std::uint64_t foldersChanged = 0;
};

// `root` ends in "/"; the report goes to root + reportName.
BaselineCounts RunRawBaseline(const std::string &root, const std::string &find,
                              const std::string &replacement, const std::string &reportName);
