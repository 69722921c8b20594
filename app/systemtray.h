#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

// The notification-area icon: a click brings the window back, its menu offers
// the same and a way to quit.
class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTray(QObject *parent = nullptr);
    ~SystemTray() override;

signals:
    void showWidget();

private slots:
    void UiQuit();
    void ShowUi();

private:
    QMenu *menu_Tray;
    QAction *act_ShowUi;
    QAction *act_UiQuit;
};
