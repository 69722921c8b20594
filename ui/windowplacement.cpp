#include "ui/windowplacement.h"

#include "platform/system.h"

#include <QGuiApplication>
#include <QScreen>

QPoint CentredTopLeft(const QSize &screen, const QSize &window)
{
    return QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

QSize PrimaryScreenSize()
{
    int width = 0, height = 0;
    if (SystemScreenSize(width, height))
        return QSize(width, height);
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize();
}
