#include "export/pxlibrary.h"

#include "export/tableschema.h"

#include <dlfcn.h>
#include <mutex>

namespace exportfile {

namespace {

constexpr const char* kLibraryName = "libpx.so.0";

struct Loaded {
    PxLibrary api{};
    QString error; // empty when every function was found
};

template <typename F> bool resolve(void* handle, const char* name, F& into, QString& error) {
    into = reinterpret_cast<F>(dlsym(handle, name));
    if (!into && error.isEmpty())
        error = QStringLiteral("Die Funktion %1 fehlt in %2.")
                    .arg(QString::fromLatin1(name), QString::fromLatin1(kLibraryName));
    return into != nullptr;
}

Loaded load() {
    Loaded l;
    void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        l.error = QStringLiteral("Die Paradox-Bibliothek %1 kann nicht geladen werden: %2")
                      .arg(QString::fromLatin1(kLibraryName),
                           QString::fromLocal8Bit(reason ? reason : ""));
        return l;
    }
    PxLibrary& a = l.api;
#define TARNWICK_PX(name) resolve(handle, #name, a.name, l.error)
    TARNWICK_PX(PX_boot);
    TARNWICK_PX(PX_new3);
    TARNWICK_PX(PX_strdup);
    TARNWICK_PX(PX_create_fp);
    TARNWICK_PX(PX_set_tablename);
    TARNWICK_PX(PX_new_blob);
    TARNWICK_PX(PX_create_blob_file);
    TARNWICK_PX(PX_put_data_alpha);
    TARNWICK_PX(PX_put_data_double);
    TARNWICK_PX(PX_put_data_long);
    TARNWICK_PX(PX_put_data_short);
    TARNWICK_PX(PX_put_data_byte);
    TARNWICK_PX(PX_put_data_blob);
    TARNWICK_PX(PX_put_record);
    TARNWICK_PX(PX_close);
    TARNWICK_PX(PX_delete);
#undef TARNWICK_PX
    // The library stays loaded for the life of the process: documents may
    // still refer to its code, and loading it again would gain nothing.
    return l;
}

} // namespace

const PxLibrary& pxLibrary() {
    static const Loaded loaded = load();
    if (!loaded.error.isEmpty())
        throw ExportError(loaded.error);
    return loaded.api;
}

} // namespace exportfile
