#pragma once
// Tokens for scripts: a script sends `Authorization: Bearer kw_...` instead of logging in.
// A token belongs to a user and acts with that user's role as it is at each use; it is
// shown once when made and stored only as its SHA-256 (it is random, not a password, so a
// fast hash is enough), and it can be revoked by its short id.
//
// The tokens file has one line per token, `ID:USER:SHA256-HEX`, and obeys the users
// file's rules (the running user's, 0600 or stricter). kelvaro-web writes it; lines
// starting with # are skipped when read and not kept.

#include "core/outcome.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace kelvaro::web {

inline const QByteArray ApiTokenPrefix = QByteArrayLiteral("kw_");

class ApiTokens
{
public:
    explicit ApiTokens(QString path);

    // Reads the file; a missing file is no tokens. On a refusal the tokens already loaded
    // stay.
    Outcome<void> load();

    struct NewToken
    {
        QString id;       // to revoke it by
        QByteArray token; // "kw_" and 43 characters: shown once, never stored
    };
    // Makes a token for `user` and rewrites the file.
    Outcome<NewToken> create(const QString& user);

    // Removes the token of that id and rewrites the file.
    Outcome<void> revoke(const QString& id);

    // The user a presented token belongs to, or nothing. Compares against every stored hash
    // in a time that does not depend on which one matches.
    std::optional<QString> userOf(const QByteArray& token) const;

    struct Entry
    {
        QString id;
        QString user;
    };
    QList<Entry> tokens() const;

private:
    struct Stored
    {
        QString id;
        QString user;
        QByteArray hash; // SHA-256, raw bytes
    };
    Outcome<QList<Stored>> read() const;
    Outcome<void> write(const QList<Stored>& stored);

    QString m_path;
    QList<Stored> m_stored;
};

} // namespace kelvaro::web
