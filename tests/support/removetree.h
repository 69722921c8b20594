#pragma once

#include <QByteArray>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

// Removes a tree by its bytes: QDir can't remove names that are not valid in
// the locale's encoding.
inline void RemoveTree(const QByteArray &path)
{
    if (DIR *dir = ::opendir(path.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            struct stat info;
            const QByteArray child = path + '/' + name;
            if (::lstat(child.constData(), &info) == 0 && S_ISDIR(info.st_mode))
                RemoveTree(child);
            else
                ::unlink(child.constData());
        }
        ::closedir(dir);
    }
    ::rmdir(path.constData());
}
