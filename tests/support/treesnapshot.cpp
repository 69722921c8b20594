#include "tests/support/treesnapshot.h"

#include <QSet>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testtree {

namespace {

class Fd
{
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

QString Quoted(const QByteArray &bytes)
{
    // Names may hold anything; keep messages readable and unambiguous.
    QString text;
    for (const char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && u != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + text + QLatin1Char('"');
}

Kind KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::File;
    if (S_ISDIR(mode))
        return Kind::Folder;
    if (S_ISLNK(mode))
        return Kind::Link;
    return Kind::Other;
}

QList<QByteArray> Children(int dirFd)
{
    QList<QByteArray> names;
    const int copy = dup(dirFd);
    if (copy < 0)
        return names;
    DIR *dir = fdopendir(copy);
    if (!dir) {
        close(copy);
        return names;
    }
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names << QByteArray(entry->d_name);
    }
    closedir(dir);
    return names;
}

QByteArray ReadAt(int dirFd, const QByteArray &name)
{
    Fd fd(openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.ok())
        return QByteArray("<unreadable>");
    QByteArray content;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd.get(), chunk, sizeof chunk)) > 0)
        content.append(chunk, static_cast<int>(got));
    return content;
}

QByteArray LinkAt(int dirFd, const QByteArray &name)
{
    char target[4096];
    const ssize_t got = readlinkat(dirFd, name.constData(), target, sizeof target);
    return got < 0 ? QByteArray("<unreadable link>") : QByteArray(target, static_cast<int>(got));
}

void Walk(Snapshot &snapshot, int dirFd, quint64 dirInode, bool contents)
{
    for (const QByteArray &name : Children(dirFd)) {
        struct stat info;
        if (fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            snapshot.problems << QStringLiteral("cannot stat %1 in %2")
                                     .arg(Quoted(name), Quoted(snapshot.PathOf(dirInode)));
            continue;
        }
        const quint64 inode = info.st_ino;
        Node node;
        node.kind = KindOf(info.st_mode);
        node.name = name;
        node.parent = dirInode;
        if (node.kind == Kind::File && contents)
            node.content = ReadAt(dirFd, name);
        else if (node.kind == Kind::Link)
            node.content = LinkAt(dirFd, name);
        if (snapshot.nodes.count(inode)) {
            snapshot.problems << QStringLiteral("%1 and %2 are one entry")
                                     .arg(Quoted(snapshot.PathOf(inode)),
                                          Quoted(snapshot.PathOf(dirInode) + '/' + name));
            continue;
        }
        snapshot.nodes[inode] = node;
        if (node.kind == Kind::Folder) {
            Fd sub(openat(dirFd, name.constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.ok()) {
                snapshot.problems << QStringLiteral("cannot open folder %1: %2")
                                         .arg(Quoted(snapshot.PathOf(inode)),
                                              QString::fromLocal8Bit(std::strerror(errno)));
                continue;
            }
            Walk(snapshot, sub.get(), inode, contents);
        }
    }
}

void ClearImmutableAt(int dirFd, const QByteArray &name)
{
    Fd fd(openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.ok())
        return;
    int flags = 0;
    const int locks = FS_IMMUTABLE_FL | FS_APPEND_FL;
    if (ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & locks)) {
        flags &= ~locks;
        ioctl(fd.get(), FS_IOC_SETFLAGS, &flags);
    }
}

bool RemoveAt(int dirFd, const QByteArray &name)
{
    struct stat info;
    if (fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISLNK(info.st_mode))
        ClearImmutableAt(dirFd, name);
    if (!S_ISDIR(info.st_mode))
        return unlinkat(dirFd, name.constData(), 0) == 0;
    fchmodat(dirFd, name.constData(), 0700, 0);
    bool ok = true;
    {
        Fd sub(openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!sub.ok())
            return false;
        for (const QByteArray &child : Children(sub.get()))
            ok = RemoveAt(sub.get(), child) && ok;
    }
    return unlinkat(dirFd, name.constData(), AT_REMOVEDIR) == 0 && ok;
}

void ChownAt(int dirFd, const QByteArray &name, unsigned uid, unsigned gid, bool &ok)
{
    if (fchownat(dirFd, name.constData(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0)
        ok = false;
    struct stat info;
    if (fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode))
        return;
    Fd sub(openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub.ok()) {
        ok = false;
        return;
    }
    for (const QByteArray &child : Children(sub.get()))
        ChownAt(sub.get(), child, uid, gid, ok);
}

// Splits "a/b/c" into the folder part and the last name.
void SplitLast(const QByteArray &path, QByteArray &folder, QByteArray &name)
{
    const int slash = path.lastIndexOf('/');
    folder = slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : path.left(slash));
    name = path.mid(slash + 1);
}

} // namespace

QByteArray Snapshot::PathOf(quint64 inode) const
{
    QList<QByteArray> parts;
    for (quint64 at = inode; at != root && at != 0;) {
        const auto found = nodes.find(at);
        if (found == nodes.end())
            break;
        parts.prepend(found->second.name);
        at = found->second.parent;
    }
    QByteArray path;
    for (const QByteArray &part : parts)
        path += (path.isEmpty() ? QByteArray() : QByteArray("/")) + part;
    return path;
}

bool Snapshot::IsBelow(quint64 inode, quint64 ancestor) const
{
    for (quint64 at = inode; at != 0;) {
        const auto found = nodes.find(at);
        if (found == nodes.end())
            return false;
        at = found->second.parent;
        if (at == ancestor)
            return true;
    }
    return false;
}

quint64 Snapshot::Find(const QByteArray &relativePath) const
{
    quint64 at = root;
    for (const QByteArray &part : relativePath.split('/')) {
        if (part.isEmpty())
            continue;
        quint64 next = 0;
        for (const auto &entry : nodes)
            if (entry.second.parent == at && entry.second.name == part) {
                next = entry.first;
                break;
            }
        if (next == 0)
            return 0;
        at = next;
    }
    return at;
}

int Snapshot::Count(Kind kind) const
{
    int count = 0;
    for (const auto &entry : nodes)
        count += entry.second.kind == kind ? 1 : 0;
    return count;
}

Snapshot TakeSnapshot(const QByteArray &root, bool contents)
{
    Snapshot snapshot;
    Fd fd(open(root.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (!fd.ok() || fstat(fd.get(), &info) != 0) {
        snapshot.problems << QStringLiteral("cannot open the root %1").arg(Quoted(root));
        return snapshot;
    }
    snapshot.root = info.st_ino;
    Node rootNode;
    rootNode.kind = Kind::Folder;
    snapshot.nodes[snapshot.root] = rootNode;
    Walk(snapshot, fd.get(), snapshot.root, contents);
    return snapshot;
}

Comparison Compare(const Snapshot &before, const Snapshot &after, const AllowedNames &allowed,
                   const QList<quint64> &gone)
{
    Comparison result;
    result.problems << before.problems << after.problems;
    if (before.root != after.root)
        result.problems << QStringLiteral("the root itself was replaced");
    QSet<quint64> mayBeGone;
    for (const quint64 inode : gone)
        mayBeGone.insert(inode);
    for (const auto &entry : before.nodes) {
        const quint64 inode = entry.first;
        const Node &old = entry.second;
        const QString where = Quoted(before.PathOf(inode));
        const auto found = after.nodes.find(inode);
        // A removed entry's inode number may come back with a new entry.
        if (mayBeGone.contains(inode))
            continue;
        if (found == after.nodes.end()) {
            result.problems << QStringLiteral("%1 is lost").arg(where);
            continue;
        }
        const Node &now = found->second;
        if (inode == before.root)
            continue;
        if (now.parent != old.parent)
            result.problems << QStringLiteral("%1 was moved to %2")
                                   .arg(where, Quoted(after.PathOf(inode)));
        if (now.kind != old.kind)
            result.problems << QStringLiteral("%1 changed its kind").arg(where);
        if (now.content != old.content)
            result.problems << QStringLiteral("%1 changed its content").arg(where);
        if (now.name == old.name)
            continue;
        const QList<QByteArray> names = allowed ? allowed(inode, old) : QList<QByteArray>();
        if (!names.contains(now.name)) {
            QStringList expected;
            for (const QByteArray &name : names)
                expected << Quoted(name);
            result.problems << QStringLiteral("%1 is now named %2, expected its old name or %3")
                                   .arg(where, Quoted(now.name),
                                        expected.isEmpty() ? QStringLiteral("nothing else")
                                                           : expected.join(QStringLiteral(" or ")));
            continue;
        }
        result.renamed << inode;
        if (old.kind == Kind::Folder)
            ++result.foldersRenamed;
        else
            ++result.filesRenamed;
    }
    for (const auto &entry : after.nodes)
        if (!before.nodes.count(entry.first) || mayBeGone.contains(entry.first))
            result.created << entry.first;
    return result;
}

bool RemoveTree(const QByteArray &path)
{
    QByteArray folder, name;
    SplitLast(path, folder, name);
    Fd fd(open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.ok() && RemoveAt(fd.get(), name);
}

bool MakeFolder(const QByteArray &root, const QByteArray &relative)
{
    QByteArray path = root;
    for (const QByteArray &part : relative.split('/')) {
        if (part.isEmpty())
            continue;
        path += '/' + part;
        if (mkdir(path.constData(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool MakeFile(const QByteArray &root, const QByteArray &relative, const QByteArray &content)
{
    QByteArray folder, name;
    SplitLast(relative, folder, name);
    if (folder != "." && !MakeFolder(root, folder))
        return false;
    const QByteArray path = root + '/' + relative;
    Fd fd(open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    return fd.ok() && write(fd.get(), content.constData(), content.size()) == content.size();
}

bool MakeDeepChain(const QByteArray &root, int depth, const std::function<QByteArray(int)> &name,
                   const QByteArray &fileName)
{
    int dirFd = open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = dirFd >= 0;
    for (int i = 0; ok && i < depth; ++i) {
        const QByteArray folder = name(i);
        ok = mkdirat(dirFd, folder.constData(), 0755) == 0;
        const int next =
            ok ? openat(dirFd, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        close(dirFd);
        dirFd = next;
        ok = ok && dirFd >= 0;
        if (ok) {
            const int file = openat(dirFd, fileName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ok = file >= 0 && write(file, "deep", 4) == 4;
            if (file >= 0)
                close(file);
        }
    }
    if (dirFd >= 0)
        close(dirFd);
    return ok;
}

namespace {

bool SetInodeFlag(const QByteArray &path, int flag, bool on, QString *why)
{
    const auto fail = [why](const char *what) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                               QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    Fd fd(open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.ok())
        return fail("open");
    int flags = 0;
    if (ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0)
        return fail("FS_IOC_GETFLAGS");
    flags = on ? (flags | flag) : (flags & ~flag);
    if (ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) != 0)
        return fail("FS_IOC_SETFLAGS");
    return true;
}

} // namespace

bool SetImmutable(const QByteArray &path, bool on, QString *why)
{
    return SetInodeFlag(path, FS_IMMUTABLE_FL, on, why);
}

bool SetAppendOnly(const QByteArray &path, bool on, QString *why)
{
    return SetInodeFlag(path, FS_APPEND_FL, on, why);
}

bool ChangeOwnerOfTree(const QByteArray &path, unsigned uid, unsigned gid)
{
    QByteArray folder, name;
    SplitLast(path, folder, name);
    Fd fd(open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.ok())
        return false;
    bool ok = true;
    ChownAt(fd.get(), name, uid, gid, ok);
    return ok;
}

bool DropReadOverride(bool drop)
{
    if (::geteuid() != 0)
        return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (drop)
        data[0].effective &= ~bits;
    else
        data[0].effective |= bits & data[0].permitted;
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace testtree
