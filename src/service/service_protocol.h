#pragma once
// The service's line-delimited JSON protocol: one JSON object per line each way. The
// server's first line is a "hello" carrying the protocol version. This unit reads the
// clients' request lines (bounded, checked field by field) and writes messages; it knows
// nothing of sockets. docs/protocol.md describes every message.

#include "core/outcome.h"
#include "store/settings_keeper.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <chrono>
#include <optional>

namespace kelvaro::service {

// 2: the recorder's history ("days", "history", "detail", "report").
inline constexpr int ProtocolVersion = 2;
// The longest line either side accepts, its newline excluded.
inline constexpr qsizetype MaxLineLength = 64 * 1024;
// The most days a history request may cover: ten years and a few days.
inline constexpr int MaxHistoryDays = 3660;

// Splits a byte stream into lines of at most MaxLineLength bytes. A longer line makes the
// reader over-long for good: the connection is not to be read any further.
class LineReader
{
public:
    void append(QByteArrayView bytes);
    // The next complete line without its "\n" (and a "\r" before it); none when no line is
    // complete or the reader is over-long.
    std::optional<QByteArray> nextLine();
    bool overLong() const { return m_overLong; }

private:
    QByteArray m_buffer;
    qsizetype m_scanned = 0;
    bool m_overLong = false;
};

enum class RequestType
{
    Hello,
    Subscribe,
    Unsubscribe,
    Values,
    Status,
    Set,
    Reset,
    Settings,
    // The recorder's daily log files: their dates, the chart's summary of a range, the
    // lines of a few days, the daily report.
    Days,
    History,
    Detail,
    Report
};

// Whether a request reads the recorder's log files (one such request per client at a time).
bool readsHistory(RequestType type);

// One settings change, as the window's dialogs and menus make them.
struct SettingsChange
{
    std::optional<CommunicationSettings> communication;
    std::optional<LoggingChoices> logging;
    std::optional<bool> logActive;
    std::optional<bool> fahrenheit;
    std::optional<qint16> showDirect; // the raw-register column: 1 shown, 0 hidden
};

struct Request
{
    RequestType type = RequestType::Hello;
    QJsonValue id; // echoed in every answer to the request; null when not given
    // The client's choices for the values shown and the text typed ("unit", "locale").
    std::optional<bool> fahrenheit;
    std::optional<QString> locale;
    // "set": the entry box (index 0-9, or its caption), the text as typed, the time-out.
    int box = -1;
    QString text;
    std::chrono::milliseconds timeout{10000};
    SettingsChange settings;
    // "subscribe": also send the settings record ("record" messages), now and on change.
    bool withRecord = false;
    // "days", "history", "detail", "report": the first and last day (both needed by
    // "history" and "detail"); never after one another, at most MaxHistoryDays apart.
    std::optional<QDate> from;
    std::optional<QDate> to;
};

// Reads one request line. A refusal says what is wrong with it, for the client.
Outcome<Request> parseRequest(QByteArrayView line);
// The "id" of a request line that parseRequest refused, when it could be read (a JSON
// object whose "id" is a number or a text), so that the error answer names the request.
QJsonValue readableRequestId(QByteArrayView line);

// The entry box a "set" names: its index 0-9, or its caption as the window shows it
// (with or without the colon, case ignored).
std::optional<int> entryBoxNamed(const QJsonValue& box);

// One message as a line: compact JSON and "\n".
QByteArray encodeMessage(const QJsonObject& message);
// The "record" message: the settings record as Settings.txt holds it, so that an attached
// window shows the values exactly as the service's own settings make them.
QJsonObject recordMessage(const Settings_Record& record);
// Reads a "record" message into `record`; the reason when it carries none that reads whole.
Outcome<void> readRecordMessage(const QJsonObject& message, Settings_Record& record);

// The "error" message, with the request's id when there was one.
QJsonObject errorMessage(const QString& reason, const QJsonValue& id = {});

} // namespace kelvaro::service
