#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>

// A counter on one terminal line, rewritten in place. Silent when the stream
// is not a terminal, so that logs and pipes get nothing but the real output.
class ProgressLine
{
public:
    explicit ProgressLine(std::FILE *stream);
    ProgressLine(std::FILE *stream, bool enabled);

    bool Enabled() const { return enabled_; }

    // Redraws at most ten times a second.
    void Update(int renamed, int failed);

    // Blanks the line, so that what is printed next starts on a clean one.
    void Clear();

private:
    std::FILE *stream_;
    bool enabled_;
    QElapsedTimer sinceDrawn_;
    QByteArray shown_;
};

