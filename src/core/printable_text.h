#pragma once
// Text from outside (a client's request, a hand-edited file) made safe for one line of a
// journal or a message: control characters, NUL among them, are shown as \xNN escapes, so
// that a line can be neither cut short nor split in two by what somebody typed.

#include <QString>

namespace kelvaro {

inline QString printableText(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace kelvaro
