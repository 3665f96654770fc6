#include "data/odbc/kerberos.h"

#include <QStringList>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>
#include <netdb.h>

#include <cstring>

namespace data::odbc {

namespace {

QString statusText(OM_uint32 status, int type) {
    QStringList parts;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc buf = GSS_C_EMPTY_BUFFER;
        if (GSS_ERROR(gss_display_status(&minor, status, type, GSS_C_NO_OID, &context, &buf)))
            break;
        parts << QString::fromUtf8(static_cast<const char*>(buf.value), qsizetype(buf.length));
        gss_release_buffer(&minor, &buf);
    } while (context != 0);
    return parts.join(QStringLiteral("; "));
}

QString nameText(gss_name_t name) {
    OM_uint32 minor = 0;
    gss_buffer_desc buf = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_name(&minor, name, &buf, nullptr)))
        return {};
    const QString text =
        QString::fromUtf8(static_cast<const char*>(buf.value), qsizetype(buf.length));
    gss_release_buffer(&minor, &buf);
    return text;
}

// The owner of the default ticket cache, whether or not its tickets are
// still valid; empty when there is no cache.
QString cachePrincipal() {
    krb5_context context = nullptr;
    if (krb5_init_context(&context) != 0)
        return {};
    QString name;
    krb5_ccache cache = nullptr;
    if (krb5_cc_default(context, &cache) == 0) {
        krb5_principal principal = nullptr;
        if (krb5_cc_get_principal(context, cache, &principal) == 0) {
            char* text = nullptr;
            if (krb5_unparse_name(context, principal, &text) == 0) {
                name = QString::fromUtf8(text);
                krb5_free_unparsed_name(context, text);
            }
            krb5_free_principal(context, principal);
        }
        krb5_cc_close(context, cache);
    }
    krb5_free_context(context);
    return name;
}

QString kinitHint(const QString& principal) {
    return QStringLiteral("kinit %1")
        .arg(principal.isEmpty() ? QStringLiteral("benutzer@REALM") : principal);
}

QString noTicket() {
    return QStringLiteral("Für die Windows-Authentifizierung wurde kein Kerberos-Ticket gefunden. "
                          "Holen Sie mit \"%1\" ein Ticket und verbinden Sie sich erneut.")
        .arg(kinitHint({}));
}

QString expired(QString principal) {
    if (principal.isEmpty())
        principal = cachePrincipal();
    return QStringLiteral("Das Kerberos-Ticket%1 ist abgelaufen. Erneuern Sie es mit \"%2\" "
                          "und verbinden Sie sich erneut.")
        .arg(principal.isEmpty() ? QString() : QStringLiteral(" von ") + principal,
             kinitHint(principal));
}

// The text for a failed Kerberos call, by the Kerberos error code behind it.
QString explain(OM_uint32 major, OM_uint32 minor, const QString& principal, const QString& spn) {
    switch (krb5_error_code(minor)) {
    case KRB5_FCC_NOFILE:
    case KRB5_CC_NOTFOUND:
        return noTicket();
    case KRB5KRB_AP_ERR_TKT_EXPIRED:
        return expired(principal);
    case KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN:
        return QStringLiteral(
                   "Der Kerberos-Server (KDC) kennt den Dienstprinzipal \"%1\" des SQL Servers "
                   "nicht. Geben Sie den Server unter dem Namen an, für den sein "
                   "Dienstprinzipal eingetragen ist (meist der volle DNS-Name), oder lassen Sie "
                   "den Dienstprinzipal beim KDC eintragen.")
            .arg(spn);
    case KRB5_KDC_UNREACH:
    case KRB5_REALM_CANT_RESOLVE:
        return QStringLiteral("Der Kerberos-Server (KDC) ist nicht erreichbar. Prüfen Sie die "
                              "Netzverbindung und den Eintrag \"kdc\" des Bereichs in "
                              "krb5.conf.");
    case KRB5_CONFIG_NODEFREALM:
    case KRB5_REALM_UNKNOWN:
        return QStringLiteral("Kerberos ist auf diesem Rechner nicht eingerichtet: krb5.conf nennt "
                              "keinen Bereich (default_realm) mit seinem KDC.");
    case KRB5KRB_AP_ERR_SKEW:
        return QStringLiteral("Die Uhr dieses Rechners weicht zu weit von der des "
                              "Kerberos-Servers ab. Stellen Sie die Uhrzeit richtig und "
                              "verbinden Sie sich erneut.");
    default:
        break;
    }
    if (major == GSS_S_CREDENTIALS_EXPIRED)
        return expired(principal);
    if (major == GSS_S_NO_CRED)
        return noTicket();
    QString detail = statusText(major, GSS_C_GSS_CODE);
    if (minor != 0)
        detail += QStringLiteral(": ") + statusText(minor, GSS_C_MECH_CODE);
    return QStringLiteral("Die Windows-Authentifizierung über Kerberos ist fehlgeschlagen (%1).")
        .arg(detail);
}

} // namespace

QString servicePrincipalName(const QString& host, int port) {
    QString name = host;
    if (!host.contains(QLatin1Char('.'))) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_V4MAPPED | AI_ADDRCONFIG | AI_CANONNAME;
        addrinfo* found = nullptr;
        const QByteArray h = host.toUtf8();
        if (getaddrinfo(h.constData(), nullptr, &hints, &found) == 0) {
            if (found->ai_canonname && std::strchr(found->ai_canonname, '.'))
                name = QString::fromUtf8(found->ai_canonname);
            freeaddrinfo(found);
        }
    }
    return QStringLiteral("MSSQLSvc/%1:%2").arg(name).arg(port);
}

QString kerberosProblem(const QString& host, int port) {
    OM_uint32 minor = 0;
    // The user's own ticket first: none, or expired.
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET,
                                       GSS_C_INITIATE, &cred, nullptr, nullptr);
    if (GSS_ERROR(major))
        return explain(major, minor, {}, {});
    QString principal;
    gss_name_t self = GSS_C_NO_NAME;
    OM_uint32 lifetime = 0;
    major = gss_inquire_cred(&minor, cred, &self, &lifetime, nullptr, nullptr);
    if (self != GSS_C_NO_NAME) {
        principal = nameText(self);
        OM_uint32 ignored = 0;
        gss_release_name(&ignored, &self);
    }
    OM_uint32 ignored = 0;
    gss_release_cred(&ignored, &cred);
    if (GSS_ERROR(major))
        return explain(major, minor, principal, {});
    if (lifetime == 0)
        return expired(principal);
    if (port <= 0)
        return {};

    // Then the service ticket for the server, asked for as the driver asks.
    const QString spn = servicePrincipalName(host, port);
    const QByteArray spnBytes = spn.toUtf8();
    gss_buffer_desc nameBuf{std::size_t(spnBytes.size()), const_cast<char*>(spnBytes.data())};
    gss_name_t target = GSS_C_NO_NAME;
    major = gss_import_name(&minor, &nameBuf, GSS_KRB5_NT_PRINCIPAL_NAME, &target);
    if (GSS_ERROR(major))
        return explain(major, minor, principal, spn);
    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_buffer_desc token = GSS_C_EMPTY_BUFFER;
    major = gss_init_sec_context(&minor, GSS_C_NO_CREDENTIAL, &context, target, GSS_C_NO_OID,
                                 GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_INTEG_FLAG, 0,
                                 GSS_C_NO_CHANNEL_BINDINGS, GSS_C_NO_BUFFER, nullptr, &token,
                                 nullptr, nullptr);
    gss_release_buffer(&ignored, &token);
    if (context != GSS_C_NO_CONTEXT)
        gss_delete_sec_context(&ignored, &context, GSS_C_NO_BUFFER);
    gss_release_name(&ignored, &target);
    if (GSS_ERROR(major))
        return explain(major, minor, principal, spn);
    return {};
}

} // namespace data::odbc
