#pragma once
// The splash window shown at program start. After ten seconds, or at once when the operator
// clicks its picture, it asks for the main window, exactly once.

#include <QWidget>

class QTimer;

namespace kelvaro {

class SvgPicture;

class Frm_Splash : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Timer1Interval = 10000; // ms

    explicit Frm_Splash(QWidget* parent = nullptr);

    QTimer* timer() const { return Timer1; }

Q_SIGNALS:
    // Time to open the main window; its start-up hides the splash.
    void showMainWindow();

private:
    void Image1_Click();
    void Timer1_Timer();
    void openMainWindow();

    SvgPicture* Image1 = nullptr;
    QTimer* Timer1 = nullptr;
    bool m_mainWindowRequested = false;
};

} // namespace kelvaro
