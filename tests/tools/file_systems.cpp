// Preloaded into a run, it answers as file systems other than a local disk
// do, by the words in KEST_FILE_SYSTEM:
//   nfs       an exclusive lock needs a descriptor open for writing
//   no-flags  renameat2 takes no flags
//   no-links  no hard links
// KEST_HOLD_FSYNC=TEXT:FOLDER holds the fsync of a file whose path holds
// TEXT until FOLDER/go exists, having made FOLDER/held.PID: a write caught
// between its data and its rename.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is(const char* word)
{
    const char* kinds = std::getenv("KEST_FILE_SYSTEM");
    return kinds && std::strstr(kinds, word);
}

}  // namespace

extern "C" int flock(int fd, int operation)
{
    if (is("nfs") && (operation & LOCK_EX) && (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

extern "C" int renameat2(int from, const char* old, int to, const char* name, unsigned flags)
{
    if (is("no-flags") && flags) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_renameat2, from, old, to, name, flags));
}

extern "C" int link(const char* old, const char* name)
{
    if (is("no-links")) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_linkat, AT_FDCWD, old, AT_FDCWD, name, 0));
}

extern "C" int fsync(int fd)
{
    const char* set = std::getenv("KEST_HOLD_FSYNC");
    const std::string hold = set ? set : "";
    const std::size_t colon = hold.find(':');
    char path[4096] = {};
    if (colon != std::string::npos &&
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1) > 0 &&
        std::strstr(path, hold.substr(0, colon).c_str())) {
        const std::string folder = hold.substr(colon + 1);
        ::close(::open((folder + "/held." + std::to_string(::getpid())).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        // A minute at most: a test that died leaves no run behind.
        for (int i = 0; i < 6000 && ::access((folder + "/go").c_str(), F_OK) != 0; ++i)
            ::usleep(10000);
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
