#include "web/passwords.h"

#include <crypt.h>
#include <memory>

namespace kelvaro::web {

static_assert(PasswordMaxBytes == CRYPT_MAX_PASSPHRASE_SIZE - 1);

namespace {

// yescrypt's prefix; libcrypt picks the salt from the kernel's random source.
constexpr char YescryptPrefix[] = "$y$";

// crypt_r's working memory is about 32 KiB: on the heap, zeroed as libcrypt asks, one per
// call so that threads never share it.
QByteArray cryptWith(const QByteArray& phrase, const QByteArray& setting)
{
    auto data = std::make_unique<crypt_data>();
    const char* out = ::crypt_r(phrase.constData(), setting.constData(), data.get());
    // A failure is a null or a text starting with '*', which never equals a stored hash.
    if (out == nullptr || out[0] == '*')
        return {};
    return QByteArray(out);
}

QByteArray newSetting(unsigned long cost)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE] = {};
    if (::crypt_gensalt_rn(YescryptPrefix, cost, nullptr, 0, setting, sizeof setting) == nullptr)
        return {};
    return QByteArray(setting);
}

} // namespace

Outcome<void> checkNewPassword(const QString& password)
{
    if (password.isEmpty())
        return failure(QStringLiteral("the password is empty"));
    const QByteArray bytes = password.toUtf8();
    if (bytes.size() > PasswordMaxBytes)
        return failure(
            QStringLiteral("the password is longer than %1 bytes").arg(PasswordMaxBytes));
    if (bytes.contains('\0'))
        return failure(QStringLiteral("the password holds a NUL character"));
    return {};
}

Outcome<QByteArray> hashPassword(const QString& password, unsigned long cost)
{
    if (const Outcome<void> ok = checkNewPassword(password); !ok)
        return failure(ok.reason());
    const QByteArray setting = newSetting(cost);
    if (setting.isEmpty())
        return failure(QStringLiteral("cannot make a yescrypt salt with cost %1").arg(cost));
    QByteArray hash = cryptWith(password.toUtf8(), setting);
    if (hash.isEmpty())
        return failure(QStringLiteral("libcrypt cannot hash with yescrypt"));
    return hash;
}

bool passwordMatches(const QString& password, const QByteArray& hash)
{
    const bool acceptable = bool(checkNewPassword(password));
    // A refused password is hashed all the same (a short stand-in), so that it costs as
    // much as any other.
    const QByteArray phrase = acceptable ? password.toUtf8() : QByteArrayLiteral("-");
    const QByteArray computed = cryptWith(phrase, hash);
    return acceptable && !computed.isEmpty() && constantTimeEquals(computed, hash);
}

Outcome<void> checkStoredHash(const QByteArray& hash)
{
    if (hash.isEmpty())
        return failure(QStringLiteral("the password hash is empty"));
    switch (::crypt_checksalt(hash.constData())) {
    case CRYPT_SALT_OK:
        return {};
    case CRYPT_SALT_METHOD_LEGACY:
        return failure(QStringLiteral("the password hash uses a weak old method; set the "
                                      "password again to store a yescrypt hash"));
    default:
        return failure(QStringLiteral("the password hash is not one libcrypt can check "
                                      "(a yescrypt hash starts with $y$)"));
    }
}

QByteArray dummyHash(unsigned long cost)
{
    return newSetting(cost);
}

bool constantTimeEquals(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace kelvaro::web
