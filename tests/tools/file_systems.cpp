// Preloaded into a run, it answers as file systems other than a local disk
// do, by the words in KEST_FILE_SYSTEM:
//   nfs        an exclusive lock needs a descriptor open for writing
//   no-flags   renameat2 takes no flags
//   read-only  a file opened again through /proc for writing refuses it
// KEST_HOLD_FSYNC=TEXT:FOLDER holds the fsync of a file whose path holds
// TEXT until FOLDER/go exists, having made FOLDER/held.PID: a write caught
// between its data and its rename. KEST_HOLD_FLOCK does so for the lock of
// a file whose path ends with TEXT, until FOLDER/go.flock exists.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is(const char* word)
{
    const char* kinds = std::getenv("KEST_FILE_SYSTEM");
    return kinds && std::strstr(kinds, word);
}

int refused(int error)
{
    errno = error;
    return -1;
}

void hold(int fd, const char* variable, bool ending, const char* go)
{
    const char* set = std::getenv(variable);
    const std::string value = set ? set : "";
    const std::size_t colon = value.find(':');
    char path[4096] = {};
    if (colon == std::string::npos ||
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1) <= 0)
        return;
    const std::string text = value.substr(0, colon), named = path;
    if (text.empty() || (ending ? !named.ends_with(text) : named.find(text) == std::string::npos))
        return;
    const std::string folder = value.substr(colon + 1);
    ::close(::open((folder + "/held." + std::to_string(::getpid())).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    // A minute at most: a test that died leaves no run behind.
    for (int i = 0; i < 6000 && ::access((folder + go).c_str(), F_OK) != 0; ++i)
        ::usleep(10000);
}

}  // namespace

extern "C" int flock(int fd, int operation)
{
    if (is("nfs") && (operation & LOCK_EX) && (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY)
        return refused(EBADF);
    hold(fd, "KEST_HOLD_FLOCK", true, "/go.flock");
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

extern "C" int renameat2(int from, const char* old, int to, const char* name, unsigned flags)
{
    if (is("no-flags") && flags)
        return refused(EINVAL);
    return static_cast<int>(::syscall(SYS_renameat2, from, old, to, name, flags));
}

extern "C" int open(const char* path, int flags, ...)
{
    unsigned mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, unsigned);
        va_end(arguments);
    }
    if (is("read-only") && (flags & O_ACCMODE) != O_RDONLY && std::strncmp(path, "/proc/self/fd/", 14) == 0)
        return refused(EACCES);
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));

extern "C" int fsync(int fd)
{
    hold(fd, "KEST_HOLD_FSYNC", false, "/go");
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
