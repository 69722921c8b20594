#pragma once

// Real trees seen the way the kernel sees them: entries by inode number,
// names as raw bytes, walked with openat() so that neither depth nor odd
// bytes in a name get in the way. A rename keeps an entry's inode, so
// "still there exactly once, in the same folder, under its old or its new
// name" can be checked entry by entry.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

namespace testtree {

enum class Kind { File, Folder, Link, Other };

struct Node
{
    Kind kind = Kind::Other;
    QByteArray name;     // as on disk; empty for the root
    quint64 parent = 0;  // inode of the holding folder; 0 for the root
    QByteArray content;  // a file's bytes (when read), a link's target
};

struct Snapshot
{
    quint64 root = 0;
    std::map<quint64, Node> nodes;
    QStringList problems;  // an inode met twice, a folder that could not be read

    // '/'-joined path below the root ("" for the root itself).
    QByteArray PathOf(quint64 inode) const;
    bool IsBelow(quint64 inode, quint64 ancestor) const;
    // 0 when there is no such entry.
    quint64 Find(const QByteArray &relativePath) const;
    int Count(Kind kind) const;
};

// Walks `root` (never following a link). File contents are read only when
// `contents` is set.
Snapshot TakeSnapshot(const QByteArray &root, bool contents = true);

// The names an entry may carry afterwards besides its old one.
using AllowedNames = std::function<QList<QByteArray>(quint64 inode, const Node &before)>;

struct Comparison
{
    QStringList problems;
    int filesRenamed = 0;
    int foldersRenamed = 0;
    QList<quint64> renamed;  // inodes whose name changed
    QList<quint64> created;  // inodes that were not there before
};

// Every entry of `before` must stand in `after` once, in the same folder (same
// parent inode), of the same kind and content, under its old name or one that
// `allowed` gives for it. Inodes listed in `gone` may be missing; when one is
// there again, it is taken for a new entry.
Comparison Compare(const Snapshot &before, const Snapshot &after, const AllowedNames &allowed,
                   const QList<quint64> &gone = {});

// Removes `path` and all below it, whatever its modes or immutable and
// append-only flags, at any depth.
bool RemoveTree(const QByteArray &path);

// Folders and files by raw byte names, relative to `root`; parents included.
bool MakeFolder(const QByteArray &root, const QByteArray &relative);
bool MakeFile(const QByteArray &root, const QByteArray &relative, const QByteArray &content = "x");

// A chain of `depth` nested folders below `root`, folder i named name(i), each
// holding a file fileName; built with openat(), so the chain can be far deeper
// than PATH_MAX allows a path to be.
bool MakeDeepChain(const QByteArray &root, int depth, const std::function<QByteArray(int)> &name,
                   const QByteArray &fileName);

// Sets or clears the immutable flag (chattr +i). Needs a file system that has
// it and CAP_LINUX_IMMUTABLE; `why` says what failed.
bool SetImmutable(const QByteArray &path, bool on, QString *why = nullptr);
// The same for the append-only flag (chattr +a).
bool SetAppendOnly(const QByteArray &path, bool on, QString *why = nullptr);

// lchown of `path` and everything below it.
bool ChangeOwnerOfTree(const QByteArray &path, unsigned uid, unsigned gid);

// Root reads every folder whatever its mode; without the read-override
// capabilities (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) the modes hold for it
// as for anyone. Drops them, or takes them back. True when not root; false
// when they can't be changed.
bool DropReadOverride(bool drop);

} // namespace testtree
