#include "tools/headless_output.h"

#include "tools/headless_signals.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

bool sameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void storeLe(u8* at, u32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<u8>(value >> (8 * i));
}

}  // namespace

OutputFile::~OutputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

bool OutputFile::fail(const char* reason)
{
    if (m_error.empty())
        m_error = "'" + m_path + "': " + reason;
    return false;
}

bool OutputFile::failErrno()
{
    return fail(std::strerror(errno));
}

bool OutputFile::open()
{
    if (m_path.empty())
        return fail("empty path");
    struct stat info;
    if (::stat(m_path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return fail("is a folder");
        // Without blocking, a FIFO nobody reads is an error, not a hang.
        if (!S_ISREG(info.st_mode))
            return openInPlace(m_path, O_NONBLOCK);
        char resolved[PATH_MAX];
        if (!::realpath(m_path.c_str(), resolved))
            return failErrno();
        m_target = resolved;
    } else if (errno == ENOENT) {
        // A rename over a link to nothing would put a plain file in its place.
        if (isDanglingLink(m_path))
            return fail(kDanglingLink);
        m_target = m_path;
    } else {
        return failErrno();
    }
    m_sync = true;
    // A short name of its own: the output's name may be as long as the
    // folder allows, and a hidden one stays out of listings.
    static u32 counter = 0;
    const std::string name = ".kest-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    m_temporary = (std::filesystem::path(m_target).parent_path() / name).string();
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        const int why = errno;
        m_temporary.clear();
        // A folder that takes no new file may still hold a writable output.
        struct stat old;
        if (::stat(m_target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            return openInPlace(m_target, O_TRUNC);
        return fail(std::strerror(why));
    }
    // The new file keeps the permissions the user gave the old one.
    struct stat old;
    if (::stat(m_target.c_str(), &old) == 0 && ::fchmod(m_fd, old.st_mode & 07777) != 0)
        return failErrno();
    return true;
}

bool OutputFile::openInPlace(const std::string& path, int flags)
{
    m_fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
    if (m_fd < 0)
        return failErrno();
    if (flags & O_NONBLOCK) {
        const int now = ::fcntl(m_fd, F_GETFL);
        if (now < 0 || ::fcntl(m_fd, F_SETFL, now & ~O_NONBLOCK) < 0)
            return failErrno();
    }
    return true;
}

bool OutputFile::write(const void* data, std::size_t size)
{
    if (m_fd < 0)
        return fail("not open");
    const auto* bytes = static_cast<const u8*>(data);
    while (size > 0) {
        const ssize_t put = ::write(m_fd, bytes, size);
        // A stop signal ends a write that waits on a pipe.
        if (put < 0 && errno == EINTR && !stopSignal())
            continue;
        if (put < 0)
            return failErrno();
        if (put == 0)
            return fail("nothing written");
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool OutputFile::rewrite(u64 offset, const void* data, std::size_t size)
{
    if (m_fd < 0)
        return fail("not open");
    const ssize_t put = ::pwrite(m_fd, data, size, static_cast<off_t>(offset));
    if (put < 0 && errno == ESPIPE)
        return true;
    if (put < 0)
        return failErrno();
    return static_cast<std::size_t>(put) == size || fail("short write");
}

bool OutputFile::commit()
{
    if (m_fd < 0)
        return fail("not open");
    // A full disk may only show when the data reaches it.
    bool ok = !m_sync || ::fsync(m_fd) == 0 || failErrno();
    const int fd = m_fd;
    m_fd = -1;
    ok = (::close(fd) == 0 || failErrno()) && ok;
    if (!ok || m_temporary.empty())
        return ok;
    if (::rename(m_temporary.c_str(), m_target.c_str()) == 0) {
        m_temporary.clear();
        return true;
    }
    // An output that is a mount of its own (a bind-mounted file) cannot be
    // renamed over, but it can still be written.
    return copyInPlace();
}

bool OutputFile::copyInPlace()
{
    const int from = ::open(m_temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return failErrno();
    bool ok = openInPlace(m_target, O_TRUNC);
    std::vector<u8> buffer(1 << 16);
    while (ok) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0 || failErrno();
            break;
        }
        ok = write(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(from);
    if (m_fd >= 0) {
        ok = (::fsync(m_fd) == 0 || failErrno()) && ok;
        ok = (::close(m_fd) == 0 || failErrno()) && ok;
        m_fd = -1;
    }
    ::unlink(m_temporary.c_str());
    m_temporary.clear();
    return ok;
}

bool writeOutput(const std::string& path, const void* data, std::size_t size, std::string& error)
{
    OutputFile file(path);
    const bool ok = file.open() && file.write(data, size) && file.commit();
    error = file.error();
    return ok;
}

bool WavOutput::open()
{
    constexpr u32 kRate = 44100;
    constexpr u32 kChannels = 2;
    u8 header[kHeaderBytes] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    storeLe(header + 16, 16, 4);
    storeLe(header + 20, 1, 2);  // PCM
    storeLe(header + 22, kChannels, 2);
    storeLe(header + 24, kRate, 4);
    storeLe(header + 28, kRate * kChannels * 2, 4);
    storeLe(header + 32, kChannels * 2, 2);
    storeLe(header + 34, 16, 2);
    std::memcpy(header + 36, "data", 4);
    // Sizes for a reader that cannot wait for the end (a pipe): as large as
    // the format allows; a file gets the true ones at commit.
    storeLe(header + 4, 0xFFFFFFFFu, 4);
    storeLe(header + 40, static_cast<u32>(kFormatLimitBytes), 4);
    return m_file.open() && m_file.write(header, sizeof header);
}

bool WavOutput::append(const s16* samples, u32 pairs)
{
    const u64 room = (m_limitBytes - m_dataBytes) / 4;
    const u32 taken = pairs < room ? pairs : static_cast<u32>(room);
    m_droppedPairs += pairs - taken;
    if (taken == 0)
        return true;
    m_bytes.resize(static_cast<std::size_t>(taken) * 4);
    for (u32 i = 0; i < 2 * taken; ++i) {
        const u16 v = static_cast<u16>(samples[i]);
        m_bytes[2 * i] = static_cast<u8>(v);
        m_bytes[2 * i + 1] = static_cast<u8>(v >> 8);
    }
    m_dataBytes += m_bytes.size();
    return m_file.write(m_bytes.data(), m_bytes.size());
}

bool WavOutput::commit()
{
    u8 size[4];
    storeLe(size, static_cast<u32>(kHeaderBytes - 8 + m_dataBytes), 4);
    bool ok = m_file.rewrite(4, size, 4);
    storeLe(size, static_cast<u32>(m_dataBytes), 4);
    ok = ok && m_file.rewrite(40, size, 4) && m_file.commit();
    if (ok && m_droppedPairs > 0) {
        m_error = "'" + m_file.path() + "': a WAV file holds at most " + std::to_string(m_limitBytes) +
                  " bytes of sound; the last " + std::to_string(m_droppedPairs) + " samples were left out";
        return false;
    }
    return ok;
}

std::string sameFileAs(const std::string& output, const std::vector<std::string>& files)
{
    struct stat out;
    if (::stat(output.c_str(), &out) != 0) {
        // Not there yet: a save the run would create may be named the same
        // way. Relative names are made absolute first, or "Y" and "./Y" or
        // "$PWD/Y" would differ.
        const auto normal = [](const std::string& path, std::error_code& error) {
            const std::filesystem::path whole = std::filesystem::absolute(path, error);
            return error ? whole : std::filesystem::weakly_canonical(whole, error);
        };
        std::error_code error;
        const std::filesystem::path mine = normal(output, error);
        if (error)
            return {};
        for (const std::string& file : files) {
            if (normal(file, error) == mine && !error)
                return file;
        }
        return {};
    }
    // Devices and FIFOs are written in place and are no one's input here.
    if (!S_ISREG(out.st_mode))
        return {};
    for (const std::string& file : files) {
        struct stat in;
        if (::stat(file.c_str(), &in) == 0 && sameInode(in, out))
            return file;
    }
    // Files held open: a disc's data files, named only inside its sheet.
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder)
        return {};
    std::string found;
    while (const dirent* entry = ::readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        struct stat in;
        if (fd <= 2 || fd == ::dirfd(folder) || ::fstat(fd, &in) != 0 || !sameInode(in, out))
            continue;
        char target[PATH_MAX];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        found = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : output;
        break;
    }
    ::closedir(folder);
    return found;
}

bool isDanglingLink(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) != 0 && errno == ENOENT && ::lstat(path.c_str(), &info) == 0 &&
           S_ISLNK(info.st_mode);
}

bool isLogStream(const std::string& output)
{
    struct stat out, log, null;
    if (::stat(output.c_str(), &out) != 0 || ::fstat(STDOUT_FILENO, &log) != 0 || !sameInode(out, log))
        return false;
    // What goes to the null device is lost either way.
    return !(S_ISCHR(out.st_mode) && ::stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev);
}

std::string sharedOutput(const std::vector<NamedOutput>& outputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            const NamedOutput& a = outputs[i];
            const NamedOutput& b = outputs[j];
            if (!sameFileAs(b.path, {a.path}).empty())
                return std::string(a.option) + " '" + a.path + "' and " + b.option + " '" + b.path + "' are one file";
        }
    }
    return {};
}

void LogStream::check()
{
    // The stream keeps that a write failed but not why; errno still holds
    // the reason the last failed call gave.
    if (m_error.empty() && std::ferror(stdout))
        m_error = errno ? std::strerror(errno) : "a write failed";
    errno = 0;
}

const std::string& LogStream::finish()
{
    errno = 0;
    if (std::fflush(stdout) != 0 && m_error.empty())
        m_error = std::strerror(errno);
    check();
    return m_error;
}
