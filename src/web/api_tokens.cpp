#include "web/api_tokens.h"

#include "web/passwords.h"
#include "web/private_file.h"
#include "web/random_token.h"
#include "web/users_file.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <algorithm>

namespace kelvaro::web {

namespace {

const QString FileWhat = QStringLiteral("tokens file");

QByteArray tokenHash(const QByteArray& token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

bool isTokenId(const QByteArray& id)
{
    if (id.size() != 8)
        return false;
    for (const char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

ApiTokens::ApiTokens(QString path) : m_path(std::move(path)) {}

Outcome<QList<ApiTokens::Stored>> ApiTokens::read() const
{
    const Outcome<std::optional<QByteArray>> contents = readPrivateFile(m_path, FileWhat);
    if (!contents)
        return failure(contents.reason());
    QList<Stored> stored;
    if (!contents.value())
        return stored;
    const QList<QByteArray> lines = contents.value()->split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(':');
        const QByteArray hash = fields.size() == 3 ? QByteArray::fromHex(fields[2]) : QByteArray();
        if (fields.size() != 3 || !isTokenId(fields[0]) ||
            !isValidUserName(QString::fromUtf8(fields[1])) || hash.size() != 32 ||
            fields[2].size() != 64)
            return failure(QStringLiteral("tokens file %1, line %2: not ID:USER:SHA256 (an id of 8 "
                                          "hexadecimal digits, a user name, 64 hexadecimal digits)")
                               .arg(m_path)
                               .arg(i + 1));
        stored.append(Stored{QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]), hash});
    }
    return stored;
}

Outcome<void> ApiTokens::write(const QList<Stored>& stored)
{
    QByteArray contents = QByteArrayLiteral("# kelvaro-web's tokens for scripts: ID:USER:SHA256\n");
    for (const Stored& token : stored)
        contents += token.id.toUtf8() + ':' + token.user.toUtf8() + ':' + token.hash.toHex() + '\n';
    if (const Outcome<void> written = writePrivateFile(m_path, FileWhat, contents); !written)
        return written;
    m_stored = stored;
    return {};
}

Outcome<void> ApiTokens::load()
{
    Outcome<QList<Stored>> stored = read();
    if (!stored)
        return failure(stored.reason());
    m_stored = std::move(stored).value();
    return {};
}

Outcome<ApiTokens::NewToken> ApiTokens::create(const QString& user)
{
    if (!isValidUserName(user))
        return failure(QStringLiteral("the name \"%1\" is not a user name").arg(user));
    Outcome<QList<Stored>> current = read();
    if (!current)
        return failure(current.reason());
    QList<Stored> stored = std::move(current).value();
    QString id;
    do {
        id = QStringLiteral("%1").arg(QRandomGenerator::system()->generate(), 8, 16,
                                      QLatin1Char('0'));
    } while (std::any_of(stored.cbegin(), stored.cend(),
                         [&](const Stored& token) { return token.id == id; }));
    const QByteArray token = ApiTokenPrefix + randomToken();
    stored.append(Stored{id, user, tokenHash(token)});
    if (const Outcome<void> written = write(stored); !written)
        return failure(written.reason());
    return NewToken{id, token};
}

Outcome<void> ApiTokens::revoke(const QString& id)
{
    Outcome<QList<Stored>> current = read();
    if (!current)
        return failure(current.reason());
    QList<Stored> stored = std::move(current).value();
    if (stored.removeIf([&](const Stored& token) { return token.id == id; }) == 0)
        return failure(QStringLiteral("there is no token %1 in %2").arg(id, m_path));
    return write(stored);
}

std::optional<QString> ApiTokens::userOf(const QByteArray& token) const
{
    if (!token.startsWith(ApiTokenPrefix) ||
        !looksLikeRandomToken(token.mid(ApiTokenPrefix.size())))
        return std::nullopt;
    const QByteArray hash = tokenHash(token);
    std::optional<QString> user;
    for (const Stored& stored : m_stored)
        if (constantTimeEquals(stored.hash, hash))
            user = stored.user;
    return user;
}

QList<ApiTokens::Entry> ApiTokens::tokens() const
{
    QList<Entry> entries;
    for (const Stored& stored : m_stored)
        entries.append(Entry{stored.id, stored.user});
    return entries;
}

} // namespace kelvaro::web
