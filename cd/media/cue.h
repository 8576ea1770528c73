#pragma once

#include <memory>
#include <vector>

#include "cd/media/cd.h"

// A cue sheet: data files named by FILE lines, their tracks laid one after
// another on a single FAD axis.
class CCue : public CCd {
public:
    explicit CCue(const std::string& path);

    std::istream* locate(u32 fad, u32& sectorsLeft, u64& offset) override;

private:
    struct DataFile {
        std::unique_ptr<std::ifstream> stream;
        u64 size = 0;
    };

    // Each answers false to stop reading the sheet at this line.
    bool parseLine(const std::string& line);
    bool onFile(const std::string& line);
    bool onTrack(const std::string& line);
    bool onIndex(const std::string& line);
    bool onGap(const std::string& line, bool pregap);
    bool onFlags(const std::string& line);
    bool layOut();
    // The file a sheet names, found in the sheet's folder whatever its
    // separators and letter case; empty when there is none.
    std::string resolve(const std::string& name) const;

    std::vector<DataFile> m_dataFiles;
    std::vector<TrackInfo> m_tracks;
    // FLAGS given per track; the others get the control of their kind.
    std::vector<bool> m_flagsGiven;
};
