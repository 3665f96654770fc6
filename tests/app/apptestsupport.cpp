#include "apptestsupport.h"

#include "registry.h"

TempSettings::TempSettings() {
    settings::setConfigDirectory(m_dir.path());
}

TempSettings::~TempSettings() {
    settings::setConfigDirectory({});
}
