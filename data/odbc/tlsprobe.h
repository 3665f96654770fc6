#pragma once
// Why a connection that had to be encrypted failed. The driver reports a
// server without TLS like an unreachable one and a refused certificate with
// no reason at all; these functions find out which it was and say so.

#include "data/dataerror.h"
#include "data/odbc/odbctranslate.h"

#include <QByteArray>

namespace data::odbc {

enum class ServerEncryption { Unknown, NotOffered, Offered };

// The PRELOGIN request the probe sends (asks for nothing, says "can encrypt").
QByteArray preloginProbe();
// The ENCRYPTION answer in a server's PRELOGIN reply packet; Unknown when the
// bytes are not one.
ServerEncryption encryptionInReply(const QByteArray& reply);

// Connects to host:port, sends the PRELOGIN alone (no credentials) and reads
// the answer; Unknown when the server cannot be reached within the time-out.
ServerEncryption probeServerEncryption(const QString& host, int port, int timeoutMs);

// The error to raise for a failed connect: the driver's error as it is, or a
// text that names the encryption setting that refused the server.
ConnectionError explainConnectFailure(const ConnectionError& error, const OdbcTarget& target,
                                      const DriverSettings& settings);

} // namespace data::odbc
