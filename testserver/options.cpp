#include "testserver/options.h"

#include <map>

#include <charconv>

namespace tds {

namespace {

bool toInt(const std::string& s, std::int64_t min, std::int64_t max, std::int64_t& out) {
    const char* end = s.data() + s.size();
    const auto [p, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && p == end && out >= min && out <= max;
}

} // namespace

const char* usageText() {
    return "usage: tds-testserver --data DIR --port N [--browser-port M] [--instance NAME]\n"
           "                      [--login NAME:PASSWORD]... [--sample] [--big-rows N]\n"
           "                      [--exit-with-parent]\n"
           "                      [--bind ADDR] [--kerberos-keytab FILE]\n"
           "                      [--windows-login PRINCIPAL]... [--tds-version 7.1|7.2|7.3|7.4]\n"
           "                      [--tls-cert FILE --tls-key FILE] [--encrypt off|on|required]\n";
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
    bool havePort = false;
    bool haveEncrypt = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        std::int64_t n = 0;
        if (a == "--data") {
            if (!value(v))
                return false;
            out.server.config.dataDir = v;
        } else if (a == "--port") {
            if (!value(v))
                return false;
            if (!toInt(v, 0, 65535, n)) {
                error = "invalid port " + v;
                return false;
            }
            out.server.port = int(n);
            havePort = true;
        } else if (a == "--browser-port") {
            if (!value(v))
                return false;
            if (!toInt(v, 0, 65535, n)) {
                error = "invalid browser port " + v;
                return false;
            }
            out.server.browserPort = int(n);
        } else if (a == "--instance") {
            if (!value(v))
                return false;
            if (v.empty() || v.size() > 16 || v.find_first_of(";\\ ") != std::string::npos) {
                error = "invalid instance name " + v;
                return false;
            }
            out.server.config.instanceName = v;
        } else if (a == "--login") {
            if (!value(v))
                return false;
            const auto colon = v.find(':');
            if (colon == std::string::npos || colon == 0) {
                error = "--login wants NAME:PASSWORD";
                return false;
            }
            out.server.config.logins[v.substr(0, colon)] = v.substr(colon + 1);
        } else if (a == "--kerberos-keytab") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = "--kerberos-keytab wants a file";
                return false;
            }
            out.server.config.kerberosKeytab = v;
        } else if (a == "--windows-login") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = "--windows-login wants DOMAIN\\user or user@REALM";
                return false;
            }
            out.server.config.windowsLogins.push_back(v);
        } else if (a == "--sample") {
            out.sample = true;
        } else if (a == "--exit-with-parent") {
            out.exitWithParent = true;
        } else if (a == "--big-rows") {
            if (!value(v))
                return false;
            if (!toInt(v, 0, INT64_MAX, n)) {
                error = "invalid row count " + v;
                return false;
            }
            out.bigRows = n;
        } else if (a == "--tds-version") {
            // An older server: its TDS version, and the product version that
            // shipped with it (SQL Server 2000, 2005, 2008, 2012).
            static const std::map<std::string, std::pair<std::uint32_t, const char*>> versions = {
                {"7.1", {0x71000001, "8.00.2039"}},
                {"7.2", {0x72090002, "9.00.1399.06"}},
                {"7.3", {0x730B0003, "10.00.1600.22"}},
                {"7.4", {0x74000004, "11.00.2100.60"}}};
            if (!value(v))
                return false;
            const auto it = versions.find(v);
            if (it == versions.end()) {
                error = "--tds-version wants 7.1, 7.2, 7.3 or 7.4";
                return false;
            }
            out.server.config.tdsVersion = it->second.first;
            out.server.config.productVersion = it->second.second;
        } else if (a == "--bind") {
            if (!value(v))
                return false;
            out.server.bindAddress = v;
        } else if (a == "--tls-cert") {
            if (!value(out.server.tlsCertFile))
                return false;
        } else if (a == "--tls-key") {
            if (!value(out.server.tlsKeyFile))
                return false;
        } else if (a == "--encrypt") {
            if (!value(v))
                return false;
            if (v == "off")
                out.server.encryption = EncryptionMode::Off;
            else if (v == "on")
                out.server.encryption = EncryptionMode::On;
            else if (v == "required")
                out.server.encryption = EncryptionMode::Required;
            else {
                error = "--encrypt wants off, on or required, not " + v;
                return false;
            }
            haveEncrypt = true;
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    if (out.server.config.dataDir.empty()) {
        error = "--data is required";
        return false;
    }
    if (!havePort) {
        error = "--port is required";
        return false;
    }
    if (out.server.tlsCertFile.empty() != out.server.tlsKeyFile.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    if (out.server.tlsCertFile.empty() && haveEncrypt) {
        error = "--encrypt needs --tls-cert and --tls-key";
        return false;
    }
    // A certificate alone offers encryption without demanding it.
    if (!out.server.tlsCertFile.empty() && !haveEncrypt)
        out.server.encryption = EncryptionMode::Off;
    return true;
}

} // namespace tds
