// Reads and writes string values of the program's settings store from the
// command line, so scripts (the demo start, checks) need not know its file
// format. Usage:
//   tarnwick-settings get KEYPATH NAME
//   tarnwick-settings set KEYPATH NAME VALUE
// KEYPATH is relative to HKEY_CURRENT_USER, e.g. "Software\Kestrune\Quorlin".

#include "settings/registry.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const bool get = args.size() == 3 && args[0] == u"get";
    const bool set = args.size() == 4 && args[0] == u"set";
    if (!get && !set) {
        err << "usage: tarnwick-settings get KEYPATH NAME | set KEYPATH NAME VALUE\n";
        return 2;
    }
    try {
        settings::Registry reg(settings::RootKey::CurrentUser);
        if (get) {
            if (!reg.openKeyReadOnly(args[1]))
                return 1;
            out << reg.readString(args[2]) << '\n';
            return 0;
        }
        if (!reg.openKey(args[1], true)) {
            err << "cannot open key " << args[1] << '\n';
            return 1;
        }
        reg.writeString(args[2], args[3]);
        return 0;
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return 1;
    }
}
