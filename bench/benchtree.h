#pragma once

// Reproducible test trees for the benchmark, and a fingerprint of a tree as
// it stands on disk. POSIX only.

#include <cstdint>
#include <string>

struct TreeCounts
{
    std::uint64_t files = 0;   // regular files, hidden ones and those in hidden folders included
    std::uint64_t folders = 0; // real folders below the root, hidden ones included
    std::uint64_t links = 0;
    std::uint64_t Entries() const { return files + folders + links; }
};

// The text about half of the names hold, and what replaces it. The
// replacement never occurs in a generated name, so no two new names meet.
extern const char *const kBenchFind;
extern const char *const kBenchReplacement;

// Builds under `root` (which must not exist) a tree of `files` regular files
// in nested folders of about fifty entries, at most five folders deep, with
// ASCII and Chinese names, spaces and dots, hidden files, a few hidden
// folders, links to files and to a folder, and kBenchFind in about half of
// the names. The same arguments always give the same tree.
bool BuildBenchTree(const std::string &root, std::uint64_t files, TreeCounts &counts);

// A fingerprint of everything below `root`: relative paths, kinds, file
// sizes and link targets, in a fixed order. Files named `reportName` are
// taken apart: their lines are fingerprinted as a sorted set (in
// `reportLines`) and as they stand (in `reportBytes`).
struct TreeFingerprint
{
    std::uint64_t tree = 0;
    std::uint64_t reportLines = 0;
    std::uint64_t reportBytes = 0;
    std::uint64_t reportLineCount = 0;
    std::uint64_t entries = 0;
};
TreeFingerprint FingerprintTree(const std::string &root, const std::string &reportName);

// Removes `path` and everything below it; links are removed, never followed.
bool RemoveTree(const std::string &path);
