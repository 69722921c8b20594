#include "cli/journalwriter.h"

#include "cli/journalformat.h"
#include "engine/passfilesystem.h"
#include "platform/system.h"

namespace {

QByteArray Bytes(const std::string &text)
{
    return QByteArray(text.data(), static_cast<int>(text.size()));
}

} // namespace

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
