// The pass on the disk where the disk is hostile: a folder swapped after the
// scan, names the locale's encoding can't read, folders that can't be read.

#include "tests/support/enginetestsupport.h"

#include "engine/folderscan.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"
#include "platform/folderlisting.h"
#include "platform/nativepath.h"
#include "platform/entryidentity.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>
#else
#include "tests/support/treesnapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

using namespace enginetest;

namespace {

#ifdef _WIN32

// By wide names as given, for names that no QString path would keep.
bool MakeWide(const std::wstring &path, bool folder = false)
{
    if (folder)
        return CreateDirectoryW(path.c_str(), nullptr) != 0;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

bool ExistsWide(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Everyone may do anything with the folder but, when `deny`, list it: a
// deny entry comes first and wins. Not inherited, so what is inside stays
// as it was.
bool DenyListing(const QString &path, bool deny)
{
    const wchar_t *rules = deny ? L"D:P(D;;0x1;;;WD)(A;OICI;FA;;;WD)" : L"D:P(A;OICI;FA;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    const bool ok =
        SetFileSecurityW(WideOf(path).c_str(), DACL_SECURITY_INFORMATION, descriptor) != 0;
    LocalFree(descriptor);
    return ok;
}

// Whether the system itself lists the folder.
bool Listable(const QString &path)
{
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW((WideOf(path) + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}
#else
bool MakeRaw(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

bool ExistsRaw(const QByteArray &path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}

#endif

} // namespace

class DiskScanTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
#ifdef _WIN32
    void folderSwappedForAnotherIsNotRenamedIn();
#else
    // Symbolic links: on Windows QFile::link makes shortcuts instead.
    void folderSwappedForLinkIsNotRenamedIn();
#endif
    void unreadableNamesLeftAloneBesideLookalikes();
    void unreadableFoldersFlaggedAndCounted();

private:
#ifdef _WIN32
    std::wstring Wide(const QString &relative) const { return WideOf(root_ + "/" + relative); }
#else
    QByteArray Raw(const QString &relative) const { return QFile::encodeName(root_ + "/" + relative); }
#endif

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
};

void DiskScanTest::initTestCase()
{
}

void DiskScanTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
}

void DiskScanTest::cleanup()
{
#ifndef _WIN32
    testtree::RemoveTree(QFile::encodeName(root_));
#endif
}

#ifdef _WIN32
void DiskScanTest::folderSwappedForAnotherIsNotRenamedIn()
{
    QVERIFY(MakeFile(root_, "d/a.txt", "inside"));
    QVERIFY(MakeFile(root_, "other/a.txt", "other"));
    EntryIdentity scanned;
    QVERIFY(IdentifyEntry(Native(root_ + "/d"), scanned));
    // After the scan the folder is put aside and another takes its name.
    QVERIFY(QFile::rename(root_ + "/d", root_ + "/moved"));
    QVERIFY(QFile::rename(root_ + "/other", root_ + "/d"));
    DiskFileSystem disk;
    const RenameResult swapped = disk.RenameIn(Native(root_ + "/d/"), scanned, "a.txt", "b.txt");
    QVERIFY(!swapped);
    QCOMPARE(int(swapped.outcome), int(RenameOutcome::FolderMoved));
    QCOMPARE(Tree(root_ + "/d"), QStringList{"a.txt"});
    QCOMPARE(ReadFile(root_ + "/d/a.txt"), QByteArray("other"));
    QCOMPARE(ReadFile(root_ + "/moved/a.txt"), QByteArray("inside"));
    // The folder it was: still renamed in by its own path.
    QVERIFY(disk.RenameIn(Native(root_ + "/moved/"), scanned, "a.txt", "b.txt"));
    QCOMPARE(ReadFile(root_ + "/moved/b.txt"), QByteArray("inside"));
}
#else
void DiskScanTest::folderSwappedForLinkIsNotRenamedIn()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(MakeFile(outside.path(), "a.txt", "outside"));
    QVERIFY(MakeFile(root_, "d/a.txt", "inside"));
    EntryIdentity scanned;
    QVERIFY(IdentifyEntry(Native(root_ + "/d"), scanned));
    // After the scan the folder is put aside and a link to a folder outside
    // takes its name.
    QVERIFY(QFile::rename(root_ + "/d", root_ + "/moved"));
    QVERIFY(MakeLink(outside.path(), root_, "d"));
    DiskFileSystem disk;
    QVERIFY(!disk.RenameIn(Native(root_ + "/d/"), scanned, "a.txt", "b.txt"));
    QCOMPARE(Tree(outside.path()), QStringList{"a.txt"});
    QCOMPARE(ReadFile(root_ + "/moved/a.txt"), QByteArray("inside"));
    // The folder it was: still renamed in by its own path.
    QVERIFY(disk.RenameIn(Native(root_ + "/moved/"), scanned, "a.txt", "b.txt"));
    QCOMPARE(ReadFile(root_ + "/moved/b.txt"), QByteArray("inside"));
}
#endif

#ifdef _WIN32
void DiskScanTest::unreadableNamesLeftAloneBesideLookalikes()
{
    // A lone surrogate has no UTF-8 form; U+FFFD is what a lossy reading of
    // it would show. Likewise for the folders.
    if (!MakeWide(Wide("a") + L"\xD800 draft.txt"))
        QSKIP("the file system refuses names with a lone surrogate");
    QVERIFY(MakeWide(Wide("a") + L"\xFFFD draft.txt"));
    QVERIFY(MakeWide(Wide("f") + L"\xDC00 draft", true));
    QVERIFY(MakeWide(Wide("f") + L"\xDC00 draft\\inner draft"));
    QVERIFY(MakeWide(Wide("f") + L"\xFFFD draft", true));
    QVERIFY(MakeWide(Wide("f") + L"\xFFFD draft\\inner draft"));
    // A name a lone decoding would change: a leading byte order mark.
    QVERIFY(MakeWide(Wide(QString()) + L"\xFEFF" L"draft"));
    QVERIFY(MakeWide(Wide("draft")));

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);

    // Neither scanned nor shown nor renamed, nor anything below such a
    // folder; said, though, each once.
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 1);
    QCOMPARE(out.filesChanged, 4);
    QCOMPARE(out.foldersChanged, 1);
    QCOMPARE(out.undecodableNames, 2);
    QCOMPARE(out.unreadableFolders + out.tooLongPaths, 0);
    QVERIFY(ExistsWide(Wide("a") + L"\xD800 draft.txt"));
    QVERIFY(ExistsWide(Wide("f") + L"\xDC00 draft\\inner draft"));
    QVERIFY(ExistsWide(Wide("a") + L"\xFFFD final.txt"));
    QVERIFY(ExistsWide(Wide("f") + L"\xFFFD final\\inner final"));
    QVERIFY(ExistsWide(Wide(QString()) + L"\xFEFF" L"final"));
    QVERIFY(ExistsWide(Wide("final")));
    // Every path shown is a whole one: it survives UTF-8.
    for (const QString &path : sink.progress)
        QVERIFY2(QString::fromUtf8(path.toUtf8()) == path, qPrintable(path));
    QCOMPARE(sink.progress.size(), 5);
}
#else
void DiskScanTest::unreadableNamesLeftAloneBesideLookalikes()
{
    // "\xff" is no UTF-8; "\xef\xbf\xbd" is U+FFFD, what a lossy reading of
    // the first would show. Likewise for the folders.
    QVERIFY(MakeRaw(Raw("a") + "\xff" + " draft.txt"));
    QVERIFY(MakeRaw(Raw("a") + "\xef\xbf\xbd" + " draft.txt"));
    QVERIFY(::mkdir((Raw("f") + "\xff" + " draft").constData(), 0755) == 0);
    QVERIFY(MakeRaw(Raw("f") + "\xff" + " draft/inner draft"));
    QVERIFY(::mkdir((Raw("f") + "\xef\xbf\xbd" + " draft").constData(), 0755) == 0);
    QVERIFY(MakeRaw(Raw("f") + "\xef\xbf\xbd" + " draft/inner draft"));
    // Valid UTF-8 that a lone decoding of the name would change: a leading
    // byte order mark.
    QVERIFY(MakeRaw(Raw(QString()) + "\xef\xbb\xbf" "draft"));
    QVERIFY(MakeRaw(Raw("draft")));

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);

    // The toolkit's listing leaves the unreadable names out: neither scanned
    // nor shown nor renamed, and nothing below such a folder.
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 1);
    QCOMPARE(out.filesChanged, 4);
    QCOMPARE(out.foldersChanged, 1);
    // Said, though: the file and the folder, each once.
    QCOMPARE(out.undecodableNames, 2);
    QCOMPARE(out.unreadableFolders + out.tooLongPaths, 0);
    QVERIFY(ExistsRaw(Raw("a") + "\xff" + " draft.txt"));
    QVERIFY(ExistsRaw(Raw("f") + "\xff" + " draft/inner draft"));
    QVERIFY(ExistsRaw(Raw("a") + "\xef\xbf\xbd" + " final.txt"));
    QVERIFY(ExistsRaw(Raw("f") + "\xef\xbf\xbd" + " final/inner final"));
    QVERIFY(ExistsRaw(Raw(QString()) + "\xef\xbb\xbf" "final"));
    QVERIFY(ExistsRaw(Raw("final")));
    for (const QString &path : sink.progress)
        QVERIFY2(!path.contains(QChar(0xFFFD)) || QFile::encodeName(path).contains("\xef\xbf\xbd"),
                 qPrintable(path));
    QCOMPARE(sink.progress.size(), 5);
}
#endif

#ifdef _WIN32
void DiskScanTest::unreadableFoldersFlaggedAndCounted()
{
    QVERIFY(MakeFile(root_, "locked/a draft.txt"));
    QVERIFY(MakeFile(root_, "open/b draft.txt"));
    QVERIFY(MakeFile(root_, "file draft.txt"));
    DirListing listing;
    EntryIdentity identity;
    QVERIFY(ReadFolder(Native(root_ + "/open"), identity, listing));
    QVERIFY(!listing.unreadable);
    // No folder is nothing to read, not a folder that can't be read.
    QVERIFY(ReadFolder(Native(root_ + "/file draft.txt"), identity, listing));
    QVERIFY(listing.entries.empty());
    QVERIFY(!listing.unreadable);

    QVERIFY(DenyListing(root_ + "/locked", true));
    if (Listable(root_ + "/locked")) {
        QVERIFY(DenyListing(root_ + "/locked", false));
        QSKIP("a deny entry in a folder's ACL is kept but not enforced here (Wine)");
    }
    const bool lockedRead = ReadFolder(Native(root_ + "/locked"), identity, listing);
    const bool lockedFlagged = listing.unreadable;

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    params.writeReport = false;
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);
    // The chosen folder itself can't be read: nothing is scanned, and that
    // is said too.
    QVERIFY(DenyListing(root_, true));
    const PassOutcome blind = RunJob(JobKind::Replace, params, sink);
    QVERIFY(DenyListing(root_, false));
    QVERIFY(DenyListing(root_ + "/locked", false));

    QVERIFY(lockedRead);
    QVERIFY(lockedFlagged);
    QCOMPARE(out.filesChanged, 2);
    QCOMPARE(out.foldersScanned, 2); // "locked" is listed, only not entered
    QCOMPARE(out.unreadableFolders, 1);
    QCOMPARE(blind.filesScanned + blind.foldersScanned, 0);
    QCOMPARE(blind.unreadableFolders, 1);
    QVERIFY(ExistsWide(Wide("locked/a draft.txt")));
}

#else
void DiskScanTest::unreadableFoldersFlaggedAndCounted()
{
    QVERIFY(MakeFile(root_, "locked/a draft.txt"));
    QVERIFY(MakeFolder(root_, "locked/in"));
    // Where it leads can't be told: not a dangling link, a folder not read.
    QVERIFY(MakeLink("locked/in", root_, "toLocked"));
    QVERIFY(MakeLink("missing", root_, "dangling"));
    QVERIFY(MakeFile(root_, "open/b draft.txt"));
    QVERIFY(MakeFile(root_, "file draft.txt"));
    QVERIFY(::mkfifo(Raw("fifo").constData(), 0644) == 0);
    QVERIFY(::chmod(Raw("locked").constData(), 0) == 0);
    if (!testtree::DropReadOverride(true))
        QSKIP("running as root and the read-override capabilities can't be dropped");
    DirListing listing;
    EntryIdentity identity;
    const bool lockedRead = ReadFolder(Native(root_ + "/locked"), identity, listing);
    const bool lockedFlagged = listing.unreadable;
    QVERIFY(ReadFolder(Native(root_ + "/open"), identity, listing));
    const bool openFlagged = listing.unreadable;
    // No folder is nothing to read, not a folder that can't be read.
    QVERIFY(ReadFolder(Native(root_ + "/file draft.txt"), identity, listing));
    const bool fileFlagged = listing.unreadable;
    QVERIFY(ReadFolder(Native(root_ + "/fifo"), identity, listing));
    const bool fifoFlagged = listing.unreadable;

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    params.writeReport = false;
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);
    // The chosen folder itself can't be read: nothing is scanned, and that
    // is said too.
    QVERIFY(::chmod(QFile::encodeName(root_).constData(), 0) == 0);
    const PassOutcome blind = RunJob(JobKind::Replace, params, sink);
    QVERIFY(::chmod(QFile::encodeName(root_).constData(), 0755) == 0);
    QVERIFY(testtree::DropReadOverride(false));
    QVERIFY(::chmod(Raw("locked").constData(), 0755) == 0);

    QVERIFY(lockedRead);
    QVERIFY(lockedFlagged);
    QVERIFY(!openFlagged && !fileFlagged && !fifoFlagged);
    QCOMPARE(out.filesChanged, 2);
    QCOMPARE(out.foldersScanned, 2); // "locked" is listed, only not entered
    QCOMPARE(out.unreadableFolders, 2); // "locked", and the link into it
    QCOMPARE(blind.filesScanned + blind.foldersScanned, 0);
    QCOMPARE(blind.unreadableFolders, 1);
    QVERIFY(ExistsRaw(Raw("locked/a draft.txt")));
}

#endif

QTEST_GUILESS_MAIN(DiskScanTest)
#include "tst_diskscan.moc"
