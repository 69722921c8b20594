#include "cli/journal.h"

#include "platform/pathchecks.h"
#include "platform/renameentry.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

const char JournalHeader[] = "quillbarrow-cli journal 1";

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

#ifndef _WIN32
std::string LocalBytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}
#endif

// Exclusive creation: fopen's "x" mode is missing from older Windows runtimes.
int CreateNewFile(const QString &path)
{
#ifdef _WIN32
    return _wopen(reinterpret_cast<const wchar_t *>(path.utf16()),
                  _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(LocalBytes(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

// Straight to the system, no buffer of our own in between.
bool WriteAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
#ifdef _WIN32
        const int written = _write(fd, data, static_cast<unsigned>(left));
#else
        const ssize_t written = write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
#endif
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

bool Truncate(int fd, qint64 size)
{
#ifdef _WIN32
    return _chsize_s(fd, size) == 0;
#else
    return ftruncate(fd, static_cast<off_t>(size)) == 0;
#endif
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

JournalWriter::~JournalWriter()
{
    if (fd_ >= 0)
        Close();
}

bool JournalWriter::Create(const QString &path, QString &error)
{
    fd_ = CreateNewFile(path);
    if (fd_ < 0) {
        error = errno == EEXIST ? QStringLiteral("it exists already (an old journal is never replaced)")
                                : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QByteArray header = QByteArray(JournalHeader) + '\n';
    if (!WriteAll(fd_, header)) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    size_ = header.size();
    return true;
}

bool JournalWriter::Append(const QByteArray &oldPath, const QByteArray &newPath)
{
    if (fd_ < 0)
        return false;
    const QByteArray line = EscapeJournalField(oldPath) + ' ' + EscapeJournalField(newPath) + '\n';
    if (WriteAll(fd_, line)) {
        size_ += line.size();
        return true;
    }
    // No half record: the journal ends with the last whole one.
    Truncate(fd_, size_);
    return false;
}

bool JournalWriter::Close()
{
    if (fd_ < 0)
        return false;
#ifdef _WIN32
    bool ok = _commit(fd_) == 0;
    ok = _close(fd_) == 0 && ok;
#else
    bool ok = fsync(fd_) == 0;
    ok = close(fd_) == 0 && ok;
#endif
    fd_ = -1;
    return ok;
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
    if (lines.isEmpty() || lines.first() != JournalHeader) {
        error = QStringLiteral("not a quillbarrow-cli journal");
        return false;
    }
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

UndoCounts UndoJournal(const QList<JournalRecord> &records, std::FILE *out, std::FILE *err)
{
    UndoCounts counts;
    for (int i = records.size() - 1; i >= 0; --i) {
        const std::string oldPath = records.at(i).oldPath.toStdString();
        const std::string newPath = records.at(i).newPath.toStdString();
        const QByteArray shownOld = DisplayPath(records.at(i).oldPath);
        const QByteArray shownNew = DisplayPath(records.at(i).newPath);
        bool oldTaken = FileExists(oldPath);
#ifdef _WIN32
        // A change of case only: the old name answers for the entry itself.
        if (oldTaken
            && QString::compare(QFile::decodeName(records.at(i).oldPath),
                                QFile::decodeName(records.at(i).newPath), Qt::CaseInsensitive)
                == 0)
            oldTaken = false;
#endif
        if (!FileExists(newPath)) {
            ++counts.skipped;
            std::fprintf(err, "skipped, gone: %s\n", shownNew.constData());
        } else if (oldTaken) {
            ++counts.skipped;
            std::fprintf(err, "skipped, taken: %s (not renamed back from %s)\n",
                         shownOld.constData(), shownNew.constData());
        } else if (RenameEntry(newPath, oldPath)) {
            ++counts.restored;
            std::fprintf(out, "restored: %s -> %s\n", shownNew.constData(), shownOld.constData());
        } else {
            ++counts.failed;
            std::fprintf(err, "failed: %s -> %s (%s)\n", shownNew.constData(),
                         shownOld.constData(), std::strerror(errno));
        }
    }
    return counts;
}
