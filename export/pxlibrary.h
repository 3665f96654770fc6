#pragma once
// pxlib, the Paradox table library, loaded when the first Paradox table is
// written. Linking it into the program would load it and the fifteen or so
// libraries it depends on at every start of the workbench, for a format that
// most sessions never write.

extern "C" {
#include <paradox.h>
}

namespace exportfile {

struct PxLibrary {
    decltype(&::PX_boot) PX_boot;
    decltype(&::PX_new3) PX_new3;
    decltype(&::PX_strdup) PX_strdup;
    decltype(&::PX_create_fp) PX_create_fp;
    decltype(&::PX_set_tablename) PX_set_tablename;
    decltype(&::PX_new_blob) PX_new_blob;
    decltype(&::PX_create_blob_file) PX_create_blob_file;
    decltype(&::PX_put_data_alpha) PX_put_data_alpha;
    decltype(&::PX_put_data_double) PX_put_data_double;
    decltype(&::PX_put_data_long) PX_put_data_long;
    decltype(&::PX_put_data_short) PX_put_data_short;
    decltype(&::PX_put_data_byte) PX_put_data_byte;
    decltype(&::PX_put_data_blob) PX_put_data_blob;
    decltype(&::PX_put_record) PX_put_record;
    decltype(&::PX_close) PX_close;
    decltype(&::PX_delete) PX_delete;
};

// The loaded library; throws ExportError (naming the library and the
// system's reason) when it cannot be loaded or lacks a function.
const PxLibrary& pxLibrary();

} // namespace exportfile
