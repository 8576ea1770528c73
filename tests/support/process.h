#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

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

// Starts a program (found on PATH) in folder when one is given, with its
// standard output and error going to the file output when one is given,
// and the descriptor kept open in it alone, in a process group of its own
// with ownGroup; -1 when it cannot start.
inline pid_t spawn(const std::vector<std::string>& arguments, const std::string& folder = "",
                   const std::string& output = "", int kept = -1, bool ownGroup = false)
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    if (!output.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    if (kept >= 0)
        posix_spawn_file_actions_adddup2(&actions, kept, kept);  // clears its close-on-exec
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// A command run with stand-ins preloaded (libraries, as LD_PRELOAD lists
// them) and the variables given set.
inline std::vector<std::string> preloaded(std::vector<std::string> command, const std::string& libraries,
                                          std::vector<std::string> variables = {})
{
    const char* options = std::getenv("ASAN_OPTIONS");
    variables.insert(variables.begin(), {"env", "LD_PRELOAD=" + libraries,
                                         std::string("ASAN_OPTIONS=") + (options ? options : "") +
                                             ":verify_asan_link_order=0"});
    command.insert(command.begin(), variables.begin(), variables.end());
    return command;
}

#ifdef KEST_NO_LOCKS
// A command run as on a file system that takes no locks: a stand-in for
// flock, preloaded, fails as one does.
inline std::vector<std::string> withoutLocks(std::vector<std::string> command)
{
    return preloaded(std::move(command), KEST_NO_LOCKS);
}
#endif

// Waits for a process started here; false when it is still running then.
inline bool waitFor(pid_t pid, std::chrono::milliseconds limit, int* status = nullptr)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    int st = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (waitpid(pid, &st, WNOHANG) == pid) {
            if (status)
                *status = st;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
