#include "cli/journal.h"

#include "engine/passfilesystem.h"
#include "platform/openfolder.h"
#include "platform/nativepath.h"
#include "platform/entryidentity.h"

#include <QFile>

#include <algorithm>

const char JournalHeader[] = "quillbarrow-cli journal 2";
const char JournalHeaderV1[] = "quillbarrow-cli journal 1";

namespace {

bool Escaped(unsigned char byte)
{
    return byte <= 0x20 || byte >= 0x7F || byte == '%';
}

int HexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

QByteArray Bytes(const std::string &text)
{
    return QByteArray(text.data(), static_cast<int>(text.size()));
}

// Decimal digits only, as the writer puts them: no sign, no spaces.
bool ParseNumber(const QByteArray &field, std::uint64_t &value)
{
    value = 0;
    if (field.isEmpty() || field.size() > 20)
        return false;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// VOLUME and INDEX as the writer puts them (JournalIntentLine).
bool ParseIdentity(const QByteArray &volume, const QByteArray &index, EntryIdentity &identity)
{
    identity = EntryIdentity();
    if (volume == "-" && index == "-")
        return true; // the entry had no number: none to check it by
    if (!ParseNumber(volume, identity.volume))
        return false;
    if (!index.startsWith("0x"))
        return ParseNumber(index, identity.index) && identity.Known();
    if (index.size() != 34)
        return false;
    for (int i = 2; i < 34; ++i) {
        const int digit = HexValue(index.at(i));
        if (digit < 0)
            return false;
        std::uint64_t &half = i < 18 ? identity.indexHigh : identity.index;
        half = half << 4 | static_cast<std::uint64_t>(digit);
    }
    return identity.Known();
}

// A journal's path: as the writer puts it, absolute (a relative one would
// be taken from wherever undo runs).
bool UnescapePath(const QByteArray &field, QByteArray &path)
{
    return UnescapeJournalField(field, path) && IsAbsoluteNativePath(path.toStdString());
}

// Reads the lines after the header, one at a time, keeping only the records.
class JournalParser
{
public:
    explicit JournalParser(JournalContents &contents) : contents_(contents) {}

    bool Line(const QByteArray &line)
    {
        return contents_.version == 1 ? Version1(line) : Version2(line);
    }

    void Finish() { contents_.pending = open_; }

private:
    bool Version1(const QByteArray &line)
    {
        const QList<QByteArray> fields = line.split(' ');
        QByteArray oldPath, newPath;
        if (fields.size() != 2 || !UnescapePath(fields.at(0), oldPath)
            || !UnescapePath(fields.at(1), newPath))
            return false;
        contents_.records.Append(oldPath, newPath, EntryIdentity());
        return true;
    }

    bool Version2(const QByteArray &line)
    {
        const QList<QByteArray> fields = line.split(' ');
        const QByteArray &kind = fields.first();
        std::uint64_t number = 0;
        if (fields.size() < 2 || !ParseNumber(fields.at(1), number) || number != expected_)
            return false;
        if (kind == "intent") {
            PendingIntent intent;
            if (open_.present || fields.size() != 6
                || !ParseIdentity(fields.at(2), fields.at(3), intent.identity)
                || !UnescapePath(fields.at(4), intent.paths.oldPath)
                || !UnescapePath(fields.at(5), intent.paths.newPath))
                return false;
            intent.present = true;
            intent.paths.identity = intent.identity;
            open_ = intent;
            return true;
        }
        if ((kind != "done" && kind != "failed") || !open_.present || fields.size() != 2)
            return false;
        if (kind == "done")
            contents_.records.Append(open_.paths.oldPath, open_.paths.newPath, open_.identity);
        open_ = PendingIntent();
        ++expected_;
        return true;
    }

    JournalContents &contents_;
    PendingIntent open_;
    std::uint64_t expected_ = 1;
};

// The next line of `file` into `line`, its line feed included when it has
// one, read in pieces so that only the line itself is held; no more than a
// little past `longest` bytes. False at the end of the file or on an error.
bool NextLine(QFile &file, QByteArray &line, int longest)
{
    line.clear();
    char piece[64 * 1024];
    for (;;) {
        const qint64 got = file.readLine(piece, sizeof piece);
        if (got <= 0)
            return !line.isEmpty();
        line.append(piece, static_cast<int>(got));
        if (line.endsWith('\n') || line.size() > longest)
            return true;
    }
}

// Where the name begins in a native path; 0 when it has no separator.
int NameAt(const QByteArray &path)
{
    for (int i = path.size(); i > 0; --i)
        if (IsNativeSeparator(path.at(i - 1)))
            return i;
    return 0;
}

void PrintRestored(std::FILE *out, const QByteArray &shownNew, const QByteArray &shownOld)
{
    std::fprintf(out, "restored: %s -> %s\n", shownNew.constData(), shownOld.constData());
}

void PrintFailed(std::FILE *err, const QByteArray &shownNew, const QByteArray &shownOld,
                 const RenameStatus &status)
{
    std::fprintf(err, "failed: %s -> %s (%s)\n", shownNew.constData(), shownOld.constData(),
                 SystemErrorText(status.systemCode).c_str());
}

// One rename to take back: both names in one folder, opened without
// following any link, so that every look and the rename itself happen in
// that one folder.
class UndoStep
{
public:
    UndoStep(const JournalRecord &record, UndoCounts &counts, std::FILE *out, std::FILE *err)
        : record_(record), counts_(counts), out_(out), err_(err),
          shownOld_(DisplayPath(record.oldPath)), shownNew_(DisplayPath(record.newPath))
    {
    }

    // False, with the skip or failure reported, when the folder can't be
    // used: the two paths are in different folders, a link stands on the
    // way, the folder is gone or can't be opened.
    bool OpenFolderOfBoth(bool pending)
    {
        const int newAt = NameAt(record_.newPath);
        const int oldAt = NameAt(record_.oldPath);
        if (newAt == 0 || newAt != oldAt || record_.newPath.left(newAt) != record_.oldPath.left(oldAt)) {
            Skip("skipped, not a rename within one folder: %s -> %s\n", shownNew_, shownOld_);
            return false;
        }
        newName_ = record_.newPath.mid(newAt).toStdString();
        oldName_ = record_.oldPath.mid(oldAt).toStdString();
        EntryIdentity identity;
        int code = 0;
        switch (folder_.OpenWithoutLinks(record_.newPath.left(newAt).toStdString(), identity, code)) {
        case FolderReach::Opened:
            return true;
        case FolderReach::ThroughLink:
            Skip("skipped, reached through a link: %s\n", shownNew_);
            return false;
        case FolderReach::Missing:
            if (pending)
                SkipUnresolved();
            else
                Skip("skipped, gone: %s\n", shownNew_);
            return false;
        case FolderReach::Failed:
            break;
        }
        ++counts_.failed;
        std::fprintf(err_, "failed: %s -> %s (%s)\n", shownNew_.constData(),
                     shownOld_.constData(), SystemErrorText(code).c_str());
        return false;
    }

    bool AtNew(EntryIdentity &identity) const
    {
        return folder_.IdentifyEntry(newName_.c_str(), identity);
    }
    bool AtOld(EntryIdentity &identity) const
    {
        return folder_.IdentifyEntry(oldName_.c_str(), identity);
    }
    RenameStatus RenameBack() { return folder_.Rename(newName_.c_str(), oldName_.c_str()); }

    void Restored()
    {
        ++counts_.restored;
        PrintRestored(out_, shownNew_, shownOld_);
    }
    void AlreadyRestored()
    {
        ++counts_.restored;
        std::fprintf(out_, "already restored: %s\n", shownOld_.constData());
    }
    void NothingToUndo()
    {
        std::fprintf(out_, "not made, nothing to undo: %s -> %s\n", shownOld_.constData(),
                     shownNew_.constData());
    }
    void Failed(const RenameStatus &status)
    {
        ++counts_.failed;
        PrintFailed(err_, shownNew_, shownOld_, status);
    }
    void Skip(const char *format, const QByteArray &first,
              const QByteArray &second = QByteArray())
    {
        ++counts_.skipped;
        std::fprintf(err_, format, first.constData(), second.constData());
    }
    void SkipUnresolved()
    {
        Skip("skipped, last rename unresolved: %s (not the entry that stood at %s, "
             "or that name is taken)\n",
             shownNew_, shownOld_);
    }
    const QByteArray &ShownNew() const { return shownNew_; }
    const QByteArray &ShownOld() const { return shownOld_; }

private:
    const JournalRecord &record_;
    UndoCounts &counts_;
    std::FILE *out_;
    std::FILE *err_;
    const QByteArray shownOld_;
    const QByteArray shownNew_;
    std::string oldName_, newName_;
    OpenFolder folder_;
};

enum class Occupant { None, Recorded, Other };

Occupant OccupantOf(bool present, const EntryIdentity &found, const EntryIdentity &recorded)
{
    if (!present)
        return Occupant::None;
    return found == recorded ? Occupant::Recorded : Occupant::Other;
}

// The last rename the run asked for, its outcome unknown: the identity it
// recorded tells whether the entry moved.
void UndoPending(const PendingIntent &pending, UndoCounts &counts, std::FILE *out,
                 std::FILE *err)
{
    UndoStep step(pending.paths, counts, out, err);
    if (!step.OpenFolderOfBoth(true))
        return;
    EntryIdentity foundNew, foundOld;
    const bool newThere = step.AtNew(foundNew);
    const bool oldThere = step.AtOld(foundOld);
    const Occupant atNew = OccupantOf(newThere, foundNew, pending.identity);
    const Occupant atOld = OccupantOf(oldThere, foundOld, pending.identity);
    if (atNew == Occupant::Recorded && atOld != Occupant::Other) {
        // Both names may answer for the one entry (a change of case only on
        // a file system that ignores case): putting OLD back is then right too.
        const RenameStatus status = step.RenameBack();
        if (status.Succeeded())
            step.Restored();
        else if (atOld == Occupant::Recorded && status.error == RenameError::TargetExists)
            step.NothingToUndo();
        else
            step.Failed(status);
    } else if (atOld == Occupant::Recorded && atNew != Occupant::Recorded) {
        step.NothingToUndo();
    } else {
        step.SkipUnresolved();
    }
}

// A rename the journal confirms. Where it recorded no identity (version 1,
// or an entry the system gives no number) the entry at NEW is taken as it is.
void UndoDone(const JournalRecord &record, UndoCounts &counts, std::FILE *out, std::FILE *err)
{
    const bool identified = record.identity.Known();
    UndoStep step(record, counts, out, err);
    if (!step.OpenFolderOfBoth(false))
        return;
    EntryIdentity atNew, atOld;
    const bool oldTaken = step.AtOld(atOld);
    if (!step.AtNew(atNew)) {
        // Back already, by an undo stopped part-way or by hand.
        if (identified && oldTaken && atOld == record.identity)
            step.AlreadyRestored();
        else
            step.Skip("skipped, gone: %s\n", step.ShownNew());
        return;
    }
    if (identified && !(atNew == record.identity)) {
        step.Skip("skipped, not the entry renamed: %s\n", step.ShownNew());
        return;
    }
    // OLD may answer for the entry at NEW itself (a change of case only
    // where case is ignored); the no-replace rename tells the rest apart.
    const RenameStatus status = oldTaken && !(atOld == atNew)
        ? RenameStatus{RenameError::TargetExists, 0}
        : step.RenameBack();
    if (status.Succeeded())
        step.Restored();
    else if (oldTaken && status.error == RenameError::TargetExists)
        step.Skip("skipped, taken: %s (not renamed back from %s)\n", step.ShownOld(),
                  step.ShownNew());
    else
        step.Failed(status);
}

} // namespace

QByteArray EscapeJournalField(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray result;
    result.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (Escaped(byte)) {
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 0xF];
        } else {
            result += c;
        }
    }
    return result;
}

bool UnescapeJournalField(const QByteArray &field, QByteArray &bytes)
{
    bytes.clear();
    for (int i = 0; i < field.size(); ++i) {
        const auto byte = static_cast<unsigned char>(field.at(i));
        if (byte != '%') {
            if (Escaped(byte))
                return false;
            bytes += field.at(i);
            continue;
        }
        if (i + 2 >= field.size())
            return false;
        const int high = HexValue(field.at(i + 1));
        const int low = HexValue(field.at(i + 2));
        if (high < 0 || low < 0)
            return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !bytes.isEmpty() && !bytes.contains('\0');
}

QByteArray JournalIntentLine(std::uint64_t number, const EntryIdentity &identity,
                             const QByteArray &oldPath, const QByteArray &newPath)
{
    QByteArray fields;
    if (identity.ByPath() || !identity.Known()) {
        // A final path names whatever stands there, not the entry: undo
        // takes the entry at NEW as it is.
        fields = "- -";
    } else {
        fields = QByteArray::number(static_cast<qulonglong>(identity.volume)) + ' ';
        if (identity.indexHigh == 0)
            fields += QByteArray::number(static_cast<qulonglong>(identity.index));
        else
            fields += "0x" + QByteArray::number(static_cast<qulonglong>(identity.indexHigh), 16)
                                 .rightJustified(16, '0')
                                 .toUpper()
                + QByteArray::number(static_cast<qulonglong>(identity.index), 16)
                      .rightJustified(16, '0')
                      .toUpper();
    }
    return "intent " + QByteArray::number(static_cast<qulonglong>(number)) + ' ' + fields + ' '
        + EscapeJournalField(oldPath) + ' ' + EscapeJournalField(newPath) + '\n';
}

QByteArray JournalResultLine(std::uint64_t number, bool done)
{
    return (done ? "done " : "failed ") + QByteArray::number(static_cast<qulonglong>(number))
        + '\n';
}

bool JournalWriter::Create(const QString &path, QString &error)
{
    int code = 0;
    bool exists = false;
    if (!file_.Create(EncodeNativePath(path), code, exists)) {
        lastError_ = code;
        error = exists ? QStringLiteral("it exists already (an old journal is never replaced)")
                       : QString::fromLocal8Bit(SystemErrorText(code).c_str());
        return false;
    }
    if (!Write(QByteArray(JournalHeader) + '\n', code)) {
        error = QString::fromLocal8Bit(SystemErrorText(code).c_str());
        return false;
    }
    return true;
}

bool JournalWriter::Write(const QByteArray &line, int &systemCode)
{
    // After a failed write the file may end in part of a line: anything more
    // would be glued to it.
    if (broken_ || !file_.IsOpen()) {
        systemCode = lastError_;
        return false;
    }
    if (file_.Append(line.constData(), static_cast<std::size_t>(line.size()), systemCode))
        return true;
    broken_ = true;
    lastError_ = systemCode;
    return false;
}

bool JournalWriter::WriteIntent(const std::string &oldPath, const std::string &newPath,
                                const EntryIdentity &identity, int &systemCode)
{
    const std::uint64_t number = number_ + 1;
    if (!Write(JournalIntentLine(number, identity, Bytes(oldPath), Bytes(newPath)), systemCode))
        return false;
    number_ = number;
    return true;
}

bool JournalWriter::WriteResult(bool done, int &systemCode)
{
    return Write(JournalResultLine(number_, done), systemCode);
}

bool JournalWriter::Identify(EntryIdentity &identity) const
{
    return file_.Identify(identity);
}

bool JournalWriter::Close()
{
    int code = 0;
    return file_.IsOpen() && file_.SyncAndClose(code) && !broken_;
}

bool ReadJournal(const QString &path, JournalContents &contents, QString &error)
{
    contents = JournalContents();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    // Far past the longest record (two paths of the longest length any
    // system takes, every byte escaped): a longer line is no record, and is
    // not read whole into memory.
    const int longestLine = 4 * 1024 * 1024;
    JournalParser parser(contents);
    QByteArray line;
    for (int number = 1;; ++number) {
        if (!NextLine(file, line, longestLine)) {
            if (file.error() != QFileDevice::NoError) {
                error = file.errorString();
                return false;
            }
            if (number == 1)
                break;
            parser.Finish();
            return true;
        }
        if (!line.endsWith('\n')) {
            if (line.size() > longestLine) {
                error = QStringLiteral("line %1 is not a journal record").arg(number);
                return false;
            }
            // A record cut off mid-write, at the end; it is not used.
            contents.cutOff = true;
            if (number == 1)
                break;
            continue;
        }
        line.chop(1);
        if (number == 1) {
            if (line == JournalHeader)
                contents.version = 2;
            else if (line == JournalHeaderV1)
                contents.version = 1;
            else
                break;
            continue;
        }
        if (!parser.Line(line)) {
            error = QStringLiteral("line %1 is not a journal record").arg(number);
            return false;
        }
    }
    error = QStringLiteral("not a quillbarrow-cli journal");
    return false;
}

QByteArray DisplayPath(const QByteArray &path)
{
    QByteArray shown;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            shown += c;
    }
    return shown;
}

UndoCounts UndoJournal(const JournalContents &contents, std::FILE *out, std::FILE *err)
{
    UndoCounts counts;
    if (contents.pending.present)
        UndoPending(contents.pending, counts, out, err);
    const JournalRecordList &records = contents.records;
    for (int i = records.size() - 1; i >= 0; --i)
        UndoDone(records.at(i), counts, out, err);
    return counts;
}

void JournalRecordList::Append(const QByteArray &oldPath, const QByteArray &newPath,
                               const EntryIdentity &identity)
{
    // Blocks are never grown past what they reserved, so no block is ever
    // copied: the peak is the records themselves.
    static const std::size_t kBlockSize = 1024 * 1024;
    int shared = 0;
    while (shared < oldPath.size() && shared < newPath.size()
           && oldPath.at(shared) == newPath.at(shared))
        ++shared;
    const std::size_t needed =
        static_cast<std::size_t>(oldPath.size()) + static_cast<std::size_t>(newPath.size() - shared);
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < needed) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(needed, kBlockSize));
    }
    std::string &block = blocks_.back();
    Entry entry;
    entry.block = static_cast<std::uint32_t>(blocks_.size() - 1);
    entry.offset = static_cast<std::uint32_t>(block.size());
    entry.oldSize = static_cast<std::uint32_t>(oldPath.size());
    entry.shared = static_cast<std::uint32_t>(shared);
    entry.tailSize = static_cast<std::uint32_t>(newPath.size() - shared);
    entry.volume = identity.volume;
    entry.index = identity.index;
    entry.indexHigh = identity.indexHigh;
    block.append(oldPath.constData(), static_cast<std::size_t>(oldPath.size()));
    block.append(newPath.constData() + shared, entry.tailSize);
    entries_.push_back(entry);
}

JournalRecord JournalRecordList::at(int i) const
{
    const Entry &entry = entries_.at(static_cast<std::size_t>(i));
    const char *bytes = blocks_.at(entry.block).data() + entry.offset;
    JournalRecord record;
    record.oldPath = QByteArray(bytes, static_cast<int>(entry.oldSize));
    record.newPath = record.oldPath.left(static_cast<int>(entry.shared))
        + QByteArray(bytes + entry.oldSize, static_cast<int>(entry.tailSize));
    record.identity.volume = entry.volume;
    record.identity.index = entry.index;
    record.identity.indexHigh = entry.indexHigh;
    return record;
}
