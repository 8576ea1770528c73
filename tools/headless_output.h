#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/base/types.h"

// A file kest-headless writes after (or during) a run. A regular file, or a
// path that does not exist yet, is written through a new file beside it and
// a rename, so a failed run leaves the old file whole; a link is followed
// and its target replaced. Anything else that exists (/dev/null, /dev/full,
// a FIFO with a reader) is written in place: renaming over it would replace
// the device node with a plain file. So is a regular file whose folder
// takes no new file, or that cannot be renamed over (a bind mount): there
// the old bytes are lost if the run fails. Every failure keeps the reason
// of the step that failed.
class OutputFile {
public:
    explicit OutputFile(std::string path) : m_path(std::move(path)) {}
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open();
    bool write(const void* data, std::size_t size);
    // Rewrites bytes already written (a header whose sizes are known last).
    // A target that cannot seek keeps what was written first.
    bool rewrite(u64 offset, const void* data, std::size_t size);
    // Flushes, closes and renames into place; only then is the output done.
    bool commit();

    const std::string& path() const { return m_path; }
    // "'path': reason" for the first failure.
    const std::string& error() const { return m_error; }

private:
    bool fail(const char* reason);
    bool failErrno();
    bool openInPlace(const std::string& path, int flags);
    bool copyInPlace();

    std::string m_path;
    std::string m_target;
    std::string m_temporary;
    std::string m_error;
    int m_fd = -1;
    // A regular file: its data is known to be on disk only after fsync.
    bool m_sync = false;
};

// Writes a whole buffer as one output.
bool writeOutput(const std::string& path, const void* data, std::size_t size, std::string& error);

// Streams 44100 Hz 16-bit stereo samples into a WAV file. The RIFF sizes are
// 32 bits, so the file stops growing at limitBytes of samples (the format's
// own ceiling by default); what did not fit is counted, and reported by commit.
class WavOutput {
public:
    static constexpr u64 kHeaderBytes = 44;
    static constexpr u64 kFormatLimitBytes = (0xFFFFFFFFull - (kHeaderBytes - 8)) / 4 * 4;

    explicit WavOutput(std::string path, u64 limitBytes = kFormatLimitBytes)
        : m_file(std::move(path)), m_limitBytes(limitBytes / 4 * 4) {}

    bool open();
    // pairs counts left-right pairs.
    bool append(const s16* samples, u32 pairs);
    bool commit();

    const std::string& error() const { return m_error.empty() ? m_file.error() : m_error; }
    u64 dataBytes() const { return m_dataBytes; }
    u64 droppedPairs() const { return m_droppedPairs; }

private:
    OutputFile m_file;
    u64 m_limitBytes;
    u64 m_dataBytes = 0;
    u64 m_droppedPairs = 0;
    std::string m_error;
    std::vector<u8> m_bytes;
};

// The input, among files, that is the same file as output (through links
// and hard links alike), or empty. Also the files the process holds open,
// such as a cue sheet's data files.
std::string sameFileAs(const std::string& output, const std::vector<std::string>& files);

// Whether path is a link to a file or folder that does not exist: an
// output there is refused, as renaming over the link would replace it.
bool isDanglingLink(const std::string& path);
constexpr const char* kDanglingLink = "a link to a file or folder that does not exist";

// Whether output is the log's standard output (the same pipe, terminal or
// file, by any name), where its bytes would mix with the log's lines.
bool isLogStream(const std::string& output);

// An output the command line names, with the option that named it.
struct NamedOutput {
    const char* option;
    std::string path;
};

// Why two of the outputs cannot both be written (they are one file, by
// name, link or hard link), or empty.
std::string sharedOutput(const std::vector<NamedOutput>& outputs);

// The log goes to standard output line by line; a line that could not be
// written fails the run, with the reason first seen.
class LogStream {
public:
    // Between fields.
    void check();
    // Flushes what is left; the reason of the first failure, or empty.
    const std::string& finish();

private:
    std::string m_error;
};
