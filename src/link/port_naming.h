#pragma once
// Which serial device a port number of the settings names.

#include <QString>

namespace kelvaro {

// Device for port number `port` (1 is the first port). Windows: "COMN" (1..255).
// Elsewhere, first match wins: (1) a file or symbolic link named "comN" (lower case, as
// Wine's dosdevices) in `folder`, beside Settings.txt, returned as its absolute path, so an
// operator can point port 1 at any device with `ln -s /dev/ttyUSB0 com1`; a link whose
// target is missing still wins, so the operator learns that the device is missing;
// (2) ports 1-32 are /dev/ttyS0-31, 33-64 /dev/ttyUSB0-31, 65-96 /dev/ttyACM0-31.
// Empty text for any other number (0, negative, above 96 without a "comN" entry).
QString portDeviceName(int port, const QString& folder);

} // namespace kelvaro
