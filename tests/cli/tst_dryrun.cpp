// The dry run against the real run: random trees (links to files and
// folders, inside and outside the chosen folder and back up to it, dangling
// links, hidden entries, case variants, names that collide), each job planned
// in memory and then run on the disk; the plan must be what happened. Then
// the same on small trees at the file system's limits: names one byte too
// long, sticky folders holding other users' entries, immutable and
// append-only entries, and a rename report whose name a rename took.
//
// On Windows (run under Wine in the Chinese locale) the trees are Windows
// trees instead: Chinese, ASCII and mixed names, case variants that are one
// name there, the hidden attribute, names near the limit of 255 UTF-16 units,
// and jobs whose new names end in dots or spaces (which the system drops) or
// hold characters no Windows name may hold. No links: Wine makes none.

#include "cli/clijob.h"
#include "cli/commandline.h"
#include "cli/dryrun.h"
#include "engine/memoryfilesystem.h"
#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"
#include "tests/support/enginetestsupport.h"
#include "engine/renamepass.h"
#ifndef _WIN32
#include "tests/support/treesnapshot.h"
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Relative path -> kind letter, link target letter and hidden flag, as a
// pass file system lists them; only real folders are entered.
using FsTree = QMap<QByteArray, QByteArray>;

void Collect(PassFileSystem &fs, const std::string &path, const QByteArray &relative, FsTree &tree)
{
    DirListing listing;
    EntryIdentity identity;
    if (!fs.ListFolder(path, identity, listing))
        return;
    for (const DirListing::Entry &entry : listing.entries) {
        const QByteArray name(listing.Name(entry), entry.nameSize);
        QByteArray value;
        value += "FDLO"[int(entry.kind)];
        value += "-?fdo"[int(entry.target)];
        value += entry.hidden ? 'h' : '-';
        tree.insert(relative + name, value);
        if (entry.kind == DirEntryKind::Folder)
            Collect(fs, path + name.toStdString() + '/', relative + name + '/', tree);
    }
}

FsTree TreeOf(PassFileSystem &fs, const QByteArray &container)
{
    FsTree tree;
    Collect(fs, container.toStdString() + '/', QByteArray(), tree);
    return tree;
}

using enginetest::FromNativeBytes;
using enginetest::NativeBytes;

// Which entry stands at each name of each real folder: "folder id/name" ->
// the entry's id.
using Occupants = QMap<QByteArray, QByteArray>;

#ifdef _WIN32
// A whole drive path in its extended-length form, as the program hands it
// to the system: names that end in a dot or a space are taken as stored.
std::wstring Wide(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const bool whole = native.size() > 2 && native.at(1) == QLatin1Char(':')
        && !native.contains(QLatin1String("\\.\\")) && !native.contains(QLatin1String("\\..\\"))
        && !native.endsWith(QLatin1String("\\.")) && !native.endsWith(QLatin1String("\\.."));
    return (whole ? L"\\\\?\\" : L"") + native.toStdWString();
}

int LastSeparator(const QString &path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
}

// The name as Windows stores it, without the dots and spaces it ends in.
QString StoredName(QString name)
{
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    return name;
}

// Two names Windows takes for one have the same key: names as stored, one
// ending in a dot or a space included, differ by case only.
QByteArray NameKeyOf(const QString &name)
{
    return name.toUpper().toUtf8();
}

// The volume and index of the entry at `path`: the entry itself, a link at
// its end not followed, unless `follow`.
bool IdKey(const QString &path, QByteArray &key, bool follow = false)
{
    const HANDLE handle = CreateFileW(Wide(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS
                                          | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                                      nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (ok)
        key = QByteArray::number(quint64(info.dwVolumeSerialNumber)) + ':'
            + QByteArray::number((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    return ok;
}

// Names by their keys: "b" there is "B" and "b." too.
void CollectOccupants(const QByteArray &folder, Occupants &occupants)
{
    const QString path = FromNativeBytes(folder);
    QByteArray self;
    if (!IdKey(path, self, true))
        return;
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(Wide(path + QStringLiteral("/*")).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const QString name = QString::fromWCharArray(data.cFileName);
        QByteArray id;
        if (name == QLatin1String(".") || name == QLatin1String("..")
            || !IdKey(path + QLatin1Char('/') + name, id))
            continue;
        occupants.insert(self + '/' + NameKeyOf(name), id);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            CollectOccupants(NativeBytes(path + QLatin1Char('/') + name), occupants);
    } while (FindNextFileW(search, &data));
    FindClose(search);
}

// Wine, on a host file system that tells cases apart, reports a change of
// case only as done and keeps the old name, where Windows changes it. The
// entry is given its new case here, as Windows leaves it, before the pass
// goes on: false when that was needed and could not be done.
bool FinishChangeOfCase(const QString &oldPath, const QString &targetPath, bool &caseOnly)
{
    const int cut = LastSeparator(oldPath);
    const QString folder = oldPath.left(cut + 1);
    const QString oldName = oldPath.mid(cut + 1);
    const QString newName = StoredName(targetPath.mid(LastSeparator(targetPath) + 1));
    caseOnly = newName != oldName && NameKeyOf(newName) == NameKeyOf(oldName);
    if (!caseOnly)
        return true;
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(Wide(folder + newName).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    if (QString::fromWCharArray(data.cFileName) != oldName)
        return true;
    const QString step = folder + QStringLiteral("qb-case-step");
    return MoveFileExW(Wide(oldPath).c_str(), Wide(step).c_str(), 0)
        && MoveFileExW(Wide(step).c_str(), Wide(folder + newName).c_str(), 0);
}
#else
QByteArray IdKey(const struct stat &info)
{
    return QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino));
}

void CollectOccupants(const QByteArray &folder, Occupants &occupants)
{
    struct stat self;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    if (::stat(folder.constData(), &self) == 0) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            struct stat info;
            if (name == "." || name == ".." || ::lstat((folder + '/' + name).constData(), &info) != 0)
                continue;
            occupants.insert(IdKey(self) + '/' + name, IdKey(info));
            if (S_ISDIR(info.st_mode))
                CollectOccupants(folder + '/' + name, occupants);
        }
    }
    ::closedir(dir);
}
#endif

struct Attempt
{
    QString oldPath;
    QString targetPath;
    bool tried = false;
    bool renamed = false;
    char occupant = 0; // at the target before the rename: 'o' the original entry, 'n' another
    RenameOutcome outcome = RenameOutcome::Renamed;
    int systemError = 0;
#ifdef _WIN32
    bool caseOnly = false;   // a new case of the same name
    bool caseMade = true;    // false: Wine kept the old case and it could not be changed
#endif
};

// The shared recording, and for each rename what stood at its target on the
// disk then.
class DiskWatchingSink final : public enginetest::RecordingSink
{
public:
    explicit DiskWatchingSink(const Occupants &atStart) : atStart_(atStart) {}

    QList<Attempt> attempts;

    void RenameStarting(const RenameAttempt &attempt) override
    {
        RecordingSink::RenameStarting(attempt);
        attempts.append({attempt.oldPath, attempt.targetPath, false, false, 0});
        Attempt &last = attempts.last();
#ifdef _WIN32
        const QString target = attempt.targetPath;
        const int cut = LastSeparator(target);
        QByteArray folder, entry;
        // The rename asks for the name as Windows stores it.
        const QString stored = StoredName(target.mid(cut + 1));
        if (cut >= 0 && IdKey(target.left(cut + 1), folder, true)
            && IdKey(target.left(cut + 1) + stored, entry))
            last.occupant = atStart_.value(folder + '/' + NameKeyOf(stored)) == entry ? 'o' : 'n';
#else
        const QByteArray target = QFile::encodeName(attempt.targetPath);
        const int cut = target.lastIndexOf('/');
        struct stat folder, entry;
        if (cut >= 0 && ::stat(target.left(cut + 1).constData(), &folder) == 0
            && ::lstat(target.constData(), &entry) == 0)
            last.occupant =
                atStart_.value(IdKey(folder) + '/' + target.mid(cut + 1)) == IdKey(entry) ? 'o' : 'n';
#endif
    }
    void RenameFinished(const RenameAttempt &attempt, const RenameResult &result) override
    {
        RecordingSink::RenameFinished(attempt, result);
        Attempt &last = attempts.last();
        last.tried = result.outcome != RenameOutcome::InvalidName
            && result.outcome != RenameOutcome::InexactName;
        last.renamed = result.Succeeded();
        last.outcome = result.outcome;
        last.systemError = result.systemError;
#ifdef _WIN32
        if (last.renamed)
            last.caseMade = FinishChangeOfCase(last.oldPath, last.targetPath, last.caseOnly);
#endif
    }
private:
    const Occupants &atStart_;
};

QString WithoutSeconds(QString summary)
{
    return summary.remove(QRegularExpression(QStringLiteral("耗时\\d+秒。$")));
}

struct Job
{
    const char *name;
    JobKind kind;
    QStringList finds, replacements; // one each for replace, the pairs for pairs
    QString insertText;
    bool before = true;
    bool regex = false, filesOnly = false, extensionOnly = false;
};

QList<Job> Jobs()
{
    using C = JobKind;
    QList<Job> jobs{
        {"replace a b", C::Replace, {"a"}, {"b"}, {}, true, false, false, false},
        {"replace b a, files only", C::Replace, {"b"}, {"a"}, {}, true, false, true, false},
        {"replace a A (case)", C::Replace, {"a"}, {"A"}, {}, true, false, false, false},
        {"replace o 0 (reaches the container)", C::Replace, {"o"}, {"0"}, {}, true, false, false, false},
        {"replace into a path", C::Replace, {"a"}, {"x/y"}, {}, true, false, false, false},
        {"regex swap", C::Replace, {"^(\\w)(\\w+)"}, {"\\2\\1"}, {}, true, true, false, false},
        {"regex to nothing", C::Replace, {"^b.*"}, {""}, {}, true, true, false, false},
        {"regex to a dot", C::Replace, {"^A$"}, {"."}, {}, true, true, false, false},
        {"extension txt a", C::Replace, {"txt"}, {"a"}, {}, true, false, false, true},
        {"extension dropped", C::Replace, {"txt"}, {""}, {}, true, false, false, true},
        {"pairs chained", C::Pairs, {"a", "b"}, {"b", "c"}, {}, true, false, false, false},
        {"pairs swapped back", C::Pairs, {"b", "a", "c"}, {"a", "b", "b"}, {}, true, false, false, false},
        {"pairs regex, files only", C::Pairs, {"^a", "b$"}, {"b", "a"}, {}, true, true, true, false},
        {"pairs into bad names", C::Pairs, {"^b$", "^A", "a"}, {"..", "", "a/"}, {}, true, true, false, false},
        {"pairs extension only", C::Pairs, {"txt", "TXT"}, {"TXT", "txt"}, {}, true, false, false, true},
        {"insert a before", C::Insert, {}, {}, "a", true, false, false, false},
        {"insert b after", C::Insert, {}, {}, "b", false, false, false, false},
        {"insert after extension", C::Insert, {}, {}, "txt", false, false, false, true},
        {"insert before, files only", C::Insert, {}, {}, "b", true, false, true, false},
    };
#ifdef _WIN32
    // New names that Windows stores without their trailing dots and spaces,
    // or refuses (reserved characters, device names), cases of one name,
    // and Chinese text.
    jobs += QList<Job>{
        {"regex appends a dot", C::Replace, {"$"}, {"."}, {}, true, true, false, false},
        {"replace b by a space", C::Replace, {"b"}, {" "}, {}, true, false, false, false},
        {"pairs into trailing dots and spaces", C::Pairs, {"a$", "(\\w)$"}, {"a..", "\\1 . "}, {},
         true, true, false, false},
        {"pairs into reserved characters", C::Pairs, {"^o", " ", "ba"}, {"<o>", "?", "b|a"}, {},
         true, true, false, false},
        {"pairs into device names", C::Pairs, {"^ca", "^o$"}, {"con", "NUL"}, {}, true, true,
         false, false},
        {"replace B b (case)", C::Replace, {"B"}, {"b"}, {}, true, false, false, false},
        {"replace a Chinese character", C::Replace, {"旅"}, {"照"}, {}, true, false, false, false},
        {"insert Chinese before", C::Insert, {}, {}, "新", true, false, false, false},
    };
#endif
    return jobs;
}

#ifdef _WIN32
// Whether every text of the job is ASCII: its new names then take as many
// bytes as UTF-16 units.
bool AsciiJob(const Job &job)
{
    const QString all = job.finds.join(QString()) + job.replacements.join(QString()) + job.insertText;
    for (const QChar c : all)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}
#endif

#ifdef _WIN32
bool MakeFile(const QString &path)
{
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

bool MakeFolder(const QString &path)
{
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

class TreeMaker
{
public:
    // `longNames`: some names of 252 to 255 UTF-16 units, all ASCII. Wine
    // stores names as UTF-8 on a host file system that takes 255 bytes, so
    // a long name with other characters, or a Chinese text added to a long
    // name, would meet the host's limit, not Windows'.
    TreeMaker(unsigned seed, bool longNames) : random_(seed), longNames_(longNames) {}

    // The container holds root/ (the chosen folder) and outside/.
    bool Make(const QByteArray &container)
    {
        const QString path = FromNativeBytes(container);
        ok_ = MakeFolder(path);
        Folder(path + QStringLiteral("/root"), 0, 3);
        Folder(path + QStringLiteral("/outside"), 0, 1);
        if (Chance(30))
            File(path + QStringLiteral("/root/") + RenameReportFileName());
        if (Chance(30))
            File(path + QStringLiteral("/root/") + ReportFileNames().first());
        return ok_;
    }

private:
    bool Chance(int percent) { return int(random_() % 100) < percent; }
    const QString &Pick(const QStringList &list)
    {
        return list.at(int(random_() % unsigned(list.size())));
    }

    // No leading dots: Wine lists such a name as hidden, Windows doesn't,
    // so a rename that drops one would show Wine's rule (and a row whose
    // rename adds one is skipped under Wine). Case
    // variants ("ab", "Ab", "AB") are one name: the second is not made, and
    // a rename to one is taken by the other.
    QString Name()
    {
        static const QStringList bases{
            QStringLiteral("a"),  QStringLiteral("b"),    QStringLiteral("A"),
            QStringLiteral("ab"), QStringLiteral("ba"),   QStringLiteral("B"),
            QStringLiteral("o"),  QStringLiteral("x b"),  QStringLiteral("ca"),
            QStringLiteral("Bb"), QStringLiteral("BA"),   QStringLiteral("旅行"),
            QStringLiteral("旅a"), QStringLiteral("照片B"), QStringLiteral("数据 o")};
        static const QStringList extensions{
            QString(), QString(), QStringLiteral(".txt"), QStringLiteral(".TXT"), QStringLiteral(".a"),
            QStringLiteral(".b"), QStringLiteral(".tar.gz"), QStringLiteral(".文本"),
            // Stored so from Linux or macOS over a share: "a." beside "a".
            QStringLiteral("."), QStringLiteral(" ")};
        if (longNames_ && Chance(10)) {
            const QString extension = Chance(50) ? QString() : QStringLiteral(".txt");
            const int length = 252 + int(random_() % 4);
            return Pick({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("B")})
                + QString(length - 1 - extension.size(), QLatin1Char('x')) + extension;
        }
        return Pick(bases) + Pick(extensions);
    }

    void Hide(const QString &path)
    {
        if (Chance(15))
            SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }

    void File(const QString &path)
    {
        if (MakeFile(path))
            Hide(path);
    }

    void Folder(const QString &path, int depth, int maxDepth)
    {
        if (MakeFolder(path)) {
            if (depth > 0)
                Hide(path);
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return;
        }
        const int count = 1 + int(random_() % 6);
        for (int i = 0; i < count; ++i) {
            const QString child = path + QLatin1Char('/') + Name();
            if (random_() % 10 < 6 || depth >= maxDepth)
                File(child); // a name taken already: what stands there stays
            else
                Folder(child, depth + 1, maxDepth);
        }
    }

    std::mt19937 random_;
    bool longNames_;
    bool ok_ = true;
};
#else
class TreeMaker
{
public:
    explicit TreeMaker(unsigned seed) : random_(seed) {}

    // The container holds root/ (the chosen folder) and outside/.
    bool Make(const QByteArray &container)
    {
        ok_ = ::mkdir(container.constData(), 0777) == 0;
        Folder(container + "/root", 0, 3);
        Folder(container + "/outside", 0, 1);
        if (Chance(30))
            File(container + "/root/" + QFile::encodeName(RenameReportFileName()));
        if (Chance(30))
            File(container + "/root/"
                 + QFile::encodeName(ReportFileNames().first()));
        return ok_;
    }

private:
    bool Chance(int percent) { return int(random_() % 100) < percent; }
    template <typename T>
    const T &Pick(const QList<T> &list)
    {
        return list.at(int(random_() % unsigned(list.size())));
    }

    QByteArray Name()
    {
        static const QList<QByteArray> bases{"a", "b", "A", "ab", "ba", "B", "o", "x b", "ca"};
        static const QList<QByteArray> extensions{"", "", ".txt", ".TXT", ".a", ".b", ".tar.gz", "."};
        QByteArray name = Pick(bases) + Pick(extensions);
        if (Chance(12))
            name.prepend('.');
        if (Chance(3))
            name += "\xff"; // not UTF-8: left out by every listing
        return name;
    }

    void File(const QByteArray &path)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0)
            ::close(fd);
    }

    // A link whose text climbs `depth` + 1 levels reaches the container.
    QByteArray LinkText(int depth)
    {
        QByteArray up;
        for (int i = 0; i <= depth; ++i)
            up += "../";
        switch (random_() % 8) {
        case 0:
            return Name(); // a sibling, a dangling name, or one a rename may make
        case 1:
            return "..";
        case 2:
            return ".";
        case 3:
            return up; // the container: root itself is listed from there
        case 4:
            return up + "outside";
        case 5:
            return up + "root/" + Name();
        case 6:
            return "../" + Name();
        default:
            return "nowhere/" + Name();
        }
    }

    void Folder(const QByteArray &path, int depth, int maxDepth)
    {
        if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST)
            return;
        const int count = 1 + int(random_() % 6);
        for (int i = 0; i < count; ++i) {
            const QByteArray child = path + '/' + Name();
            const unsigned kind = random_() % 10;
            if (kind < 5)
                File(child);
            else if (kind < 8 && depth < maxDepth)
                Folder(child, depth + 1, maxDepth);
            else if (::symlink(LinkText(depth).constData(), child.constData()) != 0)
                continue; // the name is taken already: what stands there stays
        }
    }

    std::mt19937 random_;
    bool ok_ = true;
};
#endif

#ifndef _WIN32
// Acts as another user while it lives, through the effective ids only, so
// that the test is root again afterwards.
class ActingAs
{
public:
    ActingAs(uid_t uid, gid_t gid) : uid_(::geteuid()), gid_(::getegid())
    {
        ok_ = ::setegid(gid) == 0;
        if (ok_ && ::seteuid(uid) != 0) {
            ok_ = false;
            if (::setegid(gid_) != 0)
                std::abort();
        }
    }
    ~ActingAs()
    {
        if (ok_ && (::seteuid(uid_) != 0 || ::setegid(gid_) != 0))
            std::abort(); // the rest of the tests must not run as someone else
    }
    ActingAs(const ActingAs &) = delete;
    ActingAs &operator=(const ActingAs &) = delete;
    bool Ok() const { return ok_; }

private:
    uid_t uid_;
    gid_t gid_;
    bool ok_ = false;
};

bool MakeFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && ::close(fd) == 0;
}
#endif

struct Comparison
{
    RenamePlan plan;
    QList<Attempt> real;
    int existsChecked = 0, takenChecked = 0; // taken names whose kind was compared
#ifdef _WIN32
    // Of the renames tried: those the plan refuses as too long (Wine tells
    // such a name as one not found, so the plan's reason is counted), those
    // to names the system stores without their trailing dots or spaces, or
    // refuses, and the new cases of an old name made.
    int tooLong = 0, trailing = 0, refused = 0, caseChanges = 0;
#endif
};

#ifdef _WIN32
// A character no Windows name may hold, or a device's name, which the
// system takes for the device wherever it stands (with any extension, as
// Wine and Windows before 11 take it).
bool RefusedByWindows(const QString &name)
{
    for (const QChar c : name)
        if (c.unicode() < 0x20 || QStringLiteral("<>:\"|?*").contains(c))
            return true;
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com\\d|lpt\\d)(\\.|$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    return device.match(StoredName(name)).hasMatch();
}

void CountWindowsCases(Comparison &out)
{
    for (int i = 0; i < out.real.size(); ++i) {
        const Attempt &attempt = out.real.at(i);
        const QString name = attempt.targetPath.mid(LastSeparator(attempt.targetPath) + 1);
        // Refused before any system call, by the real run and the plan alike.
        out.refused += RefusedByWindows(name) ? 1 : 0;
        if (!attempt.tried)
            continue;
        out.tooLong += out.plan.renames.at(i).result.outcome == RenameOutcome::NameTooLong ? 1 : 0;
        out.trailing += StoredName(name) != name ? 1 : 0;
        out.caseChanges += attempt.renamed && attempt.caseOnly ? 1 : 0;
    }
}

bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Whether the plan renames an entry to a name with a leading dot, which
// its old name had not.
bool AddsLeadingDot(const RenamePlan &plan)
{
    for (const PlannedRename &step : plan.renames)
        if (step.result.Succeeded()
            && step.newPath.at(LastSeparator(step.newPath) + 1) == QLatin1Char('.')
            && step.oldPath.at(LastSeparator(step.oldPath) + 1) != QLatin1Char('.'))
            return true;
    return false;
}

#endif

QString RealLine(const Attempt &attempt)
{
    if (attempt.renamed)
        return QStringLiteral("renamed");
    RenameResult result;
    result.outcome = attempt.outcome;
    result.systemError = attempt.systemError;
    return QString::fromLocal8Bit(FailureReason(result)); // the system's words, in its code page
}

#ifdef _WIN32
// The entries the copy and the disk don't agree on, for the failure message.
QString TreeDifference(const FsTree &planned, const FsTree &real)
{
    QStringList lines;
    for (auto at = planned.begin(); at != planned.end(); ++at)
        if (real.value(at.key()) != at.value())
            lines << QStringLiteral("planned %1 %2, real %3")
                         .arg(QString::fromUtf8(at.key()), QString::fromLatin1(at.value()),
                              QString::fromLatin1(real.value(at.key(), "none")));
    for (auto at = real.begin(); at != real.end(); ++at)
        if (!planned.contains(at.key()))
            lines << QStringLiteral("real only %1 %2")
                         .arg(QString::fromUtf8(at.key()), QString::fromLatin1(at.value()));
    return lines.join(QLatin1String("; "));
}

#endif

// Plans the job on a copy of the disk, then runs it on the disk, and checks
// rename by rename that the plan is what happened, and that the copy ends as
// the disk does.
void PlanAndRun(JobParameters params, bool deleteOldReports, const QByteArray &container,
                Comparison &out)
{
    DiskFileSystem disk;
    const FsTree before = TreeOf(disk, container);
    MemoryFileSystem memory;
    out.plan = PlanRenameJob(params, deleteOldReports, memory);
    const RenamePlan &plan = out.plan;
    QCOMPARE(TreeOf(disk, container), before); // the dry run touched nothing
    // Taken now: what the copy reads later would come from the disk
    // as the real run leaves it.
    const FsTree planned = TreeOf(memory, container);

    Occupants atStart;
    CollectOccupants(container, atStart);
    DiskWatchingSink real(atStart);
    if (deleteOldReports)
        DeleteOldReportFiles(params);
    const PassOutcome outcome = RunPass(params, real);
    out.real = real.attempts;
#ifdef _WIN32
    if (plan.renames.size() == real.attempts.size())
        CountWindowsCases(out);
#endif
    // The report stays: the copy must hold it too.
    QCOMPARE(plan.reportTried, !real.reports.isEmpty() || !real.failedReports.isEmpty());
    QCOMPARE(plan.reportWritten, !real.reports.isEmpty());
#ifdef _WIN32
    for (const Attempt &attempt : real.attempts)
        QVERIFY2(attempt.caseMade, qPrintable(attempt.oldPath + QLatin1String(" -> ")
                                              + attempt.targetPath));
    if (UnderWine() && AddsLeadingDot(plan))
        QSKIP("a rename adds a leading dot: Wine lists such a name as hidden, Windows doesn't");
#endif

    QCOMPARE(plan.renames.size(), real.attempts.size());
    for (int i = 0; i < plan.renames.size(); ++i) {
        const PlannedRename &step = plan.renames.at(i);
        const Attempt &attempt = real.attempts.at(i);
        const QString where = QStringLiteral("rename %1: %2").arg(i).arg(attempt.oldPath);
        QVERIFY2(step.oldPath == attempt.oldPath, qPrintable(where));
        if (attempt.tried) {
            QVERIFY2(step.newPath == attempt.targetPath, qPrintable(where));
            QVERIFY2(step.result.Succeeded() == attempt.renamed,
                     qPrintable(where + QLatin1String("; real: ") + RealLine(attempt)
                                + QLatin1String("; plan: ") + QString::fromUtf8(PlanLine(step))));
            if (attempt.occupant && !attempt.renamed
                && (step.result.outcome == RenameOutcome::TargetExists
                    || step.result.outcome == RenameOutcome::TargetTaken)) {
                QVERIFY2((step.result.outcome == RenameOutcome::TargetExists)
                             == (attempt.occupant == 'o'),
                         qPrintable(where));
                ++(attempt.occupant == 'o' ? out.existsChecked : out.takenChecked);
            }
            QVERIFY2(step.result.outcome != RenameOutcome::InvalidName
                         && step.result.outcome != RenameOutcome::InexactName,
                     qPrintable(where));
        } else {
            // In a UTF-8 locale every listed name is exact. The target
            // shown is the refused one: in the same folder, no plain name.
            QVERIFY2(step.result.outcome == RenameOutcome::InvalidName, qPrintable(where));
            const QString prefix = QDir::cleanPath(QFileInfo(step.oldPath).absolutePath()) + '/';
            const QString newPath = QDir::fromNativeSeparators(step.newPath);
            const QString name = newPath.mid(prefix.size());
            bool noName = name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
                || name.contains(QLatin1Char('/'));
#ifdef _WIN32
            // Or one no Windows entry can bear, refused alike by both.
            noName = noName || RefusedByWindows(name) || StoredName(name).isEmpty();
#endif
            QVERIFY2(newPath.startsWith(prefix) && noName,
                     qPrintable(where + QLatin1String(" -> ") + step.newPath));
        }
    }
    QCOMPARE(plan.outcome.filesChanged, outcome.filesChanged);
    QCOMPARE(plan.outcome.foldersChanged, outcome.foldersChanged);
    QCOMPARE(WithoutSeconds(plan.summary), WithoutSeconds(outcome.summary));
#ifdef _WIN32
    const FsTree after = TreeOf(disk, container);
    QVERIFY2(planned == after, qPrintable(TreeDifference(planned, after)));
    // The Windows model gives the system's own reasons too; only whether a
    // name was taken by this job or stood from the start is the plan's
    // alone (the occupants above tell it).
    const auto taken = [](RenameOutcome outcome) {
        return outcome == RenameOutcome::TargetExists || outcome == RenameOutcome::TargetTaken;
    };
    for (int i = 0; i < plan.renames.size(); ++i) {
        const RenameOutcome planned = plan.renames.at(i).result.outcome;
        const RenameOutcome happened = real.attempts.at(i).outcome;
        QVERIFY2(planned == happened || (taken(planned) && taken(happened)),
                 qPrintable(real.attempts.at(i).oldPath + QLatin1String(": planned ")
                            + QString::fromLocal8Bit(FailureReason(plan.renames.at(i).result))
                            + QLatin1String(", real ") + RealLine(real.attempts.at(i))));
    }
#else
    QCOMPARE(planned, TreeOf(disk, container));
#endif
}

#ifndef _WIN32
// Each planned rename's outcome must be the real run's, by old path.
void CompareOutcomes(const Comparison &compared)
{
    QCOMPARE(compared.plan.renames.size(), compared.real.size());
    for (int i = 0; i < compared.real.size(); ++i)
        QVERIFY2(compared.plan.renames.at(i).result.outcome == compared.real.at(i).outcome,
                 qPrintable(compared.real.at(i).oldPath + QLatin1String(": planned ")
                            + QString::fromUtf8(FailureReason(compared.plan.renames.at(i).result))
                            + QLatin1String(", real ")
                            + QString::number(int(compared.real.at(i).outcome))));
}
#endif

// The command line's exit code for `arguments`, ROOT standing for `root`.
int ExitCodeOf(QStringList arguments, const QString &root)
{
    arguments.replaceInStrings(QStringLiteral("ROOT"), root);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    return parsed.ok ? RunRenameCommand(parsed.request) : -1;
}

// The real run's outcome for the entry whose old path ends in `tail`.
RenameOutcome RealOutcome(const Comparison &compared, const QString &tail)
{
    for (const Attempt &attempt : compared.real)
        if (attempt.oldPath.endsWith(tail))
            return attempt.outcome;
    return RenameOutcome::Vanished; // never tried: no outcome the cases expect
}

#ifdef _WIN32
// The plan's outcome for the entry whose old path ends in `tail`.
RenameOutcome PlannedOutcome(const Comparison &compared, const QString &tail)
{
    for (const PlannedRename &step : compared.plan.renames)
        if (step.oldPath.endsWith(tail))
            return step.result.outcome;
    return RenameOutcome::Vanished; // never planned: no outcome the cases expect
}
#endif

} // namespace

class TestDryRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir temp_;
#ifndef _WIN32
    std::unique_ptr<QTemporaryDir> buildTemp_; // under the build tree: maybe another file system
#endif
    QByteArray container_;
    int rowsRun_ = 0, rows_ = 0;
    int existsChecked_ = 0, takenChecked_ = 0;
#ifdef _WIN32
    int tooLong_ = 0, trailing_ = 0, refused_ = 0, caseChanges_ = 0;
#endif
#ifndef _WIN32
    // A folder whose file system takes the immutable and append-only flags,
    // with the privilege to set them: the temporary folder's, else one in
    // the build tree; empty when neither.
    QByteArray LockableFolder()
    {
        if (!buildTemp_)
            buildTemp_.reset(new QTemporaryDir(QCoreApplication::applicationDirPath()
                                               + QStringLiteral("/dryrun-XXXXXX")));
        for (const QTemporaryDir *dir : {&temp_, buildTemp_.get()}) {
            const QByteArray probe = QFile::encodeName(dir->path()) + "/lock-probe";
            if (!dir->isValid() || !MakeFile(probe))
                continue;
            const bool takes = testtree::SetImmutable(probe, true)
                && testtree::SetImmutable(probe, false) && testtree::SetAppendOnly(probe, true)
                && testtree::SetAppendOnly(probe, false);
            testtree::RemoveTree(probe);
            if (takes)
                return QFile::encodeName(dir->path());
        }
        return QByteArray();
    }
#endif
#ifdef _WIN32
    // Every file call goes through Wine's server: fewer trees, to keep the
    // run near a minute.
    static constexpr unsigned kSeeds = 10;
#else
    static constexpr unsigned kSeeds = 40;
#endif

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
#ifdef _WIN32
        // The old reports are found and deleted by their names in the ANSI
        // code page: the Chinese one here.
        QVERIFY2(GetACP() == 936, "the ANSI code page must be 936 (run Wine with LANG=zh_CN.UTF-8)");
#endif
    }

    // Every row passing must also have met both kinds of taken name (and on
    // Windows each kind of name the system treats its own way).
    void cleanupTestCase()
    {
        if (rows_ > 0 && rowsRun_ == rows_) {
            QVERIFY(existsChecked_ > 0);
            QVERIFY(takenChecked_ > 0);
#ifdef _WIN32
            QVERIFY(tooLong_ > 0);
            QVERIFY(trailing_ > 0);
            QVERIFY(refused_ > 0);
            QVERIFY(caseChanges_ > 0);
#endif
        }
    }

    void cleanup()
    {
        if (!container_.isEmpty())
#ifdef _WIN32
            QDir(FromNativeBytes(container_)).removeRecursively();
#else
            testtree::RemoveTree(container_);
#endif
    }

    void planEqualsRealRun_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<unsigned>("seed");
        const QList<Job> jobs = Jobs();
        for (int j = 0; j < jobs.size(); ++j)
            for (unsigned seed = 1; seed <= kSeeds; ++seed)
                QTest::addRow("%s, seed %u", jobs.at(j).name, seed) << j << seed;
        rows_ = jobs.size() * int(kSeeds);
    }

    void planEqualsRealRun()
    {
        QFETCH(int, job);
        QFETCH(unsigned, seed);
        const Job jobToRun = Jobs().at(job);
#ifdef _WIN32
        // A Chinese chosen folder: its old reports are looked for by GBK paths.
        const QByteArray container = NativeBytes(temp_.path() + QStringLiteral("/树")) + "j"
            + QByteArray::number(job) + "s" + QByteArray::number(seed);
#else
        const QByteArray container = NativeBytes(temp_.path()) + "/j"
            + QByteArray::number(job) + "s" + QByteArray::number(seed);
#endif
        container_ = container;
        ++rowsRun_;
#ifdef _WIN32
        QVERIFY(TreeMaker(seed * 7919u + unsigned(job), AsciiJob(jobToRun)).Make(container));
#else
        QVERIFY(TreeMaker(seed * 7919u + unsigned(job)).Make(container));
#endif

        JobParameters params;
        params.kind = jobToRun.kind;
        // Now and then the chosen folder by a path that is not clean.
        params.folderPath = FromNativeBytes(container)
            + QLatin1String(seed % 4 == 0 ? "/outside/../root/" : seed % 4 == 1 ? "/root/./" : "/root/");
        params.regExpMode = jobToRun.regex;
        params.onlyFiles = jobToRun.filesOnly;
        params.onlyExtension = jobToRun.extensionOnly;
        params.insertText = jobToRun.insertText;
        params.insertBefore = jobToRun.before;
        if (jobToRun.kind == JobKind::Pairs) {
            params.findList = jobToRun.finds;
            params.replacementList = jobToRun.replacements;
        } else if (jobToRun.kind == JobKind::Replace) {
            params.findText = jobToRun.finds.first();
            params.replacementText = jobToRun.replacements.first();
        }
        const bool noReport = seed % 3 == 0;

        Comparison compared;
        PlanAndRun(params, !noReport, container, compared);
        existsChecked_ += compared.existsChecked;
        takenChecked_ += compared.takenChecked;
#ifdef _WIN32
        tooLong_ += compared.tooLong;
        trailing_ += compared.trailing;
        refused_ += compared.refused;
        caseChanges_ += compared.caseChanges;
#endif
    }

    // The rename report is made after the renames, new, in the chosen
    // folder: the dry run must find a renamed entry standing at its name as
    // the real run does, and end with the same code.
    void reportPlannedAsTheRealRunMakesIt_data()
    {
        QTest::addColumn<QStringList>("arguments"); // ROOT: a folder holding a.txt
        QTest::addColumn<bool>("written");           // whether the report is made
        QTest::addColumn<int>("code");
        const QString reportName = QFileInfo(RenameReportFileName()).completeBaseName();
        QTest::newRow("a rename takes the report's name")
            << QStringList{"replace", "ROOT", "a", reportName} << false << 1;
        QTest::newRow("the same, writing no report")
            << QStringList{"replace", "ROOT", "a", reportName, "--no-report"} << false << 0;
        QTest::newRow("the report made") << QStringList{"replace", "ROOT", "a", "b"} << true << 0;
    }

    void reportPlannedAsTheRealRunMakesIt()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, written);
        QFETCH(int, code);
        const QString container = temp_.path() + QStringLiteral("/report");
        const QString root = container + QStringLiteral("/T");
        container_ = NativeBytes(container);
        const auto makeTree = [&] {
            return QDir().mkpath(root) && QFile(root + QStringLiteral("/a.txt")).open(QIODevice::WriteOnly);
        };
        QVERIFY(makeTree());
        QStringList withRoot = arguments;
        withRoot.replaceInStrings(QStringLiteral("ROOT"), root);
        const CliRequest request = ParseCommandLine(withRoot).request;

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = root + QLatin1Char('/');
        params.findText = request.findText;
        params.replacementText = request.replacementText;
        params.writeReport = !request.noReport;
        Comparison compared;
        PlanAndRun(params, params.writeReport, container_, compared);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(compared.plan.renames.size(), 1);
        QVERIFY(compared.plan.renames.first().result.Succeeded());
        QCOMPARE(compared.plan.reportTried, params.writeReport);
        QCOMPARE(compared.plan.reportWritten, written);

        // The command line, dry and then for real, on the tree made afresh.
        cleanup();
        QVERIFY(makeTree());
        const int dry = ExitCodeOf(arguments + QStringList{"--dry-run"}, root);
        QCOMPARE(dry, ExitCodeOf(arguments, root));
        QCOMPARE(dry, code);
    }

#ifdef _WIN32
    // The longest name, counted in UTF-16 units: 255 fits, 256 doesn't, for
    // a file and a folder alike. (ASCII only: under Wine the host's limit
    // of 255 bytes would come first for any other character.)
    void longNamesFailAsOnTheDisk()
    {
        const QString container = temp_.path() + QStringLiteral("/长");
        container_ = NativeBytes(container);
        const QString root = container + QStringLiteral("/root/");
        QVERIFY(MakeFolder(container));
        QVERIFY(MakeFolder(root));
        QVERIFY(!MakeFile(root + QString(256, QLatin1Char('z'))));
        QVERIFY(MakeFile(root + QLatin1Char('@') + QString(253, QLatin1Char('x')))); // 254, 255 renamed
        QVERIFY(MakeFile(root + QLatin1Char('@') + QString(254, QLatin1Char('x')))); // 255, 256 renamed
        QVERIFY(MakeFolder(root + QLatin1Char('@') + QString(254, QLatin1Char('y'))));
        QVERIFY(MakeFile(root + QStringLiteral("@旅行.txt")));

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = root;
        params.findText = QStringLiteral("@");
        params.replacementText = QStringLiteral("ab");
        params.writeReport = false;
        Comparison compared;
        PlanAndRun(params, false, container_, compared);
        if (QTest::currentTestFailed())
            return;
        const QString fits = QLatin1Char('@') + QString(253, QLatin1Char('x'));
        const QString file = QLatin1Char('@') + QString(254, QLatin1Char('x'));
        const QString folder = QLatin1Char('@') + QString(254, QLatin1Char('y'));
        QCOMPARE(PlannedOutcome(compared, fits), RenameOutcome::Renamed);
        QCOMPARE(PlannedOutcome(compared, file), RenameOutcome::NameTooLong);
        QCOMPARE(PlannedOutcome(compared, folder), RenameOutcome::NameTooLong);
        QCOMPARE(PlannedOutcome(compared, QStringLiteral("@旅行.txt")), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, fits), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QStringLiteral("@旅行.txt")), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, file), RenameOutcome::NameTooLong);
        QCOMPARE(RealOutcome(compared, folder), RenameOutcome::NameTooLong);
    }
#else
    // The file system's longest name, counted in bytes: 255 here fits, 256
    // doesn't, for a file, a folder and a name of two-byte characters (128
    // characters, 256 bytes) alike.
    void longNamesFailAsOnTheDisk()
    {
        const QByteArray container = QFile::encodeName(temp_.path()) + "/long";
        container_ = container;
        QVERIFY(::mkdir(container.constData(), 0777) == 0);
        const QByteArray root = container + "/root/";
        QVERIFY(::mkdir(root.constData(), 0777) == 0);
        if (MakeFile(root + QByteArray(256, 'z')))
            QSKIP("this file system takes names of 256 bytes");
        QVERIFY(errno == ENAMETOOLONG);
        QByteArray twoByte = "@";
        for (int i = 0; i < 127; ++i)
            twoByte += "\xc3\xa9"; // é
        QVERIFY(MakeFile(root + '@' + QByteArray(253, 'x'))); // 254 bytes, 255 renamed
        QVERIFY(MakeFile(root + '@' + QByteArray(254, 'x'))); // 255, 256 renamed
        QVERIFY(::mkdir(root + '@' + QByteArray(254, 'y'), 0777) == 0);
        QVERIFY(MakeFile(root + twoByte)); // 255 bytes, 256 renamed

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = QFile::decodeName(root);
        params.findText = QStringLiteral("@");
        params.replacementText = QStringLiteral("ab");
        params.writeReport = false;
        Comparison compared;
        PlanAndRun(params, false, container, compared);
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(compared);
        QCOMPARE(RealOutcome(compared, QString(253, 'x')), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QString(254, 'x')), RenameOutcome::NameTooLong);
        QCOMPARE(RealOutcome(compared, QString(254, 'y')), RenameOutcome::NameTooLong);
        QCOMPARE(RealOutcome(compared, QFile::decodeName(twoByte)), RenameOutcome::NameTooLong);
    }

    // In a sticky folder only the entry's owner, the folder's owner or a
    // privileged process may rename an entry. Run as an unprivileged user,
    // since root may rename anything there.
    void stickyFoldersKeepOthersEntries()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to give entries to several users");
        const struct passwd *nobody = ::getpwnam("nobody");
        const uid_t user = nobody ? nobody->pw_uid : 65534;
        const gid_t group = nobody ? nobody->pw_gid : 65534;
        const uid_t stranger = user == 4242 ? 4243 : 4242; // neither root nor the user
        QVERIFY(::chmod(QFile::encodeName(temp_.path()).constData(), 0711) == 0);
        const QByteArray container = QFile::encodeName(temp_.path()) + "/sticky";
        container_ = container;
        const QByteArray root = container + "/root/";
        QVERIFY(::mkdir(container.constData(), 0755) == 0);
        QVERIFY(::mkdir(root.constData(), 0755) == 0);
        // sticky: root's, for everyone; own: the user's, for everyone; open:
        // for everyone, not sticky.
        for (const char *folder : {"sticky", "own", "open"}) {
            QVERIFY(::mkdir(root + folder, 0777) == 0);
            QVERIFY(::chmod(root + folder, std::strcmp(folder, "open") ? 01777 : 0777) == 0);
        }
        QVERIFY(::chown(root + "own", user, group) == 0);
        QVERIFY(MakeFile(root + "sticky/a1"));                          // root's
        QVERIFY(MakeFile(root + "sticky/a2"));
        QVERIFY(::chown(root + "sticky/a2", user, group) == 0);         // the user's
        QVERIFY(::mkdir(root + "sticky/a3", 0777) == 0);
        QVERIFY(::chown(root + "sticky/a3", stranger, stranger) == 0);  // a third user's
        QVERIFY(MakeFile(root + "sticky/a4"));
        QVERIFY(::chown(root + "sticky/a4", stranger, stranger) == 0);  // the third user's
        QVERIFY(MakeFile(root + "own/a5"));                             // root's, in the user's folder
        QVERIFY(MakeFile(root + "open/a6"));                            // root's, not sticky
        // Old reports in the chosen folder, sticky too: root's stays, the
        // user's goes.
        QVERIFY(::chmod(root.constData(), 01777) == 0);
        const QByteArray rootsReport = root + QFile::encodeName(ReportFileNames().at(0));
        const QByteArray usersReport = root + QFile::encodeName(ReportFileNames().at(2));
        QVERIFY(MakeFile(rootsReport));
        QVERIFY(MakeFile(usersReport));
        QVERIFY(::chown(usersReport.constData(), user, group) == 0);

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = QFile::decodeName(root);
        params.findText = QStringLiteral("a");
        params.replacementText = QStringLiteral("b");
        params.writeReport = false;
        Comparison compared;
        {
            const ActingAs acting(user, group);
            if (!acting.Ok())
                QSKIP("can't act as another user");
            QCOMPARE(::geteuid(), user);
            PlanAndRun(params, true, container, compared);
        }
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(compared);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a1")), RenameOutcome::NotPermitted);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a2")), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a3")), RenameOutcome::NotPermitted);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a4")), RenameOutcome::NotPermitted);
        QCOMPARE(RealOutcome(compared, QStringLiteral("own/a5")), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QStringLiteral("open/a6")), RenameOutcome::Renamed);
        struct stat info;
        QVERIFY(::lstat(rootsReport.constData(), &info) == 0);
        QVERIFY(::lstat(usersReport.constData(), &info) != 0);

        // As root, the same tree renames whole: the rule is the owners', not
        // the folder's.
        testtree::RemoveTree(container);
        QVERIFY(::mkdir(container.constData(), 0755) == 0);
        QVERIFY(::mkdir(root.constData(), 0755) == 0);
        QVERIFY(::mkdir(root + "sticky", 0777) == 0 && ::chmod(root + "sticky", 01777) == 0);
        QVERIFY(MakeFile(root + "sticky/a1"));
        QVERIFY(::chown(root + "sticky/a1", stranger, stranger) == 0);
        Comparison asRoot;
        PlanAndRun(params, false, container, asRoot);
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(asRoot);
        QCOMPARE(RealOutcome(asRoot, QStringLiteral("sticky/a1")), RenameOutcome::Renamed);
    }

    // No one, root included, may rename an immutable or append-only entry,
    // nor rename or delete anything in a folder that is either.
    void lockedEntriesStayWhereTheyAre()
    {
        const QByteArray base = LockableFolder();
        if (base.isEmpty())
            QSKIP("no file system here takes the immutable and append-only flags from this "
                  "process (tmpfs or overlay without them, or no CAP_LINUX_IMMUTABLE)");
        const QByteArray container = base + "/locked";
        container_ = container;
        const QByteArray root = container + "/root/";
        QVERIFY(::mkdir(container.constData(), 0755) == 0);
        QVERIFY(::mkdir(root.constData(), 0755) == 0);
        QVERIFY(::mkdir(root + "adir", 0755) == 0);
        QVERIFY(::mkdir(root + "aimm", 0755) == 0);
        for (const char *file : {"a1", "a2", "a5", "adir/a3", "aimm/a4"})
            QVERIFY(MakeFile(root + file));
        // An old report that can't be deleted: the copy must keep it too.
        const QByteArray oldReport = root + QFile::encodeName(ReportFileNames().first());
        QVERIFY(MakeFile(oldReport));
        QString why;
        QVERIFY2(testtree::SetImmutable(root + "a1", true, &why), qPrintable(why));
        QVERIFY2(testtree::SetAppendOnly(root + "a2", true, &why), qPrintable(why));
        QVERIFY2(testtree::SetAppendOnly(root + "adir", true, &why), qPrintable(why));
        QVERIFY2(testtree::SetImmutable(root + "aimm", true, &why), qPrintable(why));
        QVERIFY2(testtree::SetImmutable(oldReport, true, &why), qPrintable(why));

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = QFile::decodeName(root);
        params.findText = QStringLiteral("a");
        params.replacementText = QStringLiteral("b");
        Comparison compared;
        PlanAndRun(params, true, container, compared);
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(compared);
        for (const char *tail : {"/a1", "/a2", "adir/a3", "aimm/a4", "/adir", "/aimm"})
            QVERIFY2(RealOutcome(compared, QString::fromLatin1(tail)) == RenameOutcome::NotPermitted,
                     tail);
        QCOMPARE(RealOutcome(compared, QStringLiteral("/a5")), RenameOutcome::Renamed);
        struct stat info;
        QVERIFY(::lstat(oldReport.constData(), &info) == 0);
        QVERIFY(compared.plan.reportWritten);
    }
#endif
};

QTEST_GUILESS_MAIN(TestDryRun)
#include "tst_dryrun.moc"
