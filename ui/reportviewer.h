#pragma once

#include <QString>

// Starts the system's plain-text editor on a rename report, detached, with
// the path as its one argument and never through a shell; nothing when the
// editor can't be found.
void StartReportViewer(const QString &reportPath);
