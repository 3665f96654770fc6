#pragma once
// Integrated (SSPI) logins by Kerberos: the client's GSSAPI token from LOGIN7
// is checked against the service keys of a keytab, and the client principal
// is mapped to a Windows login of the server.

#include "testserver/wire.h"

#include <memory>
#include <string>
#include <vector>

namespace tds {

// Whether `path` is a keytab that holds at least one key; `error` says why not.
bool keytabUsable(const std::string& path, std::string& error);

// One security context on the server side, fed with the client's tokens.
class KerberosAcceptor {
public:
    explicit KerberosAcceptor(std::string keytab);
    ~KerberosAcceptor();
    KerberosAcceptor(const KerberosAcceptor&) = delete;
    KerberosAcceptor& operator=(const KerberosAcceptor&) = delete;

    enum class State { Complete, ContinueNeeded, Failed };
    // Takes the next client token; `reply` gets the token to send back
    // (empty when there is none).
    State step(const Bytes& token, Bytes& reply);
    // After Complete: the client principal, e.g. "alice@TDS.TEST".
    const std::string& principal() const { return m_principal; }
    // After Failed: the GSSAPI explanation, for the server's log.
    const std::string& error() const { return m_error; }

private:
    struct Context;
    std::string m_keytab;
    std::unique_ptr<Context> m_context;
    std::string m_principal;
    std::string m_error;
};

// The Windows form of a principal: "alice@TDS.TEST" becomes "TDS\alice" (the
// realm's first label is the domain's short name); anything else stays.
std::string windowsAccountName(const std::string& principal);

// The configured Windows login `principal` signs in as: a login given as the
// principal itself or in its DOMAIN\user form, compared without regard to
// case. Empty when none matches.
std::string windowsLoginFor(const std::string& principal, const std::vector<std::string>& logins);

} // namespace tds
