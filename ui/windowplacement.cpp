#include "ui/windowplacement.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QGuiApplication>
#include <QScreen>
#endif

QPoint CentredTopLeft(const QSize &screen, const QSize &window)
{
    return QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

QSize PrimaryScreenSize()
{
#ifdef Q_OS_WIN
    return QSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
#else
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize();
#endif
}
