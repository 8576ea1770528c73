// A disc booted through the built-in BIOS whose first file reads files
// through the CD block, as games do. The disc is made by xorriso; the file
// ids, extents and sizes the CD block reports are checked against
// isoinfo -l, and every file read against its contents.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cd/media/bin.h"
#include "core/base/disc_header.h"
#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#include "support/log_capture.h"
#pragma GCC diagnostic pop

namespace {

constexpr u32 kIpCodeOffset = 0xE00;
constexpr u32 kFirstRead = 0x06004000;
constexpr u32 kScript = 0x06070000;
constexpr u32 kHeader = 0x06077F00;
constexpr u32 kResults = 0x06078000;
constexpr u32 kManyFiles = 300;

struct Entry {
    std::string name;
    u32 lba = 0;
    u32 size = 0;
    bool directory = false;
};

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (pipe)
        pclose(pipe);
    return out;
}

// Directory path -> its records in disc order, from isoinfo -l.
std::map<std::string, std::vector<Entry>> listIso(const std::string& iso)
{
    std::map<std::string, std::vector<Entry>> dirs;
    std::istringstream lines(run("isoinfo -l -i " + iso));
    const std::string heading = "Directory listing of ";
    std::string line;
    std::string current;
    while (std::getline(lines, line)) {
        if (line.rfind(heading, 0) == 0) {
            current = line.substr(heading.size());
            current.erase(current.find_last_not_of(' ') + 1);
            continue;
        }
        const std::size_t open = line.find('[');
        const std::size_t close = line.find(']');
        if (line.empty() || (line[0] != 'd' && line[0] != '-') || open == std::string::npos || close < open)
            continue;
        Entry e;
        std::istringstream fields(line);
        std::string skip;
        fields >> skip >> skip >> skip >> skip >> e.size;
        e.lba = static_cast<u32>(std::stoul(line.substr(open + 1)));
        std::istringstream(line.substr(close + 1)) >> e.name;
        e.directory = line[0] == 'd';
        dirs[current].push_back(e);
    }
    return dirs;
}

u32 fidOf(const std::vector<Entry>& dir, const std::string& name)
{
    for (u32 i = 0; i < dir.size(); ++i) {
        if (dir[i].name == name)
            return i;
    }
    ADD_FAILURE() << name << " not on the disc";
    return 0;
}

std::vector<u8> pattern(u32 size, u32 seed)
{
    std::vector<u8> bytes(size);
    for (u32 i = 0; i < size; ++i)
        bytes[i] = static_cast<u8>((i * 131 + seed * 7 + (i >> 8)) ^ seed);
    return bytes;
}

void writeFile(const std::filesystem::path& path, const std::vector<u8>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void putText(std::vector<u8>& out, u32 offset, u32 length, const std::string& text)
{
    for (u32 i = 0; i < length; ++i)
        out[offset + i] = i < text.size() ? static_cast<u8>(text[i]) : ' ';
}

// Script entries for the runner program on the disc.
class Script {
public:
    enum Op : u32 { kEnd = 0, kCommand = 1, kReadData = 2, kWaitSectors = 3, kReadInfo = 4 };

    u32 add(Op op, u16 cr1, u16 cr2, u16 cr3, u16 cr4, u32 bits = 0, u32 count = 0, u32 destination = 0)
    {
        m_entries.push_back({op, cr1, cr2, cr3, cr4, bits, count, destination});
        return static_cast<u32>(m_entries.size() - 1);
    }
    u32 changeDir(u32 fid) { return add(kCommand, 0x7000, 0, static_cast<u16>(fid >> 16), static_cast<u16>(fid), 0x0200); }
    u32 readDir(u32 fid) { return add(kCommand, 0x7100, 0, static_cast<u16>(fid >> 16), static_cast<u16>(fid), 0x0200); }
    u32 scope() { return add(kCommand, 0x7200, 0, 0, 0); }
    // Reads a whole file through partition 0 in chunks the pool holds.
    u32 readFile(u32 fid, u32 size, u32 destination)
    {
        const u32 first = add(kCommand, 0x7400, 0, static_cast<u16>(fid >> 16), static_cast<u16>(fid));
        const u32 sectors = (size + 2047) / 2048;
        for (u32 done = 0; done < sectors;) {
            const u32 chunk = std::min(sectors - done, 24u);
            add(kWaitSectors, 0x5100, 0, 0x0000, 0, 0, chunk);
            add(kReadData, 0x6300, 0, 0x0000, static_cast<u16>(chunk), 0, chunk * 512, destination + done * 2048);
            done += chunk;
        }
        return first;
    }
    void store(u8* ram) const
    {
        u32 at = kScript & 0xFFFFF;
        for (const auto& e : m_entries) {
            for (u32 word : e)
                storeBe32(ram + at, word), at += 4;
        }
        storeBe32(ram + at, kEnd);
    }
    u32 size() const { return static_cast<u32>(m_entries.size()); }

private:
    std::vector<std::array<u32, 8>> m_entries;
};

// With Rock Ridge (xorriso's default) every record carries system-use
// fields, so the same directories take more sectors; without, plain
// ISO 9660 records.
class CdbDisc : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        root = dir.path() / "tree";
        files["A.TXT"] = pattern(5, 1);
        files["AB.TXT"] = pattern(6001, 2);
        files["BIG.BIN"] = pattern(60 * 2048 + 100, 3);
        files["EMPTY.DAT"] = {};
        files["D1/D2/D3/DEEP.BIN"] = pattern(3000, 4);
        for (const auto& [name, bytes] : files)
            writeFile(root / name, bytes);
        for (u32 i = 0; i < kManyFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "MANY/F%03u.BIN", i);
            writeFile(root / name, pattern(100 + i, 100 + i));
        }
        makeDisc();
        listing = listIso(iso);
        ASSERT_EQ(listing["/"].size(), 9u) << "., .., 0PROGRAM.BIN, A, AB, BIG, D1, EMPTY, MANY";
        ASSERT_EQ(listing["/MANY/"].size(), kManyFiles + 2);
    }

    void makeDisc()
    {
        const std::vector<u8> code = loadProgram("sh2", "bios_ip");
        std::vector<u8> ip(0x1000, 0);
        putText(ip, 0x00, 16, "SEGA SEGASATURN");
        putText(ip, 0x10, 16, "SEGA TP KEST");
        putText(ip, 0x20, 10, "T-99902G");
        putText(ip, 0x2A, 6, "V1.000");
        putText(ip, 0x30, 8, "20261207");
        putText(ip, 0x38, 8, "CD-1/1");
        putText(ip, 0x40, 10, "JTUE");
        putText(ip, 0x50, 16, "J");
        putText(ip, 0x60, 112, "KEST CD BLOCK TEST");
        header.ipSize = kIpCodeOffset + static_cast<u32>(code.size());
        header.firstReadAddress = kFirstRead;
        storeBe32(&ip[0xE0], header.ipSize);
        storeBe32(&ip[0xF0], kFirstRead);
        std::copy(code.begin(), code.end(), ip.begin() + kIpCodeOffset);
        writeFile(dir.path() / "ip.bin", ip);
        iso = dir.file("cdb.iso");
        const std::string rock = GetParam() ? "-R" : "--norock";
        const std::string out = run("xorriso -as mkisofs -quiet " + rock + " -V KEST_CDB -o " + iso + " -G " +
                                    dir.file("ip.bin") +
                                    " -graft-points /=" + root.string() + " /0PROGRAM.BIN=" + KEST_PROGRAMS_DIR +
                                    "/sh2/cdb_runner.bin 2>&1");
        ASSERT_TRUE(std::filesystem::exists(iso)) << out;
    }

    // Boots the disc through the built-in BIOS and runs the script.
    void boot(const Script& script, int fieldLimit)
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        sys->cdb().setThreshold(getenv("KEST_CDB_LOG") ? 3 : 0);
        ASSERT_TRUE(sys->biosHook().install());
        sys->setMedia(std::make_shared<CBin>(iso));
        ASSERT_TRUE(sys->biosHook().bootDisc(header));
        script.store(ram());
        sys->powerOn();
        for (int field = 0; field < fieldLimit && ramLong(kHeader) != 0x4B455354; ++field)
            sys->runFrame();
        ASSERT_EQ(ramLong(kHeader), 0x4B455354u) << "entries done: " << ramLong(kHeader + 8) << " of "
                                                   << script.size() << "\n" << log.text().substr(log.text().size() > 4000 ? log.text().size() - 4000 : 0);
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
    }

    u8* ram() { return sys->memory().workRamHigh.get(); }
    u32 ramLong(u32 address) { return loadBe32(ram() + (address & 0xFFFFC)); }
    u16 ramWord(u32 address) { return loadBe16(ram() + (address & 0xFFFFE)); }
    // Answer word n (0-3) of script entry i.
    u16 answer(u32 i, int n) { return static_cast<u16>(ramLong(kResults + 8 * i + (n / 2) * 4) >> (n & 1 ? 0 : 16)); }
    bool holds(u32 address, const std::vector<u8>& bytes)
    {
        return std::memcmp(ram() + (address & 0xFFFFF), bytes.data(), bytes.size()) == 0;
    }

    TempDir dir;
    std::filesystem::path root;
    std::string iso;
    std::map<std::string, std::vector<u8>> files;
    std::map<std::string, std::vector<Entry>> listing;
    DiscHeader header;
    std::unique_ptr<CSystem> sys;
    LogCapture log;
};

TEST_P(CdbDisc, ProgramReadsFilesThroughTheCdBlock)
{
    const auto& top = listing["/"];
    const auto& many = listing["/MANY/"];
    // The 300 files' directory: 7 sectors of plain records, 18 with Rock Ridge.
    EXPECT_EQ(many[0].size, GetParam() ? 18u * 2048 : 7u * 2048);
    Script s;
    s.add(Script::kCommand, 0x0401, 0, 0, 0);     // CdInit with a software reset
    s.add(Script::kCommand, 0x6000, 0x0000, 0, 0);  // SetSctLen 2048 / 2048
    s.add(Script::kCommand, 0x3000, 0, 0x0000, 0);  // CdSetCon filter 0
    s.changeDir(0xFFFFFF);
    const u32 rootScope = s.scope();
    const u32 rootInfo = s.add(Script::kReadInfo, 0x7300, 0, 0x00FF, 0xFFFF, 0, 6 * (top.size() - 2), 0x06060000);
    s.readFile(fidOf(top, "A.TXT;1"), 5, 0x06010000);
    s.readFile(fidOf(top, "AB.TXT;1"), 6001, 0x06012000);
    s.readFile(fidOf(top, "BIG.BIN;1"), 60 * 2048 + 100, 0x06020000);
    // An empty file, and an offset past a file's end, end at once: the
    // script waits for their end bits.
    const u32 empty = s.add(Script::kCommand, 0x7400, 0, 0, static_cast<u16>(fidOf(top, "EMPTY.DAT;1")), 0x0200);
    s.add(Script::kCommand, 0x7400, 1, 0, static_cast<u16>(fidOf(top, "A.TXT;1")), 0x0200);
    s.changeDir(fidOf(top, "D1"));
    s.changeDir(fidOf(listing["/D1/"], "D2"));
    s.changeDir(fidOf(listing["/D1/D2/"], "D3"));
    s.readFile(fidOf(listing["/D1/D2/D3/"], "DEEP.BIN;1"), 3000, 0x06014000);
    s.changeDir(0xFFFFFF);
    s.changeDir(fidOf(top, "MANY"));
    const u32 fullScope = s.scope();
    s.readDir(256);
    const u32 nextScope = s.scope();
    const u32 late = fidOf(many, "F280.BIN;1");
    s.add(Script::kReadInfo, 0x7300, 0, static_cast<u16>(late >> 16), static_cast<u16>(late), 0,
                               6, 0x06061000);
    s.readFile(late, 380, 0x06016000);
    // A play of three sectors whose middle one alone passes filter 1.
    const u32 bigLba = top[fidOf(top, "BIG.BIN;1")].lba;
    const u32 fad = bigLba + 150 + 5;
    s.add(Script::kCommand, 0x4000 | ((fad >> 16) & 0xFF), static_cast<u16>(fad), 0x0100, 1);  // SetFiltRange
    s.add(Script::kCommand, 0x4440, 0, 0x0100, 0);                                            // SetFiltMode RANGE
    s.add(Script::kCommand, 0x3000, 0, 0x0100, 0);                                            // CdSetCon 1
    s.add(Script::kCommand, 0x1080, static_cast<u16>(fad - 1), 0x0080, 3);                    // CdPlay
    s.add(Script::kWaitSectors, 0x5100, 0, 0x0100, 0, 0, 1);
    s.add(Script::kReadData, 0x6100, 0, 0x0100, 1, 0, 512, 0x06018000);
    boot(s, 900);

    EXPECT_EQ(answer(rootScope, 1), top.size() - 2) << "files in the root";
    EXPECT_EQ(answer(rootScope, 2), 0x0100) << "end flag, scope start 2";
    EXPECT_EQ(answer(rootScope, 3), 2);
    EXPECT_EQ(answer(rootInfo, 1), 6 * (top.size() - 2)) << "info words";
    for (u32 i = 2; i < top.size(); ++i) {
        const u32 at = 0x06060000 + 12 * (i - 2);
        EXPECT_EQ(u32{ramWord(at)} << 16 | ramWord(at + 2), top[i].lba + 150) << top[i].name;
        EXPECT_EQ(u32{ramWord(at + 4)} << 16 | ramWord(at + 6), top[i].size) << top[i].name;
        EXPECT_EQ(ramWord(at + 10) & 0x02, top[i].directory ? 2 : 0) << top[i].name;
    }
    EXPECT_TRUE(holds(0x06010000, files["A.TXT"]));
    EXPECT_TRUE(holds(0x06012000, files["AB.TXT"]));
    EXPECT_TRUE(holds(0x06020000, files["BIG.BIN"]));
    EXPECT_TRUE(holds(0x06014000, files["D1/D2/D3/DEEP.BIN"]));
    EXPECT_EQ(answer(empty, 0) >> 8, CDB::kPaused) << "a plain answer, no REJECT or ERROR";

    EXPECT_EQ(answer(fullScope, 1), 254) << "the table holds 254 files";
    EXPECT_EQ(answer(fullScope, 2), 0x0000) << "end flag clear";
    EXPECT_EQ(answer(nextScope, 1), kManyFiles + 2 - 256);
    EXPECT_EQ(answer(nextScope, 2), 0x0100);
    EXPECT_EQ(answer(nextScope, 3), 256);
    EXPECT_EQ(u32{ramWord(0x06061000)} << 16 | ramWord(0x06061002), many[late].lba + 150);
    EXPECT_EQ(u32{ramWord(0x06061004)} << 16 | ramWord(0x06061006), 380u);
    EXPECT_TRUE(holds(0x06016000, pattern(380, 380)));

    std::vector<u8> sector(files["BIG.BIN"].begin() + 5 * 2048, files["BIG.BIN"].begin() + 6 * 2048);
    EXPECT_TRUE(holds(0x06018000, sector)) << "the filtered play stored its middle sector";
    EXPECT_EQ(sys->cdb().buffer(1).count(), 1u) << "only the sector in range";
    EXPECT_FALSE(log.contains("Bad director record")) << log.text();
}

INSTANTIATE_TEST_SUITE_P(RockRidge, CdbDisc, ::testing::Bool());

}  // namespace
