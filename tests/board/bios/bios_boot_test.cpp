// Booting a disc through the built-in BIOS. The disc is made by xorriso from
// tests/board/bios/disc/ plus the assembled first file, with an initial
// program whose system header is written here from the header layout.
#include "bios_fixture.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>

#include "cd/media/bin.h"
#include "support/files.h"

namespace {

constexpr u32 kIpCodeOffset = 0xE00;
constexpr u32 kIpFileBytes = 0x1800;  // the code, then a pattern: three sectors' worth
constexpr u32 kFirstRead = 0x06004000;
constexpr u32 kResult = 0x06080000;

void putText(std::vector<u8>& out, u32 offset, u32 length, const std::string& text)
{
    for (u32 i = 0; i < length; ++i)
        out[offset + i] = i < text.size() ? static_cast<u8>(text[i]) : ' ';
}

// The initial program: system header, zeros up to the code at 0xE00, the
// code, then a pattern.
std::vector<u8> makeInitialProgram(u32 ipSize)
{
    std::vector<u8> ip(kIpFileBytes, 0);
    putText(ip, 0x00, 16, "SEGA SEGASATURN");
    putText(ip, 0x10, 16, "SEGA TP KEST");
    putText(ip, 0x20, 10, "T-99901G");
    putText(ip, 0x2A, 6, "V1.000");
    putText(ip, 0x30, 8, "20261207");
    putText(ip, 0x38, 8, "CD-1/1");
    putText(ip, 0x40, 10, "JTUE");
    putText(ip, 0x50, 16, "J");
    putText(ip, 0x60, 112, "KEST BIOS BOOT TEST");
    storeBe32(&ip[0xE0], ipSize);
    storeBe32(&ip[0xE8], 0);
    storeBe32(&ip[0xEC], 0);
    storeBe32(&ip[0xF0], kFirstRead);
    storeBe32(&ip[0xF4], 0);
    const std::vector<u8> code = loadProgram("sh2", "bios_ip");
    std::copy(code.begin(), code.end(), ip.begin() + kIpCodeOffset);
    for (u32 i = kIpCodeOffset + static_cast<u32>(code.size()); i < kIpFileBytes; ++i)
        ip[i] = static_cast<u8>(i * 7 + 1);
    return ip;
}

struct Disc {
    std::string path;
    std::vector<u8> image;
    u32 rootSector = 0;
};

// One disc for the whole suite; tests that need a damaged one patch a copy.
class DiscBuilder {
public:
    static const Disc& get()
    {
        static DiscBuilder builder;
        return builder.m_disc;
    }

private:
    DiscBuilder()
    {
        const std::vector<u8> code = loadProgram("sh2", "bios_ip");
        const u32 ipSize = kIpCodeOffset + static_cast<u32>(code.size());
        const std::vector<u8> ip = makeInitialProgram(ipSize);
        const std::string ipPath = m_dir.file("ip.bin");
        std::ofstream(ipPath, std::ios::binary).write(reinterpret_cast<const char*>(ip.data()), ip.size());
        m_disc.path = m_dir.file("boot.iso");
        const std::string command = "xorriso -as mkisofs -quiet -V KEST_BOOT -o " + m_disc.path + " -G " + ipPath +
                                    " -graft-points /=" + KEST_SOURCE_DIR + "/tests/board/bios/disc /0PROGRAM.BIN=" +
                                    KEST_PROGRAMS_DIR + "/sh2/bios_first.bin 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[512];
        while (pipe && fgets(buffer, sizeof buffer, pipe))
            m_output += buffer;
        if (pipe)
            pclose(pipe);
        m_disc.image = readBytes(m_disc.path);
        if (m_disc.image.size() > 17 * 2048)
            m_disc.rootSector = loadBe32(&m_disc.image[16 * 2048 + 162]);
    }

    TempDir m_dir;
    Disc m_disc;
    std::string m_output;
};

class BiosBoot : public BiosTest {
protected:
    void SetUp() override
    {
        BiosTest::SetUp();
        disc = &DiscBuilder::get();
        ASSERT_GT(disc->image.size(), 20u * 2048) << "xorriso made no disc";
        ASSERT_EQ(std::memcmp(disc->image.data(), "SEGA SEGASATURN ", 16), 0);
        header.ipSize = loadBe32(&disc->image[0xE0]);
        header.firstReadAddress = loadBe32(&disc->image[0xF0]);
        std::memset(ram() + 0x2000, 0xEE, 0x8000);
    }
    void insert(const std::string& path) { sys->setMedia(std::make_shared<CBin>(path)); }
    void insertPatched(const std::function<void(std::vector<u8>&)>& patch)
    {
        std::vector<u8> image = disc->image;
        patch(image);
        const std::string path = dir.file("patched.iso");
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
        insert(path);
    }
    // Byte offset in the image of the root directory's record number n.
    u32 record(const std::vector<u8>& image, int n)
    {
        u32 offset = disc->rootSector * 2048;
        for (int i = 0; i < n; ++i)
            offset += image[offset];
        return offset;
    }
    bool loadedAt(u32 address, const u8* bytes, u32 size)
    {
        return std::memcmp(ram() + (address & 0xFFFFF), bytes, size) == 0;
    }

    const Disc* disc = nullptr;
    DiscHeader header;
    TempDir dir;
};

}  // namespace

TEST_F(BiosBoot, BootsTheDiscAndRunsItsProgramWithInterrupts)
{
    insert(disc->path);
    ASSERT_TRUE(bios().bootDisc(header));
    EXPECT_TRUE(loadedAt(0x06002000, disc->image.data(), header.ipSize));
    EXPECT_EQ(ram()[0x2000 + header.ipSize], 0xEE) << "nothing past the IP size";
    const std::vector<u8> first = loadProgram("sh2", "bios_first");
    EXPECT_TRUE(loadedAt(kFirstRead, first.data(), static_cast<u32>(first.size())));

    // Powered on as the emulator does after the boot, with the drive running.
    // The initial program opens V-BLANK-IN through SYS_SETSCUIM; the SCU
    // must see that mask for any interrupt to arrive.
    sys->powerOn();
    for (int field = 0; field < 14; ++field)
        sys->runFrame();
    EXPECT_EQ(ramLong(kResult), 0x4B455354u) << "the program finished";
    EXPECT_GE(ramLong(kResult + 4), 10u);
    EXPECT_LE(ramLong(kResult + 4), 14u);
    EXPECT_EQ(ramLong(kResult + 8), 0x100u) << "R0 in the handler: 4 x vector";
    EXPECT_EQ(ramLong(kResult + 12), 0xFFFFFFFFu) << "mask copy while handling V-BLANK-IN";
    EXPECT_EQ(ramLong(kResult + 16) & 0xF0, 0xF0u) << "handler runs at level 15";
    EXPECT_EQ(ramLong(kResult + 20), 0x06004100u) << "SYS_GETUINT";
    EXPECT_EQ(ramLong(kResult + 24), 0x100u);
    EXPECT_EQ(ramLong(kResult + 28), 0xFFFFFFFEu) << "mask copy restored";
    EXPECT_EQ(ramLong(kResult + 32) & 0xF0, 0u);
    EXPECT_TRUE(log.contains("BIOS: SYS_INIT\n"));
    EXPECT_EQ(log.text().find("Address error"), std::string::npos) << log.text().substr(0, 2000);
    EXPECT_EQ(log.text().find("not implemented"), std::string::npos);
}

TEST_F(BiosBoot, InitialProgramSizesCountInBytes)
{
    insert(disc->path);
    header.ipSize = 4097;
    ASSERT_TRUE(bios().bootDisc(header));
    EXPECT_TRUE(loadedAt(0x06002000, disc->image.data(), 4097));
    EXPECT_EQ(ram()[0x2000 + 4097], 0xEE);

    std::memset(ram() + 0x2000, 0xEE, 0x2000);
    header.ipSize = 0;
    ASSERT_TRUE(bios().bootDisc(header));
    EXPECT_EQ(ram()[0x2000], 0xEE);
}

TEST_F(BiosBoot, LengthsFromTheDiscAreCheckedBeforeAnythingIsCopied)
{
    insert(disc->path);
    // Larger than work RAM above the IP address.
    header.ipSize = 0x000FE001;
    EXPECT_FALSE(bios().bootDisc(header));
    EXPECT_TRUE(log.contains("BIOS: IP does not fit in work RAM [IPS: 000FE001]\n"));
    EXPECT_EQ(ram()[0x2000], 0xEE);

    // Fits in memory, but the disc is not that long.
    header.ipSize = 0x000F0000;
    EXPECT_FALSE(bios().bootDisc(header));
    EXPECT_TRUE(log.contains("BIOS: IP runs past the data track [IPS: 000F0000]\n"));
    EXPECT_EQ(ram()[0x2000], 0xEE);

    // A first read address that leaves no room for the file.
    header.ipSize = 0x100;
    header.firstReadAddress = 0x060FFF80;
    EXPECT_FALSE(bios().bootDisc(header));
    EXPECT_TRUE(log.contains("BIOS: First file does not fit in work RAM [RA: 060FFF80, S: 00000120]\n"));
    EXPECT_EQ(ram()[0xFFF80], 0);
    EXPECT_TRUE(loadedAt(0x06002000, disc->image.data(), 0x100)) << "the IP stays loaded";

    // Work RAM-L is a valid destination, in the cache-through view too.
    header.firstReadAddress = 0x20200000;
    EXPECT_TRUE(bios().bootDisc(header));
    const std::vector<u8> first = loadProgram("sh2", "bios_first");
    EXPECT_EQ(std::memcmp(sys->memory().workRamLow.get(), first.data(), first.size()), 0);
}

TEST_F(BiosBoot, DamagedDirectoriesStopTheFirstFile)
{
    const std::vector<u8> first = loadProgram("sh2", "bios_first");
    struct Case {
        const char* line;
        std::function<void(std::vector<u8>&)> patch;
    };
    const Case cases[] = {
        {"BIOS: Can't find PVD\n", [](std::vector<u8>& image) { image[16 * 2048 + 1] = 'X'; }},
        {"BIOS: Can't read sector [FAD: ",
         [](std::vector<u8>& image) { storeBe32(&image[16 * 2048 + 162], 0x00100000); }},
        {"BIOS: Bad directory record [FAD: ", [this](std::vector<u8>& image) { image[record(image, 0)] = 0; }},
        {"BIOS: Bad directory record [FAD: ", [this](std::vector<u8>& image) { image[record(image, 1)] = 10; }},
        {"BIOS: First file runs past the data track [FAD: ",
         [this](std::vector<u8>& image) { storeBe32(&image[record(image, 2) + 14], 0x00800000); }},
        {"BIOS: First file runs past the data track [FAD: ",
         [this](std::vector<u8>& image) { storeBe32(&image[record(image, 2) + 6], 0xFFFFFFF0); }},
    };
    for (const Case& c : cases) {
        log.clear();
        std::memset(ram() + 0x2000, 0xEE, 0x8000);
        insertPatched(c.patch);
        EXPECT_FALSE(bios().bootDisc(header)) << c.line;
        EXPECT_TRUE(log.contains(c.line)) << c.line << "\n" << log.text();
        EXPECT_TRUE(loadedAt(0x06002000, disc->image.data(), header.ipSize)) << c.line;
        EXPECT_EQ(ram()[kFirstRead & 0xFFFFF], 0xEE) << c.line;
    }

    // The untouched disc passes the same way.
    insertPatched([](std::vector<u8>&) {});
    EXPECT_TRUE(bios().bootDisc(header));
    EXPECT_TRUE(loadedAt(kFirstRead, first.data(), static_cast<u32>(first.size())));
}

TEST_F(BiosBoot, NoDiscLoadsNothing)
{
    EXPECT_FALSE(bios().bootDisc(header));
    EXPECT_TRUE(log.contains("BIOS: No disc to boot\n"));
    EXPECT_EQ(ram()[0x2000], 0xEE);
}

// A disc the BIOS refused never runs: the reset leaves the master idling in
// the BIOS, and a disc that loads afterwards starts again.
TEST_F(BiosBoot, RefusedDiscLeavesTheMasterInTheBios)
{
    insert(disc->path);
    const u32 ipSize = header.ipSize;
    header.ipSize = 0x000FE001;
    EXPECT_FALSE(bios().bootDisc(header));
    EXPECT_EQ(bios().refusal(), "IP does not fit in work RAM [IPS: 000FE001]");
    sys->powerOff();
    sys->powerOn();
    for (int field = 0; field < 3; ++field)
        sys->runFrame();
    EXPECT_EQ(master().getPC(), BIOS::kIdle);
    EXPECT_FALSE(log.contains("BIOS: SYS_INIT")) << log.text().substr(0, 2000);

    header.ipSize = ipSize;
    ASSERT_TRUE(bios().bootDisc(header));
    EXPECT_EQ(bios().refusal(), "");
    sys->powerOff();
    sys->powerOn();
    for (int field = 0; field < 3; ++field)
        sys->runFrame();
    EXPECT_TRUE(log.contains("BIOS: SYS_INIT"));
}
