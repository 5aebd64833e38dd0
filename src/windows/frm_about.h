#pragma once
// The About window: the product picture with the program icon over it, and "Ok".

#include <QWidget>

namespace kelvaro {

class Frm_About : public QWidget
{
    Q_OBJECT
public:
    explicit Frm_About(QWidget* parent = nullptr);
};

} // namespace kelvaro
