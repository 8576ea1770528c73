#pragma once

#include <cstdio>
#include <string>

// Runs a shell command and answers what it wrote to standard output.
inline std::string runCommand(const std::string& command)
{
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}
