#include "values/duration.h"

#include "core/rounding.h"

#include <QRegularExpression>

namespace kelvaro {

std::optional<QString> Board_Seconds_To_Duration(qint32 boardSeconds, qint32 k)
{
    if (k <= 0)
        return std::nullopt;
    const qint64 scaled = qint64(boardSeconds) * 10000;
    if (scaled < std::numeric_limits<qint32>::min() || scaled > std::numeric_limits<qint32>::max())
        return std::nullopt;
    const std::optional<qint32> t = roundToInteger<qint32>(double(scaled) / double(k));
    if (!t)
        return std::nullopt;
    const qint32 s = *t % 60; // sign of t, as the minutes/seconds split expects
    const qint32 m = (*t - s) / 60;
    const QString seconds = s < 0 ? QStringLiteral("-%1").arg(-s, 2, 10, QLatin1Char('0'))
                                  : QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0'));
    return QString::number(m) + QLatin1Char(':') + seconds;
}

namespace {

// Minutes and seconds of "00:" + text read as hours:minutes[:seconds].
std::optional<qint32> typedSeconds(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2})(?::(\\d{1,2}))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int minute = match.captured(1).toInt();
    const int second = match.hasCaptured(2) ? match.captured(2).toInt() : 0;
    if (minute > 59 || second > 59)
        return std::nullopt;
    return 60 * minute + second;
}

} // namespace

std::optional<qint32> Duration_To_Board_Seconds(const QString& text, qint32 k)
{
    if (k <= 0)
        return std::nullopt;
    const std::optional<qint32> t = typedSeconds(text);
    if (!t)
        return std::nullopt;
    return roundToInteger<qint32>(double(k) * double(*t) / 10000.0);
}

std::optional<QString> durationWordText(qint32 word, qint32 k)
{
    const qint64 boardSeconds = qint64(word) * 2;
    if (boardSeconds < std::numeric_limits<qint32>::min() ||
        boardSeconds > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return Board_Seconds_To_Duration(qint32(boardSeconds), k);
}

std::optional<qint32> durationWordFromText(const QString& text, qint32 k)
{
    const std::optional<qint32> boardSeconds = Duration_To_Board_Seconds(text, k);
    if (!boardSeconds)
        return std::nullopt;
    const std::optional<qint32> word = roundToInteger<qint32>(*boardSeconds / 2.0);
    if (!word || *word < 0 || *word > 65535)
        return std::nullopt;
    return word;
}

} // namespace kelvaro
