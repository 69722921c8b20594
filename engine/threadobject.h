#pragma once

#include <QFileInfo>
#include <QList>
#include <QObject>
#include <QString>

// The worker of a rename job. It lives on the job's own thread and speaks to
// the window only through its signals; each slot runs one pass on a copy
// of CurrentJobParameters() and stops between two entries when its thread is
// asked to (QThread::requestInterruption).
class ThreadObject : public QObject
{
    Q_OBJECT

public:
    explicit ThreadObject(QObject *parent = nullptr);

    QList<QFileInfo> CollectFiles(const QString &path);
    QList<QFileInfo> CollectFolders(const QString &path);

signals:
    void ShowDisposingFile(QString filePath);
    void Set_pBtn_Enable();
    // After Set_pBtn_Enable, once the rename report was written (native
    // separators); the window shows it.
    void RenameReportWritten(QString reportPath);

public slots:
    void ReplaceExcelText();
    void ReplaceExcelText_2();
    void InsertText();
};
