#include "cli/journalreader.h"

#include "cli/journalformat.h"
#include "platform/nativepath.h"

#include <QFile>
#include <QList>

#include <algorithm>

namespace {

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
        if (fields.size() < 2 || !ParseJournalNumber(fields.at(1), number) || number != expected_)
            return false;
        if (kind == "intent") {
            PendingIntent intent;
            if (open_.present || fields.size() != 6
                || !ParseJournalIdentity(fields.at(2), fields.at(3), intent.identity)
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

} // namespace

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
