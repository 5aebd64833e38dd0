#pragma once
// A label that shows a live value. Its accessible name is its caption followed by the
// value ("Actual Temperature: 24.68 °C"), kept current with every new value, so a screen
// reader reads what the eye sees beside the caption.

#include <QLabel>
#include <QString>

namespace kelvaro {

class ValueLabel : public QLabel
{
public:
    ValueLabel(QString caption, const QString& value, QWidget* parent)
        : QLabel(parent), m_caption(std::move(caption))
    {
        setValue(value);
    }

    void setValue(const QString& value)
    {
        setText(value);
        setAccessibleName(m_caption + QLatin1Char(' ') + value);
    }

    const QString& caption() const { return m_caption; }

private:
    QString m_caption;
};

} // namespace kelvaro
