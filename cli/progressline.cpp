#include "cli/progressline.h"

#include "platform/system.h"

ProgressLine::ProgressLine(std::FILE *stream) : ProgressLine(stream, IsTerminal(stream)) {}

ProgressLine::ProgressLine(std::FILE *stream, bool enabled) : stream_(stream), enabled_(enabled) {}

void ProgressLine::Update(int renamed, int failed)
{
    if (!enabled_ || (sinceDrawn_.isValid() && sinceDrawn_.elapsed() < 100))
        return;
    const QByteArray text =
        QByteArray::number(renamed) + " renamed, " + QByteArray::number(failed) + " failed";
    if (text == shown_)
        return;
    // The counts only grow, so the new text is never shorter than the old.
    std::fprintf(stream_, "\r%s", text.constData());
    std::fflush(stream_);
    shown_ = text;
    sinceDrawn_.start();
}

void ProgressLine::Clear()
{
    if (!enabled_ || shown_.isEmpty())
        return;
    std::fprintf(stream_, "\r%s\r", QByteArray(shown_.size(), ' ').constData());
    std::fflush(stream_);
    shown_.clear();
}
