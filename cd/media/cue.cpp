#include "cd/media/cue.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/base/helpers.h"
#include "core/base/object.h"
#include "core/base/file_io.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTag = "CUE";
constexpr std::size_t kMaxLineChars = 1024;
constexpr s32 kMaxIndex = 99;
constexpr s64 kMaxFrames = CCd::kMaxFad;

// The one WAVE layout a CD holds: 16-bit stereo PCM at 44.1 kHz.
constexpr u16 kWavePcm = 1;
constexpr u16 kCdChannels = 2;
constexpr u32 kCdSampleRate = 44100;
constexpr u16 kCdSampleBits = 16;
constexpr u16 kCdFrameBytes = kCdChannels * kCdSampleBits / 8;
constexpr u64 kRiffHeaderBytes = 12;
constexpr u64 kChunkHeaderBytes = 8;
constexpr u64 kFormatBytes = 16;
// A real WAVE file has a handful; a walk over more is a hostile file.
constexpr u32 kMaxChunks = 256;

u32 littleEndian(const u8* at, int bytes)
{
    u32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

bool readAt(std::istream& in, u64 offset, u8* to, u64 bytes)
{
    in.clear();
    if (!in.seekg(static_cast<std::streamoff>(offset)))
        return false;
    in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(bytes));
    return static_cast<u64>(in.gcount()) == bytes;
}

// Walks a RIFF WAVE file's chunks to its samples: start and length in
// bytes. Answers why they cannot be played, or nothing.
std::string findSamples(std::istream& in, u64 fileBytes, u64& start, u64& length)
{
    u8 riff[kRiffHeaderBytes];
    if (!readAt(in, 0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return "not a RIFF WAVE file";
    bool formatSeen = false;
    u64 at = kRiffHeaderBytes;
    for (u32 chunks = 0; at < fileBytes; ++chunks) {
        if (chunks == kMaxChunks)
            return "too many chunks";
        u8 header[kChunkHeaderBytes];
        if (at + kChunkHeaderBytes > fileBytes || !readAt(in, at, header, sizeof header))
            return "chunk header cut off";
        const u64 size = littleEndian(header + 4, 4);
        const u64 body = at + kChunkHeaderBytes;
        if (size > fileBytes - body)
            return "chunk runs past the end of the file";
        if (std::memcmp(header, "fmt ", 4) == 0) {
            u8 format[kFormatBytes];
            if (size < kFormatBytes || !readAt(in, body, format, sizeof format))
                return "fmt chunk too short";
            const u32 tag = littleEndian(format, 2);
            const u32 channels = littleEndian(format + 2, 2);
            const u32 rate = littleEndian(format + 4, 4);
            const u32 byteRate = littleEndian(format + 8, 4);
            const u32 frameBytes = littleEndian(format + 12, 2);
            const u32 bits = littleEndian(format + 14, 2);
            if (tag != kWavePcm || channels != kCdChannels || rate != kCdSampleRate || bits != kCdSampleBits ||
                frameBytes != kCdFrameBytes || byteRate != kCdSampleRate * kCdFrameBytes) {
                char reason[128];
                std::snprintf(reason, sizeof reason,
                              "format %u, %u channels, %u Hz, %u bits; only 16-bit stereo PCM at 44100 Hz plays",
                              tag, channels, rate, bits);
                return reason;
            }
            formatSeen = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!formatSeen)
                return "data chunk before the fmt chunk";
            start = body;
            length = size;
            return {};
        }
        // Chunks are padded to an even size.
        at = body + size + (size & 1);
    }
    return formatSeen ? "no data chunk" : "no fmt chunk";
}

// The character classes of the sheet's patterns, "\w", "\s" and "\d".
bool isWord(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::size_t skipWhile(const std::string& s, std::size_t i, bool (*test)(char))
{
    while (i < s.size() && test(s[i]))
        ++i;
    return i;
}

// The sheet's patterns are matched by hand: the library's regex engine
// recurses once per character, so a long line would exhaust the stack.

// The first run of upper-case letters standing as a word of its own.
std::string commandWord(const std::string& s)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] < 'A' || s[i] > 'Z' || (i > 0 && isWord(s[i - 1])))
            continue;
        std::size_t j = i;
        while (j < s.size() && s[j] >= 'A' && s[j] <= 'Z')
            ++j;
        if (j == s.size() || !isWord(s[j]))
            return s.substr(i, j - i);
        i = j;
    }
    return {};
}

bool equalsIgnoreCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool hasAt(const std::string& s, std::size_t i, const std::string& word, bool anyCase)
{
    if (i + word.size() > s.size())
        return false;
    const std::string part = s.substr(i, word.size());
    return anyCase ? equalsIgnoreCase(part, word) : part == word;
}

// \bFILE\s+"\s*(\S(.*\S)?)\s*"\s+(BINARY|WAVE), any case: the name.
bool matchFile(const std::string& s, std::string& name)
{
    for (std::size_t i = 0; i + 4 <= s.size(); ++i) {
        if (!hasAt(s, i, "FILE", true) || (i > 0 && isWord(s[i - 1])))
            continue;
        const std::size_t quote = skipWhile(s, i + 4, isSpace);
        if (quote == i + 4 || quote >= s.size() || s[quote] != '"')
            continue;
        const std::size_t first = skipWhile(s, quote + 1, isSpace);
        // The name reaches to the last quote that the file type follows.
        for (std::size_t close = s.size(); close-- > first + 1;) {
            if (s[close] != '"')
                continue;
            const std::size_t type = skipWhile(s, close + 1, isSpace);
            if (type == close + 1 || !(hasAt(s, type, "BINARY", true) || hasAt(s, type, "WAVE", true)))
                continue;
            std::size_t last = close;
            while (isSpace(s[last - 1]))
                --last;
            if (s.find_first_of("\r\n", first) < last)
                continue;
            name = s.substr(first, last - first);
            return true;
        }
    }
    return false;
}

// Starts of digit runs that begin a word, in order.
template <typename Try>
bool eachNumber(const std::string& s, Try&& attempt)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (isDigit(s[i]) && (i == 0 || !isWord(s[i - 1])) && attempt(i))
            return true;
    }
    return false;
}

// \d+\s*:\s*\d+\s*:\s*\d+ at i.
bool matchTime(const std::string& s, std::size_t i, std::string parts[3])
{
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            i = skipWhile(s, i, isSpace);
            if (i >= s.size() || s[i] != ':')
                return false;
            i = skipWhile(s, i + 1, isSpace);
        }
        const std::size_t end = skipWhile(s, i, isDigit);
        if (end == i)
            return false;
        parts[k] = s.substr(i, end - i);
        i = end;
    }
    return true;
}

bool toInt(const std::string& digits, s32& value)
{
    s64 result = 0;
    for (char c : digits) {
        result = result * 10 + (c - '0');
        if (result > INT32_MAX)
            return false;
    }
    value = static_cast<s32>(result);
    return !digits.empty();
}

// "mm:ss:ff" as frames.
bool toFrames(const std::string parts[3], s64& frames)
{
    s32 mm, ss, ff;
    if (!toInt(parts[0], mm) || !toInt(parts[1], ss) || !toInt(parts[2], ff))
        return false;
    frames = (s64{mm} * 60 + ss) * kFramesPerSecond + ff;
    return frames <= kMaxFrames;
}

s64 framesOf(const IndexPoint& point)
{
    return (s64{point.minutes} * 60 + point.seconds) * kFramesPerSecond + point.frames;
}

// The entry of folder whose name matches name in any case.
bool findIgnoringCase(const fs::path& folder, const std::string& name, fs::path& found)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (equalsIgnoreCase(it->path().filename().string(), name)) {
            found = it->path();
            return true;
        }
    }
    return false;
}

std::string lowerFirst(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// Why the entry a sheet names is no file to read; its own type says, or
// the system when it cannot even tell that (a link loop).
std::string whyNotAFile(const std::string& path)
{
    if (path.empty())
        return "no such file";
    std::error_code error;
    const fs::file_type type = fs::status(path, error).type();
    if (type == fs::file_type::not_found)
        return "no such file";
    if (type == fs::file_type::directory)
        return "is a directory";
    if (error)
        return lowerFirst(error.message());
    return "not a regular file";
}

}  // namespace

CCue::CCue(const std::string& path) : CCd(path)
{
    if (m_size > static_cast<s64>(kMaxDescriptionBytes)) {
        logSink().write(kLogError, kTag, "Sheet is too large [size: %lld]", static_cast<long long>(m_size));
        fail(kTag);
        return;
    }
    std::string line;
    while (m_size >= 0 && std::getline(m_file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (!parseLine(line))
            break;
    }
    if (m_refused || !layOut()) {
        fail(kTag);
        m_dataFiles.clear();
    }
}

bool CCue::parseLine(const std::string& line)
{
    if (line.size() > kMaxLineChars) {
        logSink().write(kLogError, kTag, "Line is too long [length: %u]", static_cast<u32>(line.size()));
        return false;
    }
    const std::string word = commandWord(line);
    if (word == "FILE")
        return onFile(line);
    if (word == "TRACK")
        return onTrack(line);
    if (word == "INDEX")
        return onIndex(line);
    if (word == "PREGAP")
        return onGap(line, true);
    if (word == "POSTGAP")
        return onGap(line, false);
    if (word == "FLAGS")
        return onFlags(line);
    if (word == "CATALOG" || word == "REM")
        return true;
    logSink().write(kLogError, kTag, "Command %s not implemented!", word.c_str());
    return false;
}

std::string CCue::resolve(const std::string& name, bool regular) const
{
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const fs::path folder = m_directory.empty() ? fs::path(".") : fs::path(m_directory);
    fs::path wanted(relative);
    std::error_code error;
    // Only the entry is looked at: a link loop or a FIFO is found, not followed or opened.
    const auto fits = [&](const fs::path& p) {
        return regular ? fs::is_regular_file(p, error) : fs::symlink_status(p, error).type() != fs::file_type::not_found;
    };
    // A rip made elsewhere may name its files by an absolute path of that
    // machine; only the name means anything here.
    const bool foreign = relative.starts_with("/") || (relative.size() > 1 && relative[1] == ':');
    if (!foreign) {
        if (fits(folder / wanted))
            return (folder / wanted).string();
        fs::path at = folder;
        bool found = true;
        for (const fs::path& part : wanted) {
            if (part.empty() || part == ".")
                continue;
            fs::path next;
            if (!findIgnoringCase(at, part.string(), next)) {
                found = false;
                break;
            }
            at = next;
        }
        if (found && fits(at))
            return at.string();
    }
    fs::path alone;
    if (findIgnoringCase(folder, wanted.filename().string(), alone) && fits(alone))
        return alone.string();
    return {};
}

bool CCue::refuse(const std::string& file, const std::string& reason)
{
    m_refused = true;
    m_openError = file + ": " + reason;
    return false;
}

bool CCue::onFile(const std::string& line)
{
    std::string name;
    std::string extension;
    if (matchFile(line, name)) {
        const auto dot = name.find_last_of('.');
        if (dot != std::string::npos)
            extension = name.substr(dot + 1);
    }
    // The name tells the format; the type word does not change how a file is read.
    const bool wave = equalsIgnoreCase(extension, "WAV");
    if (!wave && !equalsIgnoreCase(extension, "BIN") && !equalsIgnoreCase(extension, "ISO")) {
        toUpper(extension);
        logSink().write(kLogError, kTag, "File format %s not implemented!", extension.c_str());
        return false;
    }
    // Every file holds at least one track. A disc missing one of its
    // files is refused: run without it, a game would hang or play silence.
    if (m_dataFiles.size() >= kMaxTrack) {
        logSink().write(kLogError, kTag, "Too many files [count: %u]", static_cast<u32>(m_dataFiles.size()) + 1);
        return refuse(m_directory + name, "too many files");
    }
    const std::string path = resolve(name, true);
    auto stream = std::make_unique<std::ifstream>();
    errno = 0;
    if (!path.empty())
        stream->open(path, std::ios::in | std::ios::binary);
    if (!stream->is_open()) {
        const std::string reason = path.empty() ? whyNotAFile(resolve(name, false)) : lowerFirst(std::strerror(errno));
        logSink().write(kLogError, kTag, "Failed to open file %s! [reason: %s]", (m_directory + name).c_str(),
                        reason.c_str());
        return refuse(m_directory + name, reason);
    }
    DataFile file;
    file.size = fileSize(stream.get());
    file.end = file.size;
    stream->clear();
    stream->seekg(0);
    file.stream = std::move(stream);
    if (wave && !openWave(file, name))
        return false;
    m_dataFiles.push_back(std::move(file));
    return true;
}

bool CCue::openWave(DataFile& file, const std::string& name)
{
    u64 start = 0;
    u64 length = 0;
    const std::string reason = findSamples(*file.stream, file.size, start, length);
    if (!reason.empty()) {
        logSink().write(kLogError, kTag, "Unsupported WAVE file %s! [reason: %s]", (m_directory + name).c_str(),
                        reason.c_str());
        return refuse(m_directory + name, reason);
    }
    file.start = start;
    file.end = start + length;
    // A last sector cut short is played out with silence, as a burner pads it.
    const u64 sector = SectorBuffer::kRawSize;
    file.size = (length + sector - 1) / sector * sector;
    return true;
}

bool CCue::onTrack(const std::string& line)
{
    if (m_dataFiles.empty())
        return false;
    // \b(\d+)\s+((\w+)(\s*/\s*(\d+))?): the number and the type.
    std::string digits;
    std::string type;
    const bool matched = eachNumber(line, [&](std::size_t i) {
        const std::size_t end = skipWhile(line, i, isDigit);
        const std::size_t word = skipWhile(line, end, isSpace);
        const std::size_t wordEnd = skipWhile(line, word, isWord);
        if (word == end || wordEnd == word)
            return false;
        digits = line.substr(i, end - i);
        std::size_t typeEnd = wordEnd;
        const std::size_t slash = skipWhile(line, wordEnd, isSpace);
        if (slash < line.size() && line[slash] == '/') {
            const std::size_t size = skipWhile(line, slash + 1, isSpace);
            const std::size_t sizeEnd = skipWhile(line, size, isDigit);
            if (sizeEnd > size)
                typeEnd = sizeEnd;
        }
        type = line.substr(word, typeEnd - word);
        return true;
    });
    if (!matched) {
        logSink().write(kLogWarning, kTag, "TRACK: %s not implemented!", "");
        return false;
    }
    s32 number;
    // Reads find a track's data by its number, so numbers must run 1, 2, 3...
    if (!toInt(digits, number) || number != static_cast<s32>(m_tracks.size()) + 1 ||
        number > static_cast<s32>(kMaxTrack)) {
        logSink().write(kLogError, kTag, "Invalid TRACK number: [%s]!", digits.c_str());
        return false;
    }
    struct Kind {
        const char* name;
        s32 size;
        u32 mode;
        bool warn;
    };
    static constexpr Kind kKinds[] = {
        {"AUDIO", 2352, SectorBuffer::kAudio, false},      {"MODE1/2048", 2048, SectorBuffer::kMode1, false},
        {"MODE1/2352", 2352, SectorBuffer::kMode1, false}, {"MODE2/2336", 2336, SectorBuffer::kMode2, true},
        {"MODE2/2048", 2048, SectorBuffer::kForm1, true},  {"MODE2/2324", 2324, SectorBuffer::kForm2, true},
        {"MODE2/2352", 2352, SectorBuffer::kForm2, false},
    };
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds) {
        if (type == k.name)
            kind = &k;
    }
    if (!kind) {
        logSink().write(kLogWarning, kTag, "TRACK: %s not implemented!", type.c_str());
        return false;
    }
    if (kind->warn)
        logSink().write(kLogWarning, kTag, "%s", kind->name);

    TrackInfo track;
    track.controlAdr = 0;
    track.fileNumber = static_cast<u32>(m_dataFiles.size() - 1);
    track.number = static_cast<u32>(number);
    track.sectorSize = kind->size;
    // Raw tracks tell their real mode by their first sector.
    track.mode = kind->size == SectorBuffer::kRawSize ? SectorBuffer::kRaw : kind->mode;
    m_tracks.push_back(std::move(track));
    m_flagsGiven.push_back(false);
    return true;
}

bool CCue::onIndex(const std::string& line)
{
    if (m_tracks.empty())
        return true;
    // \b(\d+)\s+(\d+)\s*:\s*(\d+)\s*:\s*(\d+)
    std::string digits;
    std::string parts[3];
    const bool matched = eachNumber(line, [&](std::size_t i) {
        const std::size_t end = skipWhile(line, i, isDigit);
        const std::size_t time = skipWhile(line, end, isSpace);
        if (time == end || !matchTime(line, time, parts))
            return false;
        digits = line.substr(i, end - i);
        return true;
    });
    s32 number = 0;
    s64 frames = 0;
    if (!matched || !toInt(digits, number) || !toFrames(parts, frames)) {
        logSink().write(kLogError, kTag, "Invalid INDEX line!");
        return false;
    }
    if (number > kMaxIndex) {
        logSink().write(kLogError, kTag, "Invalid INDEX number: [%d]!", number);
        return false;
    }
    IndexPoint point;
    point.number = number;
    toInt(parts[0], point.minutes);
    toInt(parts[1], point.seconds);
    toInt(parts[2], point.frames);
    m_tracks.back().indexPoints.push_back(point);
    return true;
}

bool CCue::onGap(const std::string& line, bool pregap)
{
    if (m_tracks.empty())
        return true;
    std::string parts[3];
    const bool matched = eachNumber(line, [&](std::size_t i) { return matchTime(line, i, parts); });
    s64 frames = 0;
    if (!matched || !toFrames(parts, frames)) {
        logSink().write(kLogError, kTag, "Invalid %s time!", pregap ? "PREGAP" : "POSTGAP");
        return false;
    }
    (pregap ? m_tracks.back().pregapLength : m_tracks.back().postgapLength) = static_cast<u32>(frames);
    return true;
}

bool CCue::onFlags(const std::string& line)
{
    if (m_tracks.empty())
        return true;
    // FLAGS\s+(\S+)
    std::string word;
    for (std::size_t at = line.find("FLAGS"); at != std::string::npos; at = line.find("FLAGS", at + 1)) {
        const std::size_t first = skipWhile(line, at + 5, isSpace);
        std::size_t end = first;
        while (end < line.size() && !isSpace(line[end]))
            ++end;
        if (first > at + 5 && end > first) {
            word = line.substr(first, end - first);
            break;
        }
    }
    if (word == "SCMS") {
        logSink().write(kLogWarning, kTag, "FLAGS value SCMS not implemented!");
        return false;
    }
    TrackInfo& track = m_tracks.back();
    u32 control = track.mode > SectorBuffer::kAudio ? 4 : 0;
    if (word == "4CH")
        control += 8;
    else if (word == "DATA")
        control += 4;
    else if (word == "DCP")
        control += 2;
    else if (word == "PRE")
        control += 1;
    track.controlAdr = static_cast<u8>(control * 16 + 1);
    m_flagsGiven.back() = true;
    return true;
}

bool CCue::layOut()
{
    // A track without an INDEX has no position; it and the tracks after it
    // are dropped, as if the sheet had stopped there.
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].indexPoints.empty()) {
            logSink().write(kLogError, kTag, "TRACK %u has no INDEX!", m_tracks[i].number);
            m_tracks.resize(i);
            break;
        }
    }
    const std::size_t n = m_tracks.size();
    if (n == 0)
        return false;

    struct Place {
        s64 pregapStart, start, end, size, base;
    };
    std::vector<Place> places(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& points = m_tracks[i].indexPoints;
        places[i].pregapStart = framesOf(points[0]);
        places[i].start = points[0].number == 0 && points.size() > 1 ? framesOf(points[1]) : places[i].pregapStart;
    }

    s64 offset = 0;
    for (std::size_t i = 0; i < n; ++i) {
        TrackInfo& track = m_tracks[i];
        Place& place = places[i];
        const s64 sector = track.sectorSize;
        const s64 ownPregapStart = place.pregapStart;
        place.pregapStart += offset;
        place.start += offset;
        s64 earlier = 0;
        for (std::size_t k = 0; k < i; ++k) {
            if (m_tracks[k].fileNumber == track.fileNumber)
                earlier += places[k].size;
        }
        place.base = earlier;
        if (i + 1 < n && m_tracks[i + 1].fileNumber == track.fileNumber) {
            // A later file with several tracks shares one offset, so the
            // next track's position is moved by it as well.
            place.end = places[i + 1].start + offset - 1;
            place.size = (places[i + 1].pregapStart - ownPregapStart) * sector;
        } else {
            place.size = static_cast<s64>(m_dataFiles[track.fileNumber].size) - earlier;
            place.end = place.pregapStart + place.size / sector - 1;
            offset = place.end + 1;
        }
        if (place.size <= 0 || place.end < place.start) {
            logSink().write(kLogError, kTag, "TRACK %u does not fit its file!", track.number);
            return false;
        }
    }

    SessionInfo session;
    s64 pregaps = 0;
    s64 postgaps = 0;
    for (std::size_t i = 0; i < n; ++i) {
        TrackInfo& track = m_tracks[i];
        const Place& place = places[i];
        pregaps += track.pregapLength;
        const s64 shift = kLeadInFrames + pregaps + postgaps;
        postgaps += track.postgapLength;
        if (place.end + shift > static_cast<s64>(kMaxFad)) {
            logSink().write(kLogError, kTag, "TRACK %u is out of range!", track.number);
            return false;
        }
        track.pregapStart = static_cast<u32>(place.pregapStart + shift);
        track.startFad = static_cast<u32>(place.start + shift);
        track.pregapEnd = static_cast<u32>(place.end + shift);
        track.endFad = track.pregapEnd;
        track.fileBase = static_cast<u64>(place.base);
        track.fileOffset = static_cast<u64>(place.base + (place.start - place.pregapStart) * track.sectorSize);
        track.fileSize = static_cast<u64>(place.size);
        track.userDataSize = SectorBuffer::userDataSize(track.mode);
        // Without FLAGS a cooked track is still a data track.
        if (!m_flagsGiven[i])
            track.controlAdr = track.mode > SectorBuffer::kAudio ? TrackInfo::kDataTrack : TrackInfo::kAudioTrack;
    }
    const TrackInfo& last = m_tracks.back();
    session.first = m_tracks.front().pregapStart - kLeadInFrames;
    const s64 leadOut = s64{last.endFad} + 1 + last.postgapLength;
    if (leadOut > static_cast<s64>(kMaxFad) + 1)
        return false;
    session.leadOut = static_cast<u32>(leadOut);
    session.tracks = std::move(m_tracks);
    m_tracks.clear();
    if (!isSane(session)) {
        logSink().write(kLogError, kTag, "Bad table of contents");
        return false;
    }
    m_sessions.push_back(std::move(session));
    detectRawModes();
    return true;
}

const CCue::DataFile* CCue::dataFileAt(u32 fad, u32& sectorsLeft, u64& offset) const
{
    const TrackInfo* track = servingTrack(fad);
    if (!track || track->fileNumber >= m_dataFiles.size())
        return nullptr;
    const DataFile& file = m_dataFiles[track->fileNumber];
    sectorsLeft = track->pregapEnd - fad + 1;
    offset = file.start + u64{fad - track->startFad} * static_cast<u64>(track->sectorSize) + track->fileOffset;
    return &file;
}

std::istream* CCue::locate(u32 fad, u32& sectorsLeft, u64& offset)
{
    const DataFile* file = dataFileAt(fad, sectorsLeft, offset);
    return file ? file->stream.get() : nullptr;
}

u32 CCue::readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count)
{
    count = CCd::readSectors(destination, fad, mode, size, count);
    u32 sectorsLeft = 0;
    u64 offset = 0;
    const DataFile* file = dataFileAt(fad, sectorsLeft, offset);
    // What follows a WAVE file's samples is other chunks, not sound.
    const u64 bytes = u64{count} * static_cast<u64>(size);
    if (file && offset + bytes > file->end) {
        const u64 kept = offset < file->end ? file->end - offset : 0;
        std::memset(destination + kept, 0, static_cast<std::size_t>(bytes - kept));
    }
    return count;
}
