#pragma once
// What a browser may ask over the page's WebSocket, read from one text message. Anything
// else is refused with the reason, and with the message's id when it could be read, so the
// page can tie the refusal to what it sent.

#include "core/outcome.h"

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <variant>

namespace kelvaro::web {

// The longest message a browser may send; a longer one ends its connection.
inline constexpr qsizetype BrowserMessageMaxBytes = 16 * 1024;

struct WatchBoard
{
    QString board;
};
struct SetBox
{
    int box = 0;
    QString text;
    QString locale; // "de_DE"; "C" when the page gave none
};
struct ChangeSettings
{
    QJsonObject change; // exactly one of {"logActive": bool} or {"displayUnit": "C"|"F"}
};
struct AskTrend
{
    int hours = 6;
    int width = 600;
};
struct AskDays
{
};
struct AskHistory
{
    QDate from;
    QDate to;
    int width = 600;
};

using BrowserAsk = std::variant<WatchBoard, SetBox, ChangeSettings, AskTrend, AskDays, AskHistory>;

struct BrowserRequest
{
    std::optional<qint64> id;
    BrowserAsk ask;
};

// A refusal, with the id of the message when it had one.
struct BrowserRefusal
{
    std::optional<qint64> id;
    QString reason;
};

std::variant<BrowserRequest, BrowserRefusal> readBrowserMessage(const QByteArray& text);

// Whether the request changes the board or the recorder's settings (an operator's).
bool changesBoard(const BrowserAsk& ask);

// The widths a chart may be asked for, in pixel columns.
inline constexpr int ChartMinWidth = 50;
inline constexpr int ChartMaxWidth = 2000;
inline constexpr int TrendMaxHours = 24;

} // namespace kelvaro::web
