#include "bench/rawbaseline.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Folder
{
    std::string path; // ends in "/"
    int depth;
    std::vector<std::string> files;
};

struct FolderEntry
{
    std::size_t parent;
    std::string name;
    int depth;
};

bool ReplaceAll(const std::string &name, const std::string &find, const std::string &replacement,
                std::string &out)
{
    std::size_t at = name.find(find);
    if (at == std::string::npos)
        return false;
    out.clear();
    std::size_t from = 0;
    while (at != std::string::npos) {
        out.append(name, from, at - from);
        out += replacement;
        from = at + find.size();
        at = name.find(find, from);
    }
    out.append(name, from, std::string::npos);
    return true;
}

} // namespace

BaselineCounts RunRawBaseline(const std::string &root, const std::string &find,
                              const std::string &replacement, const std::string &reportName)
{
    BaselineCounts counts;
    std::vector<Folder> folders{{root, 0, {}}};
    std::vector<FolderEntry> folderEntries;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const int fd = open(folders[f].path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        DIR *dir = fdopendir(fd);
        if (!dir) {
            close(fd);
            continue;
        }
        while (const dirent *entry = readdir(dir)) {
            const char *name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info;
                if (fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR
                                                     : S_ISLNK(info.st_mode) ? DT_LNK : DT_FIFO;
            }
            if (type == DT_REG) {
                folders[f].files.emplace_back(name);
            } else if (type == DT_DIR && name[0] != '.') {
                folderEntries.push_back({f, name, folders[f].depth + 1});
                folders.push_back({folders[f].path + name + "/", folders[f].depth + 1, {}});
            } else if (type == DT_LNK && name[0] != '.') {
                struct stat info;
                if (fstatat(fd, name, &info, 0) == 0 && S_ISDIR(info.st_mode))
                    folderEntries.push_back({f, name, folders[f].depth + 1});
            }
        }
        closedir(dir);
    }

    std::string log;
    std::string newName;
    for (const Folder &folder : folders) {
        counts.filesScanned += folder.files.size();
        int fd = -1;
        for (const std::string &name : folder.files) {
            if (!ReplaceAll(name, find, replacement, newName))
                continue;
            if (fd < 0)
                fd = open(folder.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (renameat2(fd, name.c_str(), fd, newName.c_str(), RENAME_NOREPLACE) == 0) {
                ++counts.filesChanged;
                log += folder.path;
                log += name;
                log += '\n';
            }
        }
        if (fd >= 0)
            close(fd);
    }

    counts.foldersScanned = folderEntries.size();
    std::stable_sort(folderEntries.begin(), folderEntries.end(),
                     [](const FolderEntry &a, const FolderEntry &b) { return a.depth > b.depth; });
    std::size_t openParent = folders.size();
    int fd = -1;
    for (const FolderEntry &entry : folderEntries) {
        if (!ReplaceAll(entry.name, find, replacement, newName))
            continue;
        if (entry.parent != openParent) {
            if (fd >= 0)
                close(fd);
            fd = open(folders[entry.parent].path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            openParent = entry.parent;
        }
        if (renameat2(fd, entry.name.c_str(), fd, newName.c_str(), RENAME_NOREPLACE) == 0) {
            ++counts.foldersChanged;
            log += folders[entry.parent].path;
            log += entry.name;
            log += '\n';
        }
    }
    if (fd >= 0)
        close(fd);

    if (!log.empty()) {
        FILE *report = std::fopen((root + reportName).c_str(), "w+");
        if (report) {
            std::fwrite(log.data(), log.size(), 1, report);
            std::fclose(report);
        }
    }
    return counts;
}
