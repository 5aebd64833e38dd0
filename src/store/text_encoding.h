#pragma once
// How the program's text files turn into characters and back. Files are written as UTF-8,
// so any character an operator can choose survives; a file that is not valid UTF-8 was
// written by the original Windows program and is read as Windows-1252.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kelvaro {

// Whether `bytes` is well-formed UTF-8 (NUL bytes included).
bool isValidUtf8(QByteArrayView bytes);

// Windows-1252: 0x80-0x9F per the code page (the five unassigned bytes keep their C1
// code points, as Windows maps them), every other byte as Latin-1.
QString decodeWindows1252(QByteArrayView bytes);

// UTF-8 when `bytes` is valid UTF-8 (a leading byte-order mark is dropped), otherwise
// Windows-1252. Decide over the whole file, not per line, so one file gets one encoding.
QString decodeFileText(QByteArrayView bytes);

// The bytes written for `text`: UTF-8, without a byte-order mark.
QByteArray encodeFileText(QStringView text);

} // namespace kelvaro
