#pragma once
// The users of kelvaro-web, in a file of one line per user, `NAME:ROLE:HASH`:
//
//   # the heating engineers
//   anna:operator:$y$j9T$...
//   desk:viewer:$y$j9T$...
//
// A viewer sees everything and changes nothing; an operator also writes to the board and
// changes settings. Names are 1 to 32 of A-Z a-z 0-9 . _ -; the hash is yescrypt (what
// `mkpasswd -m yescrypt` prints) or another method libcrypt checks. Lines starting with #
// and blank lines are comments, kept when the file is rewritten. The file must be the
// running user's and 0600 or stricter: it is refused otherwise.

#include "core/outcome.h"
#include "web/passwords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kelvaro::web {

enum class Role
{
    Viewer,  // sees everything, changes nothing
    Operator // also writes to the board and changes settings
};

QString roleName(Role role); // "viewer", "operator"
std::optional<Role> roleFromName(const QString& name);

// 1 to 32 characters of A-Z a-z 0-9 . _ -
bool isValidUserName(const QString& name);
inline constexpr qsizetype UserNameMaxLength = 32;

class UsersFile
{
public:
    // `hashCost` is yescrypt's cost for new passwords and for the stand-in hash (see
    // checkPassword); tests pass 1.
    explicit UsersFile(QString path, unsigned long hashCost = DefaultHashCost);

    // Reads the file, all or nothing: on a refusal (no file, its owner or mode, a malformed
    // line with its number and why) the users already loaded stay.
    Outcome<void> load();

    // Adds the user, or changes the role and password of the one of that name, and rewrites
    // the file whole (creating it when missing), keeping every other line as it was. Reads
    // the file first, so that a change made by hand since load() is kept. Refused, changing
    // nothing: a bad name, a password breaking the rules (checkNewPassword).
    Outcome<void> setUser(const QString& name, Role role, const QString& password);

    // Removes the user's line and rewrites the file.
    Outcome<void> removeUser(const QString& name);

    // The user's role when `password` is theirs. Always costs one hash: a name with no user
    // is checked against a stand-in, so the time taken does not tell which names exist. A
    // hash takes tens of milliseconds: call it off the event loop (it is safe on any thread
    // while nothing changes the users).
    std::optional<Role> checkPassword(const QString& name, const QString& password) const;

    // The user's role, or nothing for a name with no user.
    std::optional<Role> role(const QString& name) const;
    QStringList userNames() const;

    QString path() const { return m_path; }

private:
    struct User
    {
        QString name;
        Role role = Role::Viewer;
        QByteArray hash;
    };
    // A line of the file: a user, or a comment or blank line kept as it was.
    struct Line
    {
        QByteArray text;
        std::optional<User> user;
    };

    Outcome<QList<Line>> read(bool missingIsEmpty) const;
    Outcome<void> write(const QList<Line>& lines);
    const User* find(const QString& name) const;

    QString m_path;
    unsigned long m_hashCost = DefaultHashCost;
    QByteArray m_standIn;
    QList<Line> m_lines;
};

} // namespace kelvaro::web
