#include "tools/headless_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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
        if (!S_ISREG(info.st_mode)) {
            // Without blocking, a FIFO nobody reads is an error, not a hang.
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (m_fd < 0)
                return failErrno();
            const int flags = ::fcntl(m_fd, F_GETFL);
            if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
                return failErrno();
            m_inPlace = true;
            return true;
        }
        char resolved[PATH_MAX];
        if (!::realpath(m_path.c_str(), resolved))
            return failErrno();
        m_target = resolved;
    } else if (errno == ENOENT) {
        m_target = m_path;
    } else {
        return failErrno();
    }
    static u32 counter = 0;
    m_temporary = m_target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        m_temporary.clear();
        return failErrno();
    }
    // The new file keeps the permissions the user gave the old one.
    struct stat old;
    if (::stat(m_target.c_str(), &old) == 0 && ::fchmod(m_fd, old.st_mode & 07777) != 0)
        return failErrno();
    return true;
}

bool OutputFile::write(const void* data, std::size_t size)
{
    if (m_fd < 0)
        return fail("not open");
    const auto* bytes = static_cast<const u8*>(data);
    while (size > 0) {
        const ssize_t put = ::write(m_fd, bytes, size);
        if (put < 0 && errno == EINTR)
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
    bool ok = m_inPlace || ::fsync(m_fd) == 0 || failErrno();
    const int fd = m_fd;
    m_fd = -1;
    ok = (::close(fd) == 0 || failErrno()) && ok;
    if (!ok || m_inPlace)
        return ok;
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return failErrno();
    m_temporary.clear();
    return true;
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
        // Not there yet: a save the run would create may be named the same way.
        std::error_code error;
        const std::filesystem::path mine = std::filesystem::weakly_canonical(output, error);
        if (error)
            return {};
        for (const std::string& file : files) {
            if (std::filesystem::weakly_canonical(file, error) == mine && !error)
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
