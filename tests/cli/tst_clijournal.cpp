// The journal of the command line on its own: its record lines, its reader,
// its writer and the file system that writes it ahead of every rename, on
// real files in a temporary folder. On Windows the parts that need links or
// a file-size limit are left out; the rest runs on the Windows branch.

#include "cli/journal.h"
#include "cli/journalfilesystem.h"
#include "engine/passfilesystem.h"
#include "platform/renameentry.h"
#include "tests/support/enginetestsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using enginetest::AbsoluteStart;
using enginetest::FromNativeBytes;
using enginetest::NativeBytes;

QByteArray ReadAll(const QByteArray &path)
{
    QFile file(FromNativeBytes(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool WriteAll(const QByteArray &path, const QByteArray &bytes)
{
    QFile file(FromNativeBytes(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool MakeFolder(const QByteArray &path)
{
    return QDir().mkdir(FromNativeBytes(path));
}

// The entry itself, a link not followed, as the system numbers it.
EntryIdentity IdentityOf(const QByteArray &path)
{
    EntryIdentity identity;
    IdentifyEntryItself(path.toStdString(), identity);
    return identity;
}

// What undo printed on its two streams.
struct Printed
{
    UndoCounts counts;
    QByteArray out;
    QByteArray err;
};

QByteArray ReadBack(std::FILE *file)
{
    QByteArray bytes;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, int(n));
    std::fclose(file);
    return bytes;
}

Printed Undo(const JournalContents &contents)
{
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    Printed printed;
    if (!out || !err)
        return printed;
    printed.counts = UndoJournal(contents, out, err);
    printed.out = ReadBack(out);
    printed.err = ReadBack(err);
    return printed;
}

// VOLUME and INDEX as the writer puts them.
QByteArray IdentityText(const EntryIdentity &identity)
{
    return JournalIntentLine(1, identity, "/", "/").split(' ').mid(2, 2).join(' ');
}

// The disk, noting what the journal held at the moment of each rename.
class WatchedDisk final : public PassFileSystem
{
public:
    explicit WatchedDisk(const QByteArray &journal) : journal_(journal) {}

    bool Identify(const std::string &path, EntryIdentity &identity) override
    {
        return disk_.Identify(path, identity);
    }
    bool ListFolder(const std::string &path, EntryIdentity &identity, DirListing &listing) override
    {
        return disk_.ListFolder(path, identity, listing);
    }
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override
    {
        return disk_.ListFolderBelow(base, baseIdentity, below, identity, listing);
    }
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override
    {
        journalAtRename << ReadAll(journal_);
        if (renamesAllowed >= 0 && journalAtRename.size() > renamesAllowed) {
            RenameResult refused;
            refused.outcome = RenameOutcome::NotPermitted;
            return refused;
        }
        return disk_.RenameIn(folder, identity, name, newName);
    }
    bool IdentifyIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                    EntryIdentity &entry) override
    {
        return disk_.IdentifyIn(folder, identity, name, entry);
    }
    bool FinalPath(const std::string &path, std::string &final) override
    {
        return disk_.FinalPath(path, final);
    }
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &blocks) override
    {
        return disk_.CreateNewFile(folder, name, blocks);
    }
    bool RemoveReport(const std::string &folder, const std::string &name) override
    {
        return disk_.RemoveReport(folder, name);
    }

    QList<QByteArray> journalAtRename;
    int renamesAllowed = -1; // -1: all; then each rename past them fails as not permitted

private:
    QByteArray journal_;
    DiskFileSystem disk_;
};

#ifndef _WIN32
// A file-size limit for this process, lifted again when it goes: writes
// past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        old_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    void (*old_)(int) = nullptr;
    bool ok_ = false;
};
#endif

} // namespace

class TestCliJournal : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir temp_;
    QByteArray dir_; // fresh for each test function
    int serial_ = 0;

    std::string Folder() const { return (dir_ + '/').toStdString(); }
    EntryIdentity FolderIdentity() const { return IdentityOf(dir_); }
    QByteArray JournalPath() const { return dir_ + "-journal.txt"; }

    bool CreateJournal(JournalWriter &writer)
    {
        QString error;
        return writer.Create(FromNativeBytes(JournalPath()), error);
    }

private slots:
    void init()
    {
        dir_ = NativeBytes(temp_.path()) + "/d" + QByteArray::number(++serial_);
        QVERIFY(MakeFolder(dir_));
    }

    // The lines as README gives them, to the byte.
    void recordLines()
    {
        EntryIdentity identity;
        identity.volume = 2049;
        identity.index = 18446744073709551615u;
        QCOMPARE(JournalIntentLine(7, identity, "/d/a b%.txt", "/d/\xE7\x85\xA7\n"),
                 QByteArray("intent 7 2049 18446744073709551615 /d/a%20b%25.txt /d/%E7%85%A7%0A\n"));
        QCOMPARE(JournalResultLine(7, true), QByteArray("done 7\n"));
        QCOMPARE(JournalResultLine(12, false), QByteArray("failed 12\n"));
        QCOMPARE(QByteArray(JournalHeader), QByteArray("quillbarrow-cli journal 2"));
    }

    void readVersion2_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("records"); // confirmed; -1: refused
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("cutOff");
        const QByteArray h = "quillbarrow-cli journal 2\n";
        const QByteArray r = AbsoluteStart();
        const QByteArray i1 = "intent 1 5 10 " + r + "/a " + r + "/b\n";
        const QByteArray i2 = "intent 2 5 11 " + r + "/c%20d " + r + "/e\n";
        QTest::newRow("header only") << h << 0 << false << false;
        QTest::newRow("done and failed") << h + i1 + "done 1\n" + i2 + "failed 2\n" << 1 << false << false;
        QTest::newRow("two done") << h + i1 + "done 1\n" + i2 + "done 2\n" << 2 << false << false;
        QTest::newRow("last intent without result") << h + i1 + "done 1\n" + i2 << 1 << true << false;
        QTest::newRow("its result cut off") << h + i1 + "done 1\n" + i2 + "don" << 1 << true << true;
        QTest::newRow("an intent cut off") << h + i1 + "done 1\n" + "intent 2 5 11 " + r + "/c" << 1 << false << true;
        QTest::newRow("result without intent") << h + "done 1\n" << -1 << false << false;
        QTest::newRow("result of another intent") << h + i1 + "done 2\n" << -1 << false << false;
        QTest::newRow("intent after an open intent") << h + i1 + i2 << -1 << false << false;
        QTest::newRow("numbers not from 1") << h + i2 + "done 2\n" << -1 << false << false;
        QTest::newRow("numbers not one up") << h + i1 + "done 1\n" + i1 + "done 1\n" << -1 << false << false;
        QTest::newRow("identity not a number") << h + "intent 1 x 10 " + r + "/a " + r + "/b\n" << -1 << false << false;
        QTest::newRow("signed number") << h + "intent 1 +5 10 " + r + "/a " + r + "/b\n" << -1 << false << false;
        QTest::newRow("number past 64 bits") << h + "intent 1 18446744073709551616 10 " + r + "/a " + r + "/b\n" << -1
                                             << false << false;
        QTest::newRow("index 0") << h + "intent 1 5 0 " + r + "/a " + r + "/b\n" << -1 << false << false;
        QTest::newRow("128-bit id short") << h + "intent 1 5 0x0A " + r + "/a " + r + "/b\n" << -1 << false << false;
        QTest::newRow("128-bit id not hex") << h + "intent 1 5 0x" + QByteArray(31, '0') + "G " + r + "/a " + r + "/b\n"
                                            << -1 << false << false;
        QTest::newRow("volume without index") << h + "intent 1 5 - " + r + "/a " + r + "/b\n" << -1 << false << false;
        QTest::newRow("path missing") << h + "intent 1 5 10 " + r + "/a\n" << -1 << false << false;
        QTest::newRow("bad escape") << h + "intent 1 5 10 " + r + "/a " + r + "/b%2\n" << -1 << false << false;
        QTest::newRow("a version-1 line") << h + r + "/a " + r + "/b\n" << -1 << false << false;
        QTest::newRow("result with more") << h + i1 + "done 1 x\n" << -1 << false << false;
        QTest::newRow("CR LF") << h + i1 + "done 1\r\n" << -1 << false << false;
        // Paths are absolute: a relative one would be taken from wherever
        // undo runs.
        QTest::newRow("relative old path") << h + "intent 1 5 10 a " + r + "/b\ndone 1\n" << -1
                                           << false << false;
        QTest::newRow("relative new path, pending") << h + "intent 1 5 10 " + r + "/a b\n" << -1
                                                    << false << false;
    }

    void readVersion2()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, records);
        QFETCH(bool, pending);
        QFETCH(bool, cutOff);
        QVERIFY(WriteAll(JournalPath(), content));
        JournalContents contents;
        QString error;
        const bool ok = ReadJournal(FromNativeBytes(JournalPath()), contents, error);
        QCOMPARE(ok, records >= 0);
        if (!ok) {
            QVERIFY(error.startsWith(QLatin1String("line ")));
            return;
        }
        QCOMPARE(contents.version, 2);
        QCOMPARE(contents.records.size(), records);
        QCOMPARE(contents.pending.present, pending);
        QCOMPARE(contents.cutOff, cutOff);
        const QByteArray r = AbsoluteStart();
        if (records > 0) {
            QCOMPARE(contents.records.first().oldPath, r + "/a");
            QCOMPARE(contents.records.first().newPath, r + "/b");
            QCOMPARE(contents.records.first().identity.index, std::uint64_t(10));
        }
        if (pending) {
            QCOMPARE(contents.pending.paths.oldPath, r + "/c d");
            QCOMPARE(contents.pending.paths.newPath, r + "/e");
            QCOMPARE(contents.pending.identity.volume, std::uint64_t(5));
            QCOMPARE(contents.pending.identity.index, std::uint64_t(11));
        }
    }

    // What the writer writes, the reader reads back: odd bytes, big numbers,
    // a 128-bit file id (ReFS), a failed rename left out, the last intent
    // pending, and an entry known only by its final path (SMB without file
    // ids), which names no entry across a rename and so is recorded as none.
    void writerRoundTrip()
    {
        JournalWriter writer;
        QVERIFY(CreateJournal(writer));
        EntryIdentity one, wide, two, byPath;
        one.volume = 1;
        one.index = 9223372036854775813u;
        wide.volume = 18446744073709551615u;
        wide.index = 0xA;
        wide.indexHigh = 0x0102030405060708u;
        two.volume = 3;
        two.index = 4;
        byPath.volume = 3;
        byPath.finalPath = "//server/share/x";
        int code = 0;
        const std::string r = AbsoluteStart().toStdString();
        QVERIFY(writer.WriteIntent(r + "/x/a\tb", r + "/x/100%", one, code));
        QVERIFY(writer.WriteResult(true, code));
        QVERIFY(writer.WriteIntent(r + "/x/w", r + "/x/v", wide, code));
        QVERIFY(writer.WriteResult(true, code));
        QVERIFY(writer.WriteIntent(r + "/x/c", r + "/x/d", two, code));
        QVERIFY(writer.WriteResult(false, code));
        QVERIFY(writer.WriteIntent(r + "/x/\xFF", r + "/x/ \n", byPath, code));
        QVERIFY(writer.Close());
        QCOMPARE(ReadAll(JournalPath()),
                 QByteArray("quillbarrow-cli journal 2\n"
                            "intent 1 1 9223372036854775813 /x/a%09b /x/100%25\ndone 1\n"
                            "intent 2 18446744073709551615 0x0102030405060708000000000000000A"
                            " /x/w /x/v\ndone 2\n"
                            "intent 3 3 4 /x/c /x/d\nfailed 3\n"
                            "intent 4 - - /x/%FF /x/%20%0A\n")
                     .replace(" /x/", " " + QByteArray::fromStdString(r) + "/x/"));
        JournalContents contents;
        QString error;
        QVERIFY(ReadJournal(FromNativeBytes(JournalPath()), contents, error));
        QCOMPARE(contents.records.size(), 2);
        const QByteArray x = QByteArray::fromStdString(r) + "/x/";
        QCOMPARE(contents.records.first().oldPath, x + "a\tb");
        QCOMPARE(contents.records.first().newPath, x + "100%");
        QVERIFY(contents.records.first().identity == one);
        QVERIFY(contents.records.at(1).identity == wide);
        QVERIFY(contents.pending.present);
        QCOMPARE(contents.pending.paths.oldPath, x + "\xFF");
        QCOMPARE(contents.pending.paths.newPath, x + " \n");
        QVERIFY(!contents.pending.identity.Known());
    }

    // An old journal may still be needed: never replaced, nor written
    // through a link standing at its name.
    void writerNeverReplaces()
    {
        const QByteArray target = dir_ + "/target";
        QVERIFY(WriteAll(target, "keep"));
        QVERIFY(WriteAll(JournalPath(), "old"));
        JournalWriter writer;
        QString error;
        QVERIFY(!writer.Create(FromNativeBytes(JournalPath()), error));
        QVERIFY(error.contains(QLatin1String("exists already")));
        QCOMPARE(ReadAll(JournalPath()), QByteArray("old"));
#ifndef _WIN32
        const QByteArray link = dir_ + "/link";
        QVERIFY(::symlink(target.constData(), link.constData()) == 0);
        JournalWriter throughLink;
        QVERIFY(!throughLink.Create(QFile::decodeName(link), error));
        QCOMPARE(ReadAll(target), QByteArray("keep"));
        const QByteArray dangling = dir_ + "/dangling";
        QVERIFY(::symlink((dir_ + "/nowhere").constData(), dangling.constData()) == 0);
        JournalWriter dangle;
        QVERIFY(!dangle.Create(QFile::decodeName(dangling), error));
        QVERIFY(!QFile::exists(QFile::decodeName(dir_ + "/nowhere")));
#endif
    }

    // The intent, with the entry's identity, is on disk when the rename is
    // made; the result follows it. A rename that fails is recorded failed.
    void writtenAheadOfEachRename()
    {
        QVERIFY(WriteAll(dir_ + "/a", "a") && WriteAll(dir_ + "/taken", "t") && WriteAll(dir_ + "/b", "b"));
        const EntryIdentity a = IdentityOf(dir_ + "/a"), b = IdentityOf(dir_ + "/b");
        JournalWriter writer;
        QVERIFY(CreateJournal(writer));
        WatchedDisk disk(JournalPath());
        JournalFileSystem fs(disk, writer);

        QVERIFY(fs.RenameIn(Folder(), FolderIdentity(), "a", "c").Succeeded());
        const RenameResult taken = fs.RenameIn(Folder(), FolderIdentity(), "b", "taken");
        QCOMPARE(int(taken.outcome), int(RenameOutcome::TargetExists));
        const RenameResult gone = fs.RenameIn(Folder(), FolderIdentity(), "nothing", "x");
        QCOMPARE(int(gone.outcome), int(RenameOutcome::Vanished));
        QCOMPARE(int(fs.failure()), int(JournalFileSystem::Failure::None));
        QVERIFY(writer.Close());

        const QByteArray header = "quillbarrow-cli journal 2\n";
        const QByteArray intent1 = "intent 1 " + IdentityText(a) + ' ' + dir_ + "/a " + dir_ + "/c\n";
        const QByteArray intent2 = "intent 2 " + IdentityText(b) + ' ' + dir_ + "/b " + dir_ + "/taken\n";
        // Nothing is recorded, or tried, for an entry that isn't there.
        QCOMPARE(disk.journalAtRename,
                 (QList<QByteArray>{header + intent1, header + intent1 + "done 1\n" + intent2}));
        QCOMPARE(ReadAll(JournalPath()), header + intent1 + "done 1\n" + intent2 + "failed 2\n");
        QCOMPARE(ReadAll(dir_ + "/c"), QByteArray("a"));
        QCOMPARE(ReadAll(dir_ + "/taken"), QByteArray("t"));
    }

    // The journal and the folders holding it are never renamed, whatever
    // path the job took to them.
    void protectedEntriesStay()
    {
        QVERIFY(WriteAll(dir_ + "/a", "a") && WriteAll(dir_ + "/b", "b"));
        JournalWriter writer;
        QVERIFY(CreateJournal(writer));
        DiskFileSystem disk;
        JournalFileSystem fs(disk, writer);
        fs.Protect(IdentityOf(dir_ + "/a"));
        const RenameResult refused = fs.RenameIn(Folder(), FolderIdentity(), "a", "x");
        QCOMPARE(int(refused.outcome), int(RenameOutcome::NotPermitted));
        QVERIFY(fs.RenameIn(Folder(), FolderIdentity(), "b", "y").Succeeded());
        QVERIFY(writer.Close());
        QCOMPARE(ReadAll(dir_ + "/a"), QByteArray("a"));
        JournalContents contents;
        QString error;
        QVERIFY(ReadJournal(FromNativeBytes(JournalPath()), contents, error));
        QCOMPARE(contents.records.size(), 1);
        QCOMPARE(contents.records.first().newPath, dir_ + "/y");
    }

    // No intent, no rename; and nothing more after it.
    void intentNotWrittenNoRename()
    {
#ifdef _WIN32
        QSKIP("needs a file-size limit for the process (POSIX)");
#else
        QVERIFY(WriteAll(dir_ + "/a", "a") && WriteAll(dir_ + "/b", "b"));
        JournalWriter writer;
        QVERIFY(CreateJournal(writer));
        DiskFileSystem disk;
        JournalFileSystem fs(disk, writer);
        RenameResult result;
        {
            const FileSizeLimit limit(rlim_t(sizeof "quillbarrow-cli journal 2\n" - 1 + 10));
            QVERIFY(limit.ok());
            result = fs.RenameIn(Folder(), FolderIdentity(), "a", "x");
        }
        QCOMPARE(int(result.outcome), int(RenameOutcome::OtherError));
        QCOMPARE(result.systemError, EFBIG);
        QCOMPARE(int(fs.failure()), int(JournalFileSystem::Failure::LeftAsItWas));
        QCOMPARE(fs.failureCode(), EFBIG);
        QVERIFY(!fs.RenameIn(Folder(), FolderIdentity(), "b", "y").Succeeded());
        writer.Close();
        QCOMPARE(ReadAll(dir_ + "/a"), QByteArray("a"));
        QCOMPARE(ReadAll(dir_ + "/b"), QByteArray("b"));
        JournalContents contents;
        QString error;
        QVERIFY(ReadJournal(FromNativeBytes(JournalPath()), contents, error));
        QVERIFY(contents.cutOff && contents.records.isEmpty() && !contents.pending.present);
#endif
    }

    // A rename whose result can't be written is taken back; the intent left
    // alone in the journal then finds the entry at its old name.
    void resultNotWrittenRenameTakenBack()
    {
#ifdef _WIN32
        QSKIP("needs a file-size limit for the process (POSIX)");
#else
        QVERIFY(WriteAll(dir_ + "/a", "a"));
        JournalWriter writer;
        QVERIFY(CreateJournal(writer));
        DiskFileSystem disk;
        JournalFileSystem fs(disk, writer);
        const QByteArray intent = JournalIntentLine(1, IdentityOf(dir_ + "/a"), dir_ + "/a", dir_ + "/x");
        RenameResult result;
        {
            const FileSizeLimit limit(rlim_t(sizeof "quillbarrow-cli journal 2\n" - 1 + intent.size() + 2));
            QVERIFY(limit.ok());
            result = fs.RenameIn(Folder(), FolderIdentity(), "a", "x");
        }
        QCOMPARE(int(result.outcome), int(RenameOutcome::OtherError));
        QCOMPARE(int(fs.failure()), int(JournalFileSystem::Failure::LeftAsItWas));
        writer.Close();
        QCOMPARE(ReadAll(dir_ + "/a"), QByteArray("a"));
        QVERIFY(!QFile::exists(QFile::decodeName(dir_ + "/x")));
        QCOMPARE(ReadAll(JournalPath()), "quillbarrow-cli journal 2\n" + intent + "do");

        JournalContents contents;
        QString error;
        QVERIFY(ReadJournal(FromNativeBytes(JournalPath()), contents, error));
        QVERIFY(contents.pending.present);
        const Printed printed = Undo(contents);
        QCOMPARE(printed.counts.restored + printed.counts.skipped + printed.counts.failed, 0);
        QCOMPARE(printed.out, "not made, nothing to undo: " + dir_ + "/a -> " + dir_ + "/x\n");
        QCOMPARE(printed.err, QByteArray());
        QCOMPARE(ReadAll(dir_ + "/a"), QByteArray("a"));
#endif
    }

    // When the rename can't be taken back either, it stands, and the intent
    // left alone in the journal lets undo put it back by its identity.
    void resultNotWrittenRenameStands()
    {
#ifdef _WIN32
        QSKIP("needs a file-size limit for the process (POSIX)");
#else
        QVERIFY(WriteAll(dir_ + "/a", "a"));
        JournalWriter writer;
        QVERIFY(CreateJournal(writer));
        WatchedDisk disk(JournalPath());
        disk.renamesAllowed = 1;
        JournalFileSystem fs(disk, writer);
        const QByteArray intent = JournalIntentLine(1, IdentityOf(dir_ + "/a"), dir_ + "/a", dir_ + "/x");
        RenameResult result;
        {
            const FileSizeLimit limit(rlim_t(sizeof "quillbarrow-cli journal 2\n" - 1 + intent.size()));
            QVERIFY(limit.ok());
            result = fs.RenameIn(Folder(), FolderIdentity(), "a", "x");
        }
        QVERIFY(result.Succeeded());
        QCOMPARE(int(fs.failure()), int(JournalFileSystem::Failure::RenamedWithoutResult));
        QCOMPARE(disk.journalAtRename.size(), 2); // the rename, and the try to take it back
        writer.Close();
        QCOMPARE(ReadAll(dir_ + "/x"), QByteArray("a"));

        JournalContents contents;
        QString error;
        QVERIFY(ReadJournal(FromNativeBytes(JournalPath()), contents, error));
        QVERIFY(contents.pending.present && !contents.cutOff);
        QCOMPARE(Undo(contents).counts.restored, 1);
        QCOMPARE(ReadAll(dir_ + "/a"), QByteArray("a"));
        QVERIFY(!QFile::exists(QFile::decodeName(dir_ + "/x")));
#endif
    }

    // The last intent of a run that died, its outcome unknown: undo tells by
    // the identity it recorded whether the rename was made, and never puts
    // back an entry that is not the one that stood at the old name.
    void pendingIntentResolvedByIdentity_data()
    {
        QTest::addColumn<QByteArray>("oldName");
        QTest::addColumn<QByteArray>("newName");
        QTest::addColumn<QString>("made"); // what happened after the intent
        QTest::addColumn<QByteArray>("printed"); // "out: " or "err: " and its start
        QTest::addColumn<QByteArrayList>("after"); // the folder's names, sorted
        QTest::newRow("renamed") << QByteArray("a") << QByteArray("x") << "rename"
                                 << QByteArray("out: restored: ") << QByteArrayList{"a"};
        QTest::newRow("not made") << QByteArray("a") << QByteArray("x") << "nothing"
                                  << QByteArray("out: not made, nothing to undo: ") << QByteArrayList{"a"};
        QTest::newRow("not made, new name taken meanwhile")
            << QByteArray("a") << QByteArray("x") << "other at new"
            << QByteArray("out: not made, nothing to undo: ") << QByteArrayList{"a", "x"};
        QTest::newRow("renamed, old name taken meanwhile")
            << QByteArray("a") << QByteArray("x") << "rename, other at old"
            << QByteArray("err: skipped, last rename unresolved: ") << QByteArrayList{"a", "x"};
        QTest::newRow("Chinese names, renamed") << QByteArray("旅行") << QByteArray("照片") << "rename"
                                                << QByteArray("out: restored: ") << QByteArrayList{"旅行"};
        // Where names are equal ignoring case both names answer for the entry.
        QTest::newRow("case only, renamed") << QByteArray("a.txt") << QByteArray("A.txt") << "rename"
                                            << QByteArray("out: ") << QByteArrayList{"a.txt"};
        QTest::newRow("case only, not made") << QByteArray("a.txt") << QByteArray("A.txt") << "nothing"
                                             << QByteArray("out: ") << QByteArrayList{"a.txt"};
    }

    void pendingIntentResolvedByIdentity()
    {
        QFETCH(QByteArray, oldName);
        QFETCH(QByteArray, newName);
        QFETCH(QString, made);
        QFETCH(QByteArray, printed);
        QFETCH(QByteArrayList, after);
        const QByteArray oldPath = dir_ + '/' + oldName, newPath = dir_ + '/' + newName;
        QVERIFY(WriteAll(oldPath, "entry"));
        const EntryIdentity identity = IdentityOf(oldPath);
        if (made.startsWith(QLatin1String("rename")))
            QVERIFY(QDir(FromNativeBytes(dir_)).rename(FromNativeBytes(oldName), FromNativeBytes(newName)));
        if (made.endsWith(QLatin1String("other at old")))
            QVERIFY(WriteAll(oldPath, "other"));
        if (made == QLatin1String("other at new"))
            QVERIFY(WriteAll(newPath, "other"));
        QVERIFY(WriteAll(JournalPath(), QByteArray(JournalHeader) + '\n' +
                                            JournalIntentLine(1, identity, oldPath, newPath)));

        JournalContents contents;
        QString error;
        QVERIFY2(ReadJournal(FromNativeBytes(JournalPath()), contents, error), qPrintable(error));
        QVERIFY(contents.pending.present);
        const Printed undone = Undo(contents);
        const QByteArray stream = printed.left(5) == "out: " ? undone.out : undone.err;
        QVERIFY2(stream.startsWith(printed.mid(5)), (undone.out + '|' + undone.err).constData());
        QCOMPARE(undone.counts.failed, 0);
        QByteArrayList names;
        for (const QString &name : QDir(FromNativeBytes(dir_)).entryList(QDir::Files, QDir::Name))
            names << NativeBytes(name);
        QCOMPARE(names, after);
        // The entry that was renamed is back at its old name, with its content.
        if (!made.endsWith(QLatin1String("other at old")))
            QCOMPARE(ReadAll(oldPath), QByteArray("entry"));
    }

    // Confirmed renames are taken back only inside their own folder, reached
    // without following a link (the job records link-free paths), and only
    // for the entry the intent recorded; an entry already back counts as
    // restored. Every other case is reported with its reason.
    void doneRecordsUndone_data()
    {
        QTest::addColumn<QString>("since");     // what happened after the job
        QTest::addColumn<int>("version");       // of the journal
        QTest::addColumn<QByteArray>("printed"); // "out: " or "err: " and its start
        QTest::addColumn<QByteArrayList>("after"); // "PATH=CONTENT" below the folder, sorted
        QTest::newRow("nothing: put back") << "nothing" << 2 << QByteArray("out: restored: ")
                                           << QByteArrayList{"T/sub/a_x=entry"};
        QTest::newRow("already back") << "renamed back" << 2 << QByteArray("out: already restored: ")
                                      << QByteArrayList{"T/sub/a_x=entry"};
        QTest::newRow("another entry at the new name")
            << "replaced" << 2 << QByteArray("err: skipped, not the entry renamed: ")
            << QByteArrayList{"T/sub/a_Y=other", "T/sub/kept=entry"};
        QTest::newRow("old and new in different folders")
            << "forged across folders" << 2
            << QByteArray("err: skipped, not a rename within one folder: ")
            << QByteArrayList{"T/sub/a_Y=entry"};
        QTest::newRow("version 1: put back") << "nothing" << 1 << QByteArray("out: restored: ")
                                             << QByteArrayList{"T/sub/a_x=entry"};
#ifndef _WIN32
        QTest::newRow("a link planted on the way")
            << "link" << 2 << QByteArray("err: skipped, reached through a link: ")
            << QByteArrayList{"T/.old/a_Y=entry", "T/sub=>outside", "outside/a_Y=outside"};
        QTest::newRow("version 1, a link planted on the way")
            << "link" << 1 << QByteArray("err: skipped, reached through a link: ")
            << QByteArrayList{"T/.old/a_Y=entry", "T/sub=>outside", "outside/a_Y=outside"};
#endif
    }

    void doneRecordsUndone()
    {
        QFETCH(QString, since);
        QFETCH(int, version);
        QFETCH(QByteArray, printed);
        QFETCH(QByteArrayList, after);
        const QByteArray base = NativeBytes(QFileInfo(FromNativeBytes(dir_)).canonicalFilePath());
        const QByteArray sub = base + "/T/sub";
        QVERIFY(MakeFolder(base + "/T") && MakeFolder(sub));
        QVERIFY(WriteAll(sub + "/a_x", "entry"));
        QDir folder(FromNativeBytes(sub));
        QVERIFY(folder.rename(QStringLiteral("a_x"), QStringLiteral("a_Y"))); // the job's rename
        const EntryIdentity renamed = IdentityOf(sub + "/a_Y");
        const QByteArray oldPath = since == QLatin1String("forged across folders")
            ? base + "/T/a_x"
            : sub + "/a_x";
        const QByteArray newPath = sub + "/a_Y";
        QVERIFY(WriteAll(JournalPath(),
                         version == 2 ? QByteArray(JournalHeader) + '\n'
                                 + JournalIntentLine(1, renamed, oldPath, newPath)
                                 + JournalResultLine(1, true)
                                      : QByteArray(JournalHeaderV1) + '\n'
                                 + EscapeJournalField(oldPath) + ' ' + EscapeJournalField(newPath)
                                 + '\n'));
        if (since == QLatin1String("renamed back"))
            QVERIFY(folder.rename(QStringLiteral("a_Y"), QStringLiteral("a_x")));
        if (since == QLatin1String("replaced")) {
            QVERIFY(folder.rename(QStringLiteral("a_Y"), QStringLiteral("kept")));
            QVERIFY(WriteAll(newPath, "other"));
        }
#ifndef _WIN32
        if (since == QLatin1String("link")) {
            QVERIFY(::rename(sub.constData(), (base + "/T/.old").constData()) == 0);
            QVERIFY(MakeFolder(base + "/outside"));
            QVERIFY(::symlink((base + "/outside").constData(), sub.constData()) == 0);
            QVERIFY(WriteAll(base + "/outside/a_Y", "outside"));
        }
#endif

        JournalContents contents;
        QString error;
        QVERIFY2(ReadJournal(FromNativeBytes(JournalPath()), contents, error), qPrintable(error));
        QCOMPARE(contents.records.size(), 1);
        const Printed undone = Undo(contents);
        const bool onOut = printed.startsWith("out: ");
        QVERIFY2((onOut ? undone.out : undone.err).startsWith(printed.mid(5)),
                 (undone.out + '|' + undone.err).constData());
        QCOMPARE(undone.counts.restored, onOut ? 1 : 0);
        QCOMPARE(undone.counts.skipped + undone.counts.failed, onOut ? 0 : 1);
        QVERIFY(!undone.err.contains("Success"));
        // Every entry below the folder, by path, with its content or its link.
        QByteArrayList found;
        QDirIterator it(FromNativeBytes(base), QDir::AllEntries | QDir::Hidden | QDir::System
                            | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            const QByteArray path = NativeBytes(info.filePath()).mid(base.size() + 1);
            if (info.isSymLink())
                found << path + "=>" + NativeBytes(info.symLinkTarget()).mid(base.size() + 1);
            else if (info.isFile() && !path.endsWith("-journal.txt"))
                found << path + '=' + ReadAll(NativeBytes(info.filePath()));
        }
        std::sort(found.begin(), found.end());
        QCOMPARE(found, after);
    }

    // Where a journal may go: by identity, through links and "..", with the
    // links on its path among the entries to keep.
    void placeOfJournal()
    {
        const QByteArray chosen = dir_ + "/chosen", outside = dir_ + "/outside";
        QVERIFY(MakeFolder(chosen) && MakeFolder(outside) && MakeFolder(chosen + "/sub"));
        const std::string folder = (chosen + '/').toStdString();
        const auto inside = [&](const QByteArray &journal) {
            return PlaceOfJournal(journal.toStdString(), folder).insideFolder;
        };
        QVERIFY(inside(chosen + "/j"));
        QVERIFY(inside(chosen + "/sub/j"));
        QVERIFY(inside(outside + "/../chosen/sub/j"));
        QVERIFY(!inside(outside + "/j"));
        QVERIFY(!inside(dir_ + "/j"));
        QVERIFY(!inside(dir_ + "/missing/j"));
        const JournalPlace plain = PlaceOfJournal((chosen + "/sub/j").toStdString(), folder);
        for (const QByteArray &holder : {chosen + "/sub", chosen, dir_})
            QVERIFY2(std::find(plain.holders.begin(), plain.holders.end(), IdentityOf(holder)) !=
                         plain.holders.end(),
                     holder.constData());
#ifdef _WIN32
        // Names equal ignoring case name the same folder.
        QVERIFY(inside(dir_ + "/CHOSEN/Sub/j"));
        QVERIFY(inside(chosen + "\\sub\\j"));
        QVERIFY(PlaceOfJournal((chosen + "/sub/j").toStdString(), (dir_ + "/Chosen/").toStdString())
                    .insideFolder);
#else
        QVERIFY(::symlink(outside.constData(), (chosen + "/out").constData()) == 0);
        QVERIFY(::symlink((chosen + "/sub").constData(), (outside + "/in").constData()) == 0);
        QVERIFY(inside(chosen + "/out/j"));     // through a link inside
        QVERIFY(inside(outside + "/in/j"));     // its real folder inside
        QVERIFY(inside(outside + "/in/../j"));  // ".." as the system takes it

        const JournalPlace place = PlaceOfJournal((outside + "/in/j").toStdString(),
                                                  (outside + '/').toStdString());
        const auto holds = [&](const EntryIdentity &identity) {
            return std::find(place.holders.begin(), place.holders.end(), identity) != place.holders.end();
        };
        QVERIFY(place.insideFolder); // "in" is named on the way: the job on outside reaches it
        QVERIFY(holds(IdentityOf(outside + "/in")));  // the link itself
        QVERIFY(holds(IdentityOf(chosen + "/sub")));  // its real folder
        QVERIFY(holds(IdentityOf(chosen)));           // and that folder's parents
        QVERIFY(holds(IdentityOf("/")));
#endif
    }
};

QTEST_GUILESS_MAIN(TestCliJournal)
#include "tst_clijournal.moc"
