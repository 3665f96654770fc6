#include "testserver/kerberos.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>

#include <algorithm>
#include <cctype>

namespace tds {

namespace {

std::string statusText(OM_uint32 status, int type) {
    std::string text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc buf = GSS_C_EMPTY_BUFFER;
        if (GSS_ERROR(gss_display_status(&minor, status, type, GSS_C_NO_OID, &context, &buf)))
            break;
        if (!text.empty())
            text += "; ";
        text.append(static_cast<const char*>(buf.value), buf.length);
        gss_release_buffer(&minor, &buf);
    } while (context != 0);
    return text;
}

std::string gssError(OM_uint32 major, OM_uint32 minor) {
    std::string text = statusText(major, GSS_C_GSS_CODE);
    if (minor != 0)
        text += ": " + statusText(minor, GSS_C_MECH_CODE);
    return text;
}

// Acceptor credentials for every service key in the keytab; the client's
// ticket picks the key it was made for.
bool acquireFromKeytab(const std::string& keytab, gss_cred_id_t& cred, std::string& error) {
    gss_key_value_element_desc element{"keytab", keytab.c_str()};
    gss_key_value_set_desc store{1, &element};
    OM_uint32 minor = 0;
    const OM_uint32 major =
        gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET,
                              GSS_C_ACCEPT, &store, &cred, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        error = gssError(major, minor);
        cred = GSS_C_NO_CREDENTIAL;
        return false;
    }
    return true;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

} // namespace

bool keytabUsable(const std::string& path, std::string& error) {
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    if (!acquireFromKeytab("FILE:" + path, cred, error))
        return false;
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &cred);
    return true;
}

struct KerberosAcceptor::Context {
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    ~Context() {
        OM_uint32 minor = 0;
        if (ctx != GSS_C_NO_CONTEXT)
            gss_delete_sec_context(&minor, &ctx, GSS_C_NO_BUFFER);
        if (cred != GSS_C_NO_CREDENTIAL)
            gss_release_cred(&minor, &cred);
    }
};

KerberosAcceptor::KerberosAcceptor(std::string keytab)
    : m_keytab("FILE:" + std::move(keytab)), m_context(std::make_unique<Context>()) {}

KerberosAcceptor::~KerberosAcceptor() = default;

KerberosAcceptor::State KerberosAcceptor::step(const Bytes& token, Bytes& reply) {
    reply.clear();
    // The keytab is read for each login, so keys added while the server
    // runs are honoured.
    if (m_context->cred == GSS_C_NO_CREDENTIAL &&
        !acquireFromKeytab(m_keytab, m_context->cred, m_error))
        return State::Failed;
    gss_buffer_desc input{token.size(), const_cast<std::uint8_t*>(token.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    gss_name_t client = GSS_C_NO_NAME;
    OM_uint32 minor = 0;
    const OM_uint32 major = gss_accept_sec_context(&minor, &m_context->ctx, m_context->cred, &input,
                                                   GSS_C_NO_CHANNEL_BINDINGS, &client, nullptr,
                                                   &output, nullptr, nullptr, nullptr);
    if (output.length > 0) {
        const auto* p = static_cast<const std::uint8_t*>(output.value);
        reply.assign(p, p + output.length);
    }
    OM_uint32 ignored = 0;
    gss_release_buffer(&ignored, &output);
    if (GSS_ERROR(major)) {
        m_error = gssError(major, minor);
        if (client != GSS_C_NO_NAME)
            gss_release_name(&ignored, &client);
        return State::Failed;
    }
    if (major & GSS_S_CONTINUE_NEEDED) {
        if (client != GSS_C_NO_NAME)
            gss_release_name(&ignored, &client);
        return State::ContinueNeeded;
    }
    gss_buffer_desc name = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_name(&minor, client, &name, nullptr))) {
        m_error = "the client's name cannot be displayed";
        gss_release_name(&ignored, &client);
        return State::Failed;
    }
    m_principal.assign(static_cast<const char*>(name.value), name.length);
    gss_release_buffer(&ignored, &name);
    gss_release_name(&ignored, &client);
    return State::Complete;
}

std::string windowsAccountName(const std::string& principal) {
    const auto at = principal.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 >= principal.size())
        return principal;
    const std::string realm = principal.substr(at + 1);
    return realm.substr(0, realm.find('.')) + "\\" + principal.substr(0, at);
}

std::string windowsLoginFor(const std::string& principal, const std::vector<std::string>& logins) {
    const std::string full = lower(principal);
    const std::string account = lower(windowsAccountName(principal));
    for (const std::string& login : logins) {
        const std::string l = lower(login);
        if (l == full || l == account)
            return login;
    }
    return {};
}

} // namespace tds
