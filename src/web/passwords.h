#pragma once
// Password hashes: yescrypt through libcrypt (crypt_gensalt_rn and crypt_r, safe on any
// thread), the rules a new password must meet, and a comparison whose time does not
// depend on where two hashes first differ.

#include "core/outcome.h"

#include <QByteArray>
#include <QString>

namespace kelvaro::web {

// Longest password accepted, in bytes of UTF-8: libcrypt's own limit (it hashes nothing
// longer). A longer one is refused before any hashing, so a huge request costs nothing.
inline constexpr qsizetype PasswordMaxBytes = 511;

// yescrypt's cost: 0 takes libcrypt's default (about 50-100 ms a hash on a small
// computer); tests pass 1, the cheapest, to stay fast.
inline constexpr unsigned long DefaultHashCost = 0;

// Refuses an empty password, one longer than PasswordMaxBytes, and one holding a NUL
// character (libcrypt would hash only what comes before it).
Outcome<void> checkNewPassword(const QString& password);

// A yescrypt hash ("$y$...") of `password` with a fresh random salt.
Outcome<QByteArray> hashPassword(const QString& password, unsigned long cost = DefaultHashCost);

// Whether `password` hashes to `hash`. Costs one hash whatever the answer; a password
// breaking checkNewPassword's rules still costs one (against `hash`) and is never right.
bool passwordMatches(const QString& password, const QByteArray& hash);

// Refuses text that libcrypt cannot use as a stored hash, or a method too weak to accept
// (DES and the other legacy ones); otherwise any method libcrypt knows ("$y$", "$6$", ...).
Outcome<void> checkStoredHash(const QByteArray& hash);

// A setting of the same method and cost as hashPassword's, without any password behind it:
// checking a name that has no user against it costs as much as checking a real user.
QByteArray dummyHash(unsigned long cost = DefaultHashCost);

// Equal contents, compared in a time that depends only on the lengths.
bool constantTimeEquals(const QByteArray& a, const QByteArray& b);

} // namespace kelvaro::web
