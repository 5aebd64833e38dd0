#pragma once
// Random tokens for sessions and scripts: bytes from the system's random source
// (QRandomGenerator::system()), written in base64url without padding so that they fit a
// cookie, a header and a URL unchanged.

#include <QByteArray>
#include <QRandomGenerator>
#include <array>

namespace kelvaro::web {

// 32 random bytes: 43 characters of text.
inline QByteArray randomToken()
{
    std::array<quint32, 8> words = {};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof words);
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

inline constexpr qsizetype RandomTokenLength = 43;

// Whether `text` has the length and the characters of a randomToken(): checked before any
// look-up, so that nothing else reaches one.
inline bool looksLikeRandomToken(const QByteArray& text)
{
    if (text.size() != RandomTokenLength)
        return false;
    for (const char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace kelvaro::web
