#pragma once
// Command line of tds-testserver.

#include "testserver/server.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tds {

struct CommandLine {
    ServerOptions server;
    bool sample = false;
    std::int64_t bigRows = -1;   // -1 = leave the table alone
    bool exitWithParent = false; // stop when the process that started it dies
};

// Parses argv; on a mistake returns false and sets `error`.
bool parseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);
const char* usageText();

} // namespace tds
