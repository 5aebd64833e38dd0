#pragma once
// Window geometry is laid out in twips (1/1440 inch); 15 twips are one pixel at 96 dpi.
// Qt scales device-independent pixels for high-dpi screens.

#include <QRect>
#include <QSize>
#include <QWidget>

namespace kelvaro {

constexpr int twips(int value)
{
    return (value + 7) / 15;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}

inline void placeAt(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsRect(left, top, width, height));
}

} // namespace kelvaro
