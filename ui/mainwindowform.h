#pragma once

#include "ui_mainwindow.h"

// The window's form as the form compiler generates it: a pointer to every
// widget and layout, owning none of them (they belong to the window's tree).
class MainWindowForm : public Ui_MainWindow
{
};
