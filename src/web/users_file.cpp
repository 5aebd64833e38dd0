#include "web/users_file.h"

#include "web/private_file.h"

namespace kelvaro::web {

namespace {

const QString FileWhat = QStringLiteral("users file");

} // namespace

QString roleName(Role role)
{
    return role == Role::Operator ? QStringLiteral("operator") : QStringLiteral("viewer");
}

std::optional<Role> roleFromName(const QString& name)
{
    if (name == u"viewer")
        return Role::Viewer;
    if (name == u"operator")
        return Role::Operator;
    return std::nullopt;
}

bool isValidUserName(const QString& name)
{
    if (name.isEmpty() || name.size() > UserNameMaxLength)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || u == u'.' || u == u'_' || u == u'-';
        if (!ok)
            return false;
    }
    return true;
}

UsersFile::UsersFile(QString path, unsigned long hashCost)
    : m_path(std::move(path)), m_hashCost(hashCost), m_standIn(dummyHash(hashCost))
{
}

Outcome<QList<UsersFile::Line>> UsersFile::read(bool missingIsEmpty) const
{
    const Outcome<std::optional<QByteArray>> contents = readPrivateFile(m_path, FileWhat);
    if (!contents)
        return failure(contents.reason());
    if (!contents.value()) {
        if (missingIsEmpty)
            return QList<Line>();
        return failure(QStringLiteral("there is no users file %1; add a user first").arg(m_path));
    }
    QList<QByteArray> texts = contents.value()->split('\n');
    if (!texts.isEmpty() && texts.last().isEmpty())
        texts.removeLast(); // the end of the last line
    QList<Line> lines;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QByteArray text = texts[i];
        if (text.endsWith('\r'))
            text.chop(1);
        const auto refuse = [&](const QString& why) {
            return failure(
                QStringLiteral("users file %1, line %2: %3").arg(m_path).arg(i + 1).arg(why));
        };
        const QByteArray trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#')) {
            lines.append(Line{text, std::nullopt});
            continue;
        }
        const QList<QByteArray> fields = text.split(':');
        if (fields.size() != 3)
            return refuse(QStringLiteral("a user's line is NAME:ROLE:HASH, with two colons; "
                                         "this one has %1")
                              .arg(fields.size() - 1));
        const QString name = QString::fromUtf8(fields[0]);
        if (!isValidUserName(name))
            return refuse(QStringLiteral("the name \"%1\" is not 1 to %2 of A-Z a-z 0-9 . _ -")
                              .arg(name)
                              .arg(UserNameMaxLength));
        const std::optional<Role> role = roleFromName(QString::fromUtf8(fields[1]));
        if (!role)
            return refuse(QStringLiteral("the role \"%1\" is neither viewer nor operator")
                              .arg(QString::fromUtf8(fields[1])));
        if (const Outcome<void> hashOk = checkStoredHash(fields[2]); !hashOk)
            return refuse(hashOk.reason());
        for (const Line& earlier : lines)
            if (earlier.user && earlier.user->name == name)
                return refuse(QStringLiteral("the user %1 is there twice").arg(name));
        lines.append(Line{text, User{name, *role, fields[2]}});
    }
    return lines;
}

Outcome<void> UsersFile::load()
{
    Outcome<QList<Line>> lines = read(false);
    if (!lines)
        return failure(lines.reason());
    m_lines = std::move(lines).value();
    return {};
}

Outcome<void> UsersFile::write(const QList<Line>& lines)
{
    QByteArray contents;
    for (const Line& line : lines) {
        if (line.user)
            contents += line.user->name.toUtf8() + ':' + roleName(line.user->role).toUtf8() + ':' +
                        line.user->hash;
        else
            contents += line.text;
        contents += '\n';
    }
    if (const Outcome<void> written = writePrivateFile(m_path, FileWhat, contents); !written)
        return written;
    m_lines = lines;
    return {};
}

Outcome<void> UsersFile::setUser(const QString& name, Role role, const QString& password)
{
    if (!isValidUserName(name))
        return failure(QStringLiteral("the name \"%1\" is not 1 to %2 of A-Z a-z 0-9 . _ -")
                           .arg(name)
                           .arg(UserNameMaxLength));
    const Outcome<QByteArray> hash = hashPassword(password, m_hashCost);
    if (!hash)
        return failure(hash.reason());
    Outcome<QList<Line>> current = read(true);
    if (!current)
        return failure(current.reason());
    QList<Line> lines = std::move(current).value();
    const User user{name, role, hash.value()};
    bool found = false;
    for (Line& line : lines) {
        if (line.user && line.user->name == name) {
            line.user = user;
            found = true;
        }
    }
    if (!found)
        lines.append(Line{{}, user});
    return write(lines);
}

Outcome<void> UsersFile::removeUser(const QString& name)
{
    Outcome<QList<Line>> current = read(false);
    if (!current)
        return failure(current.reason());
    QList<Line> lines = std::move(current).value();
    const auto removed =
        lines.removeIf([&](const Line& line) { return line.user && line.user->name == name; });
    if (removed == 0)
        return failure(QStringLiteral("there is no user %1 in %2").arg(name, m_path));
    return write(lines);
}

const UsersFile::User* UsersFile::find(const QString& name) const
{
    for (const Line& line : m_lines)
        if (line.user && line.user->name == name)
            return &*line.user;
    return nullptr;
}

std::optional<Role> UsersFile::checkPassword(const QString& name, const QString& password) const
{
    const User* user = find(name);
    const bool matches = passwordMatches(password, user ? user->hash : m_standIn);
    if (!user || !matches)
        return std::nullopt;
    return user->role;
}

std::optional<Role> UsersFile::role(const QString& name) const
{
    if (const User* user = find(name))
        return user->role;
    return std::nullopt;
}

QStringList UsersFile::userNames() const
{
    QStringList names;
    for (const Line& line : m_lines)
        if (line.user)
            names.append(line.user->name);
    return names;
}

} // namespace kelvaro::web
