#include "app/systemtray.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject *parent)
    : QSystemTrayIcon(parent)
    , menu_Tray(new QMenu)
    , act_ShowUi(new QAction(QStringLiteral("软件设置"), this))
    , act_UiQuit(new QAction(QStringLiteral("退出程序"), this))
{
    menu_Tray->addAction(act_ShowUi);
    menu_Tray->addAction(act_UiQuit);
    setContextMenu(menu_Tray);
    setIcon(QIcon(QStringLiteral(":/images/qzt.ico")));
    setToolTip(QStringLiteral("文件批量重命名"));
    setVisible(true);

    connect(act_ShowUi, &QAction::triggered, this, &SystemTray::ShowUi, Qt::UniqueConnection);
    connect(act_UiQuit, &QAction::triggered, this, &SystemTray::UiQuit, Qt::UniqueConnection);
}

// A menu cannot be a child of the icon (it is no widget), so the icon owns it
// by hand; left alone it would outlive every window as a leak.
SystemTray::~SystemTray()
{
    delete menu_Tray;
}

void SystemTray::UiQuit()
{
    QCoreApplication::quit();
}

void SystemTray::ShowUi()
{
    emit showWidget();
}
