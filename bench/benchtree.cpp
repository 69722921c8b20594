#include "bench/benchtree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

const char *const kBenchFind = "draft";
const char *const kBenchReplacement = "final";

namespace {

// A small generator of our own, so the tree does not depend on a library's
// distributions.
class Random
{
public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
    bool Chance(std::uint32_t percent) { return Below(100) < percent; }

private:
    std::uint64_t state_;
};

const char *const kAsciiWords[] = {"photo", "report", "IMG", "notes", "Backup", "data", "scan",
                                   "invoice", "Summer trip", "my file", "v1.2", "archive",
                                   "Meeting notes", "budget", "README", "song"};
const char *const kChineseWords[] = {"照片", "报告", "文档", "备份", "数据", "发票", "旅行",
                                     "会议纪要"};
const char *const kExtensions[] = {".jpg", ".txt", ".pdf", ".docx", ".tar.gz", ".png", "", ".md",
                                   ".JPG", ".mp3"};
const char *const kSeparators[] = {" ", "_", "-", ".", ""};
constexpr int kFilesPerFolder = 42;
constexpr int kSubfoldersPerFolder = 8;
constexpr int kMaxDepth = 5;

template <typename T, std::size_t N>
const char *Pick(Random &random, T (&items)[N])
{
    return items[random.Below(static_cast<std::uint32_t>(N))];
}

std::string Word(Random &random)
{
    return random.Chance(30) ? Pick(random, kChineseWords) : Pick(random, kAsciiWords);
}

std::string Stem(Random &random, std::uint64_t index)
{
    std::string stem = Word(random);
    stem += Pick(random, kSeparators);
    if (random.Chance(50)) {
        stem += kBenchFind;
        stem += Pick(random, kSeparators);
    }
    stem += std::to_string(index);
    return stem;
}

bool MakeFile(const std::string &path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

struct PlannedFolder
{
    std::string path;
    int depth;
};

} // namespace

bool BuildBenchTree(const std::string &root, std::uint64_t files, TreeCounts &counts)
{
    counts = TreeCounts();
    Random random(files + 7);
    if (mkdir(root.c_str(), 0755) != 0)
        return false;
    // Links to a folder lead here; nothing in it holds the find text, so
    // entering it through a link renames nothing twice.
    const std::string target = root + "/link target";
    if (mkdir(target.c_str(), 0755) != 0 || !MakeFile(target + "/inside one.txt")
        || !MakeFile(target + "/inside two.txt"))
        return false;
    counts.folders += 1;
    counts.files += 2;

    // Folders are laid out breadth first, each with up to eight subfolders,
    // until there is room for every file.
    const std::uint64_t folderCount =
        std::max<std::uint64_t>(1, (files + kFilesPerFolder - 1) / kFilesPerFolder);
    std::vector<PlannedFolder> folders{{root, 0}};
    for (std::size_t parent = 0; folders.size() < folderCount && parent < folders.size(); ++parent) {
        if (folders[parent].depth >= kMaxDepth)
            continue;
        for (int k = 0; k < kSubfoldersPerFolder && folders.size() < folderCount; ++k) {
            std::string name = Stem(random, folders.size());
            if (random.Chance(10))
                name += ".2020";
            const std::string path = folders[parent].path + "/" + name;
            if (mkdir(path.c_str(), 0755) != 0)
                return false;
            ++counts.folders;
            folders.push_back({path, folders[parent].depth + 1});
        }
    }

    std::uint64_t made = 2;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const std::string &folder = folders[f].path;
        const std::uint64_t here = f + 1 == folders.size()
            ? (files > made ? files - made : 0)
            : std::min<std::uint64_t>(kFilesPerFolder, files > made ? files - made : 0);
        std::string lastFile;
        for (std::uint64_t i = 0; i < here; ++i) {
            std::string name = Stem(random, made);
            name += Pick(random, kExtensions);
            if (random.Chance(3))
                name = "." + name;
            lastFile = name;
            if (!MakeFile(folder + "/" + name))
                return false;
            ++made;
            ++counts.files;
        }
        if (!lastFile.empty() && f % 7 == 3) {
            // A link to a file beside it: in no listing, so left alone.
            if (symlink(lastFile.c_str(), (folder + "/" + kBenchFind + " link " + std::to_string(f)).c_str()) != 0)
                return false;
            ++counts.links;
        }
        if (f % 53 == 5) {
            // A link to a folder: listed, renamed with the folders, entered.
            if (symlink(target.c_str(), (folder + "/folder link " + kBenchFind + std::to_string(f)).c_str()) != 0)
                return false;
            ++counts.links;
        }
        if (f % 97 == 11) {
            // A hidden folder: neither entered nor renamed.
            const std::string hidden = folder + "/." + kBenchFind + " hidden " + std::to_string(f);
            if (mkdir(hidden.c_str(), 0755) != 0 || !MakeFile(hidden + "/" + kBenchFind + ".txt"))
                return false;
            ++counts.folders;
            ++counts.files;
        }
    }
    return true;
}

namespace {

class Fnv
{
public:
    void Add(const void *data, std::size_t size)
    {
        const auto *bytes = static_cast<const unsigned char *>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ ^= bytes[i];
            hash_ *= 0x100000001B3ull;
        }
    }
    void Add(const std::string &text)
    {
        Add(text.data(), text.size());
        Add("\0", 1);
    }
    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

void AddReport(const std::string &path, TreeFingerprint &print)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return;
    std::string content;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    std::fclose(file);
    Fnv bytes;
    bytes.Add(content);
    print.reportBytes ^= bytes.Value();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    Fnv sorted;
    for (const std::string &line : lines)
        sorted.Add(line);
    print.reportLines ^= sorted.Value();
    print.reportLineCount += lines.size();
}

void Walk(const std::string &root, const std::string &relative, const std::string &reportName,
          Fnv &hash, TreeFingerprint &print)
{
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const std::string path = root + "/" + rel;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0)
            continue;
        ++print.entries;
        if (S_ISLNK(info.st_mode)) {
            char target[4096];
            const ssize_t size = readlink(path.c_str(), target, sizeof target);
            hash.Add("L" + rel + "->" + std::string(target, size > 0 ? size : 0));
        } else if (S_ISDIR(info.st_mode)) {
            hash.Add("D" + rel);
            Walk(root, rel, reportName, hash, print);
        } else if (name == reportName) {
            hash.Add("R" + rel);
            AddReport(path, print);
        } else {
            hash.Add("F" + rel + ":" + std::to_string(info.st_size));
        }
    }
}

} // namespace

TreeFingerprint FingerprintTree(const std::string &root, const std::string &reportName)
{
    TreeFingerprint print;
    Fnv hash;
    Walk(root, std::string(), reportName, hash, print);
    print.tree = hash.Value();
    return print;
}

namespace {

bool RemoveBelow(int parent, const char *name)
{
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool ok = true;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            folder = fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISDIR(info.st_mode);
        }
        if (folder) {
            ok = RemoveBelow(fd, entry->d_name) && ok;
            ok = unlinkat(fd, entry->d_name, AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = unlinkat(fd, entry->d_name, 0) == 0 && ok;
        }
    }
    closedir(dir);
    return ok;
}

} // namespace

bool RemoveTree(const std::string &path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return unlink(path.c_str()) == 0;
    return RemoveBelow(AT_FDCWD, path.c_str()) && rmdir(path.c_str()) == 0;
}
