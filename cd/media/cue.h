#pragma once

#include <memory>
#include <vector>

#include "cd/media/cd.h"

// A cue sheet: data files named by FILE lines, their tracks laid one after
// another on a single FAD axis.
class CCue : public CCd {
public:
    explicit CCue(const std::string& path);

    u32 readSectors(u8* destination, u32 fad, u32& mode, s32& size, u32 count) override;
    std::istream* locate(u32 fad, u32& sectorsLeft, u64& offset) override;

private:
    struct DataFile {
        std::unique_ptr<std::ifstream> stream;
        // Bytes the layout gives the file's tracks.
        u64 size = 0;
        // Where its sectors start and end in the file: a WAVE file's
        // samples lie inside its chunks.
        u64 start = 0;
        u64 end = 0;
    };

    // Each answers false to stop reading the sheet at this line.
    bool parseLine(const std::string& line);
    bool onFile(const std::string& line);
    // Finds the samples of a WAVE file; false, with the disc refused, when
    // they are not CD audio.
    bool openWave(DataFile& file, const std::string& name);
    bool onTrack(const std::string& line);
    bool onIndex(const std::string& line);
    bool onGap(const std::string& line, bool pregap);
    bool onFlags(const std::string& line);
    bool layOut();
    // The file a sheet names, found in the sheet's folder whatever its
    // separators and letter case; empty when there is none. Not regular:
    // any entry of that name, for the reason it cannot be read.
    std::string resolve(const std::string& name, bool regular) const;
    // Refuses the disc for a file it needs; false, to stop reading.
    bool refuse(const std::string& file, const std::string& reason);

    // The file holding fad's track, with the byte position of fad in it.
    const DataFile* dataFileAt(u32 fad, u32& sectorsLeft, u64& offset) const;

    std::vector<DataFile> m_dataFiles;
    // A data file the sheet names cannot be played: no tracks at all.
    bool m_refused = false;
    std::vector<TrackInfo> m_tracks;
    // FLAGS given per track; the others get the control of their kind.
    std::vector<bool> m_flagsGiven;
};
