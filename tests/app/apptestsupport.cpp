#include "tests/app/apptestsupport.h"

#include "settings/registry.h"

TempSettings::TempSettings() {
    settings::setConfigDirectory(m_dir.path());
}

TempSettings::~TempSettings() {
    settings::setConfigDirectory({});
}
