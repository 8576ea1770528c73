#pragma once

#include <cstdio>
#include <string>

// One run of kest-headless with its log and standard error; prefix runs in
// the shell first (limits for the run), streams sends them elsewhere.
// status is as waitpid answers it.
struct HeadlessRun {
    int status = -1;
    std::string output;
};

inline HeadlessRun runHeadless(const std::string& arguments, const std::string& prefix = "",
                               const std::string& streams = "2>&1")
{
    const std::string command =
        prefix + "exec " + std::string(KEST_BINARY_DIR) + "/tools/kest-headless " + arguments + " " + streams;
    HeadlessRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[65536];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    run.status = pclose(pipe);
    return run;
}
