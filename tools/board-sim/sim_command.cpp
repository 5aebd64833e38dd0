#include "sim_command.h"

#include <QStringList>
#include <array>
#include <utility>

namespace kelvaro::boardsim {

namespace {

constexpr std::array<std::pair<const char*, SimCommand::Kind>, 10> PlainCommands{{
    {"stop-block", SimCommand::Kind::StopBlock},
    {"garbage", SimCommand::Kind::Garbage},
    {"ignore-write", SimCommand::Kind::IgnoreWrite},
    {"silent", SimCommand::Kind::Silent},
    {"resume", SimCommand::Kind::Resume},
    {"close", SimCommand::Kind::Close},
    {"reopen", SimCommand::Kind::Reopen},
    {"stats", SimCommand::Kind::Stats},
    {"dump", SimCommand::Kind::Dump},
    {"quit", SimCommand::Kind::Quit},
}};

} // namespace

std::optional<SimCommand> parseCommand(QStringView line)
{
    const QList<QStringView> parts = line.trimmed().split(u' ', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return std::nullopt;
    if (parts.size() == 1) {
        for (const auto& [name, kind] : PlainCommands) {
            if (parts[0] == QLatin1StringView(name))
                return SimCommand{kind};
        }
        return std::nullopt;
    }
    if (parts.size() != 3 || parts[0] != u"set")
        return std::nullopt;
    bool wordOk = false;
    bool valueOk = false;
    const int index = parts[1].toInt(&wordOk);
    const uint value = parts[2].toUInt(&valueOk);
    if (!wordOk || !valueOk || index < 0 || index >= RegisterCount || value > 0xFFFF)
        return std::nullopt;
    return SimCommand{SimCommand::Kind::Set, index, quint16(value)};
}

QString dumpLine(const RegisterWords& words)
{
    QString line = QStringLiteral("words");
    for (const quint16 w : words)
        line += u' ' + QString::number(w);
    return line;
}

} // namespace kelvaro::boardsim
