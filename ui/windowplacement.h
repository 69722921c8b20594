#pragma once

#include <QPoint>
#include <QSize>

// Top-left corner that centres a window of the given size on a screen of the
// given size. Integer division truncates toward zero, so a window larger than
// the screen gets a negative corner, used as it is.
QPoint CentredTopLeft(const QSize &screen, const QSize &window);

// Size in pixels of the primary display.
QSize PrimaryScreenSize();
