// Sample databases: "Musterfirma" with related tables, pictures and long
// texts, and the big table Messwerte.

#include "engine.h"

namespace tds {

void createSampleDatabase(const std::string&)
{
}

void createBigRows(const std::string&, std::int64_t)
{
}

} // namespace tds
