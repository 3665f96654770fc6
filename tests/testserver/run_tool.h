#pragma once
// Runs a command-line client (tsql, bsqldb) with a deadline and collects
// what it printed.

#include <chrono>
#include <string>
#include <vector>

struct ToolResult {
    int exitCode = -1; // -1 when killed at the deadline
    std::string out;
    std::string err;
};

ToolResult runTool(const std::vector<std::string>& argv, const std::string& input,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20),
                   const std::vector<std::string>& extraEnv = {});

// Number of non-overlapping occurrences of `needle` in `text`.
int countOf(const std::string& text, const std::string& needle);
