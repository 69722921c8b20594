#pragma once

#include <QString>

#include <functional>

// Who shows the rename report once a pass has written it.
using ReportViewer = std::function<void(const QString &reportPath)>;

// Installs a viewer for every later pass, on any thread; an empty one
// restores the default: Notepad on Windows, the desktop's default handler
// (xdg-open) elsewhere, started detached with the path as its one argument,
// never through a shell; nothing when the program can't be found.
void SetReportViewer(ReportViewer viewer);

// Hands the report path (native separators) to the installed viewer.
void ShowRenameReport(const QString &reportPath);
