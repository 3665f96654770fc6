#include "data/odbc/odbcapi.h"

#include "data/dataerror.h"

#include <dlfcn.h>

namespace data::odbc {

namespace {

// unixODBC's library; the unversioned name only where a development
// installation has nothing else.
constexpr const char* kLibraryNames[] = {"libodbc.so.2", "libodbc.so"};

DriverManager load() {
    void* library = nullptr;
    QString why;
    for (const char* name : kLibraryNames) {
        // Global, as a linked library would be: drivers may look up the
        // driver manager's symbols.
        library = dlopen(name, RTLD_NOW | RTLD_GLOBAL);
        if (library)
            break;
        if (why.isEmpty())
            why = QString::fromLocal8Bit(dlerror());
    }
    if (!library)
        throw ConnectionError(QStringLiteral("ODBC-Treiber-Manager kann nicht geladen werden: ") +
                              why);

    DriverManager api;
#define TARNWICK_ODBC_RESOLVE(name)                                                                \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, #name));                        \
    if (!api.name)                                                                                 \
        throw ConnectionError(QStringLiteral("ODBC-Treiber-Manager ohne Funktion " #name));
    TARNWICK_ODBC_ENTRY_POINTS(TARNWICK_ODBC_RESOLVE)
#undef TARNWICK_ODBC_RESOLVE
    // The library stays loaded for the rest of the run: handles outlive any
    // one connection object.
    return api;
}

} // namespace

const DriverManager& driverManager() {
    // Initialised once, under the language's own lock; a failed load leaves
    // it uninitialised, so the next call tries again.
    static const DriverManager api = load();
    return api;
}

} // namespace data::odbc
