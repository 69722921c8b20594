#include "cli/journal.h"

#include "engine/passfilesystem.h"
#include "platform/renameentry.h"

#include <QFile>

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

bool ParseVersion1(const QList<QByteArray> &lines, JournalContents &contents, QString &error)
{
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split(' ');
        JournalRecord record;
        if (fields.size() != 2 || !UnescapeJournalField(fields.at(0), record.oldPath)
            || !UnescapeJournalField(fields.at(1), record.newPath)) {
            error = QStringLiteral("line %1 is not a journal record").arg(i + 1);
            return false;
        }
        contents.records << record;
    }
    return true;
}

bool ParseVersion2(const QList<QByteArray> &lines, JournalContents &contents, QString &error)
{
    std::uint64_t expected = 1;
    PendingIntent open;
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split(' ');
        const QByteArray &kind = fields.first();
        std::uint64_t number = 0;
        bool ok = fields.size() >= 2 && ParseNumber(fields.at(1), number);
        if (ok && kind == "intent") {
            PendingIntent intent;
            ok = !open.present && number == expected && fields.size() == 6
                && ParseNumber(fields.at(2), intent.identity.volume)
                && ParseNumber(fields.at(3), intent.identity.index)
                && UnescapeJournalField(fields.at(4), intent.paths.oldPath)
                && UnescapeJournalField(fields.at(5), intent.paths.newPath);
            intent.present = true;
            open = intent;
        } else if (ok && (kind == "done" || kind == "failed")) {
            ok = open.present && number == expected && fields.size() == 2;
            if (ok && kind == "done")
                contents.records << open.paths;
            open = PendingIntent();
            ++expected;
        } else {
            ok = false;
        }
        if (!ok) {
            error = QStringLiteral("line %1 is not a journal record").arg(i + 1);
            return false;
        }
    }
    contents.pending = open;
    return true;
}

enum class Occupant { None, Recorded, Other };

// What stands at `path` itself (a link not followed), told by identity.
Occupant OccupantOf(const QByteArray &path, const EntryIdentity &recorded)
{
    EntryIdentity found;
    if (!IdentifyEntryItself(path.toStdString(), found))
        return Occupant::None;
    return found == recorded ? Occupant::Recorded : Occupant::Other;
}

bool Exists(const QByteArray &path, EntryIdentity &identity)
{
    return IdentifyEntryItself(path.toStdString(), identity);
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

// The last rename the run asked for, its outcome unknown: the identity it
// recorded tells whether the entry moved.
void UndoPending(const PendingIntent &pending, UndoCounts &counts, std::FILE *out,
                 std::FILE *err)
{
    const QByteArray &oldPath = pending.paths.oldPath;
    const QByteArray &newPath = pending.paths.newPath;
    const QByteArray shownOld = DisplayPath(oldPath);
    const QByteArray shownNew = DisplayPath(newPath);
    const Occupant atNew = OccupantOf(newPath, pending.identity);
    const Occupant atOld = OccupantOf(oldPath, pending.identity);
    if (atNew == Occupant::Recorded && atOld != Occupant::Other) {
        // Both names may answer for the one entry (a change of case only on
        // a file system that ignores case): putting OLD back is then right too.
        const RenameStatus status = RenameEntry(newPath.toStdString(), oldPath.toStdString());
        if (status.Succeeded()) {
            ++counts.restored;
            PrintRestored(out, shownNew, shownOld);
        } else if (atOld == Occupant::Recorded && status.error == RenameError::TargetExists) {
            std::fprintf(out, "not made, nothing to undo: %s -> %s\n", shownOld.constData(),
                         shownNew.constData());
        } else {
            ++counts.failed;
            PrintFailed(err, shownNew, shownOld, status);
        }
    } else if (atOld == Occupant::Recorded && atNew != Occupant::Recorded) {
        std::fprintf(out, "not made, nothing to undo: %s -> %s\n", shownOld.constData(),
                     shownNew.constData());
    } else {
        ++counts.skipped;
        std::fprintf(err,
                     "skipped, last rename unresolved: %s (not the entry that stood at %s, "
                     "or that name is taken)\n",
                     shownNew.constData(), shownOld.constData());
    }
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
    return "intent " + QByteArray::number(static_cast<qulonglong>(number)) + ' '
        + QByteArray::number(static_cast<qulonglong>(identity.volume)) + ' '
        + QByteArray::number(static_cast<qulonglong>(identity.index)) + ' '
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
    const QByteArray data = file.readAll();
    QList<QByteArray> lines = data.split('\n');
    // What follows the last line feed: empty, or a record cut off mid-write.
    contents.cutOff = !lines.last().isEmpty();
    lines.removeLast();
    if (!lines.isEmpty() && lines.first() == JournalHeader) {
        contents.version = 2;
        return ParseVersion2(lines, contents, error);
    }
    if (!lines.isEmpty() && lines.first() == JournalHeaderV1) {
        contents.version = 1;
        return ParseVersion1(lines, contents, error);
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
    const QList<JournalRecord> &records = contents.records;
    for (int i = records.size() - 1; i >= 0; --i) {
        const QByteArray &oldPath = records.at(i).oldPath;
        const QByteArray &newPath = records.at(i).newPath;
        const QByteArray shownOld = DisplayPath(oldPath);
        const QByteArray shownNew = DisplayPath(newPath);
        EntryIdentity atNew, atOld;
        if (!Exists(newPath, atNew)) {
            ++counts.skipped;
            std::fprintf(err, "skipped, gone: %s\n", shownNew.constData());
            continue;
        }
        // OLD may answer for the entry at NEW itself (a change of case only
        // where case is ignored); the no-replace rename tells the rest apart.
        const bool oldTaken = Exists(oldPath, atOld);
        const RenameStatus status = oldTaken && !(atOld == atNew)
            ? RenameStatus{RenameError::TargetExists, 0}
            : RenameEntry(newPath.toStdString(), oldPath.toStdString());
        if (status.Succeeded()) {
            ++counts.restored;
            PrintRestored(out, shownNew, shownOld);
        } else if (oldTaken && status.error == RenameError::TargetExists) {
            ++counts.skipped;
            std::fprintf(err, "skipped, taken: %s (not renamed back from %s)\n",
                         shownOld.constData(), shownNew.constData());
        } else {
            ++counts.failed;
            PrintFailed(err, shownNew, shownOld, status);
        }
    }
    return counts;
}
