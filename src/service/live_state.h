#pragma once
// The "state" message: what a client sees of one complete block, as the window shows it
// in the client's unit and locale, with the line's and the log's status.

#include <QJsonObject>
#include <QLocale>

namespace kelvaro {
class BoardSession;
}

namespace kelvaro::service {

QJsonObject stateMessage(const BoardSession& session, bool fahrenheit, const QLocale& locale);

} // namespace kelvaro::service
