#pragma once

#include <fstream>
#include <string>

// A line of /proc/self/status in kB: "VmRSS" now, "VmHWM" the peak so far; -1 when it cannot be read.
inline long ProcessMemoryKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}
