#include "service/live_state.h"

#include "link/board_session.h"
#include "values/display_texts.h"
#include "values/parameter_entry.h"
#include "values/parameter_values.h"

#include <QDateTime>
#include <QJsonArray>

namespace kelvaro::service {

namespace {

QJsonArray pair(const char* caption, const QString& text)
{
    return QJsonArray{QString::fromUtf8(caption), text};
}

} // namespace

QJsonObject stateMessage(const BoardSession& session, bool fahrenheit, const QLocale& locale)
{
    const Kelv_Main& state = session.state();
    const Words& words = state.registers.Reg_Words;
    const DisplayUnits units{fahrenheit, calibrationValue(state.settings.Timer_CalValue), locale};

    QJsonArray wordList;
    for (const qint32 word : words)
        wordList.append(word);
    // The values in the window's order: the measured values, then the entry boxes.
    QJsonArray values;
    auto outputs = outputTexts(words, units);
    outputs[4] = relayStatusText(words);
    for (int k = 0; k < OutputLabelCount; ++k)
        values.append(pair(OutputCaptions[std::size_t(k)], outputs[std::size_t(k)]));
    const auto inputs = inputTexts(words, units);
    for (int k = 0; k < InputBoxCount; ++k)
        values.append(pair(entryBox(k).caption, inputs[std::size_t(k)]));

    const BoardLink& link = session.link();
    QJsonObject log{{QStringLiteral("active"), state.settings.Log_Active.equalsNumber(1)},
                    {QStringLiteral("failure"), session.logFailure()}};
    if (const auto written = session.lastLogWrite())
        log.insert(QStringLiteral("lastWrite"), written->toUTC().toString(Qt::ISODate));
    return {
        {QStringLiteral("type"), QStringLiteral("state")},
        {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {QStringLiteral("unit"), fahrenheit ? QStringLiteral("F") : QStringLiteral("C")},
        {QStringLiteral("words"), wordList},
        {QStringLiteral("values"), values},
        {QStringLiteral("relay"), relayStatusText(words)},
        {QStringLiteral("line"), QJsonObject{{QStringLiteral("device"), link.deviceName()},
                                             {QStringLiteral("open"), link.isOpen()},
                                             {QStringLiteral("status"), link.status()},
                                             {QStringLiteral("problem"), link.problem()}}},
        {QStringLiteral("log"), log},
    };
}

} // namespace kelvaro::service
