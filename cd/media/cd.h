#pragma once

#include <fstream>
#include <istream>
#include <string>
#include <vector>

#include "cd/media/sector_buffer.h"
#include "core/base/types.h"

// The file behind a disc source, with its path split up for readers that
// find companion files beside it.
class CiFile {
public:
    explicit CiFile(const std::string& path);
    virtual ~CiFile() = default;
    CiFile(const CiFile&) = delete;
    CiFile& operator=(const CiFile&) = delete;

    const std::string& path() const { return m_path; }
    // Up to and including the last separator.
    const std::string& directory() const { return m_directory; }
    // Between the last separator and the last ".".
    const std::string& fileName() const { return m_fileName; }
    const std::string& extension() const { return m_extension; }
    // -1 when the file could not be opened.
    s64 size() const { return m_size; }
    // Why the file could not be opened; empty when it was.
    const std::string& openError() const { return m_openError; }

protected:
    std::ifstream m_file;
    std::string m_path;
    std::string m_directory;
    std::string m_fileName;
    std::string m_extension;
    s64 m_size = -1;
    std::string m_openError;
};

struct IndexPoint {
    s32 number = 0;
    s32 minutes = 0;
    s32 seconds = 0;
    s32 frames = 0;
};

struct TrackInfo {
    static constexpr u32 kNoData = 0xFFFFFFFF;
    static constexpr u8 kDataTrack = 0x41;
    static constexpr u8 kAudioTrack = 0x01;

    std::vector<IndexPoint> indexPoints;
    // Control in the high nibble, ADR in the low one.
    u8 controlAdr = 0;
    u32 pregapStart = 0;  // FAD of index 0
    u32 startFad = 0;     // FAD of index 1
    u32 pregapEnd = 0;
    u32 endFad = 0;  // inclusive
    u32 pregapLength = 0;
    u32 postgapLength = 0;
    u32 fileNumber = 0;
    u64 fileBase = 0;
    // Byte position in the data file of the sector at the start FAD.
    u64 fileOffset = 0;
    u64 fileSize = 0;
    // Also the 1-based position of the track that serves this range.
    u32 number = 0;
    s32 sectorSize = 0;
    u32 userDataSize = 0;
    u32 mode = SectorBuffer::kRaw;
};

// A line a disc source has to say about a read, held as its parts. The
// drive's worker collects the notes of its reads and the drive writes each
// when the emulation takes the sector it concerns, so the log follows
// emulated time; a read on any other thread writes them at once.
struct ReadNote {
    u32 fad = 0;
    int kind = 0;
    const char* tag = nullptr;
    // A literal whose conversions are all %d, taking the values in order.
    const char* format = nullptr;
    s32 values[3] = {};

    void write() const;
};

// While one lives, the reads made on its thread keep their notes in it
// instead of writing them.
class ReadNoteCollector {
public:
    ReadNoteCollector(ReadNote* notes, u32 capacity);
    ~ReadNoteCollector();
    ReadNoteCollector(const ReadNoteCollector&) = delete;
    ReadNoteCollector& operator=(const ReadNoteCollector&) = delete;

    u32 count() const { return m_count; }
    // Into this thread's collector, or written at once when there is none
    // or it is full.
    static void note(const ReadNote& note);

private:
    ReadNote* m_notes;
    u32 m_capacity;
    u32 m_count = 0;
    ReadNoteCollector* m_outer;
};

struct SessionInfo {
    std::vector<TrackInfo> tracks;
    u32 first = 0;
    // One past the session's last sector.
    u32 leadOut = 0;
};

// A disc: an opened file and a table of contents, read by FAD.
class CCd : public CiFile {
public:
    // No disc address reaches this far; it keeps FAD arithmetic well
    // inside 32 bits whatever a description claims.
    static constexpr u32 kMaxFad = 0x3FFFFFFF;
    static constexpr u32 kMaxTrack = 99;

    explicit CCd(const std::string& path);
    ~CCd() override = default;

    // Reads one sector into the record's own storage; answers its data.
    virtual u8* readSector(u32 fad, SectorBuffer& buffer);
    // Reads up to count sectors from fad, never past the end of the track
    // holding fad, into destination (count x 2448 bytes must fit). mode
    // and size report the layout of what was stored. Answers the count.
    virtual u32 readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count);
    // The stream holding fad, with the sectors left in its track and the
    // byte position of fad. Called only for a FAD that lies in a track.
    virtual std::istream* locate(u32 fad, u32& sectorsLeft, u64& offset);

    const SessionInfo* getSession(s32 index) const;
    const std::vector<SessionInfo>& sessions() const { return m_sessions; }
    // A program asked for fad, past the image's last sector: an image cut
    // short would only stop loading, so it is said, once per image.
    void notePastEnd(u32 fad);

protected:
    // The track whose range holds fad, and the track that serves it; null
    // when either is missing or the serving track does not cover fad.
    const TrackInfo* findTrack(u32 fad) const;
    const TrackInfo* servingTrack(u32 fad) const;
    // Common offset arithmetic of locate.
    bool position(u32 fad, u32& sectorsLeft, u64& offset) const;
    // Fills in the mode of every raw track from its first sector.
    void detectRawModes();
    // Ends every track one frame before the next starts and the last one
    // before the lead-out; false when the starts are not in disc order.
    static bool chainTrackEnds(SessionInfo& session);
    // False when a track is empty or out of order, or an address is absurd.
    static bool isSane(const SessionInfo& session);
    // Drops the table of contents after a failed load.
    void fail(const char* tag);

    std::vector<SessionInfo> m_sessions;

private:
    bool m_pastEndSaid = false;
};
