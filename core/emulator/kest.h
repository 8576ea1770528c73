#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/base/disc_header.h"
#include "core/emulator/game_database.h"
#include "core/emulator/media.h"
#include "core/emulator/path_parts.h"
#include "core/machine/system.h"

class Cartridge;
class CCd;
class CDD;
class INI;
class Peripheral;
class zipfile;

// The emulator object the host drives: it owns the machine, holds the parts
// chosen when a game is opened (cartridge, disc, the host's real drive), runs
// the machine field by field and keeps the cartridge and EEPROM files.
// Relative file names resolve against the data folder, which defaults to the
// executable's folder. Several MB: allocate it.
class Kest : public CEmuX {
public:
    static constexpr s32 kSoftResetFields = 60;
    // The field count at which the soft reset lets go of the buttons.
    static constexpr s32 kSoftResetRelease = 56;
    // Start, A, C and B in the first host pad byte, active low.
    static constexpr u8 kSoftResetButtons = 0x0F;

    Kest();
    ~Kest() override;

    bool init(void* window) override;
    void start() override;
    void stop() override;
    bool resume() override;
    bool pause() override;
    std::string getInfo(int index) override;
    void reset() override;
    // The processor of that index (0 master SH-2, 1 slave SH-2, 2 68000).
    void* getPart(int index) override;

    // Controller factories; the host's subclass binds them to its input.
    virtual std::shared_ptr<Peripheral> createKeyboard();
    virtual std::shared_ptr<Peripheral> createMouse();
    virtual std::shared_ptr<Peripheral> createMDPad3B();
    virtual std::shared_ptr<Peripheral> createMDPad6B();
    virtual std::shared_ptr<Peripheral> createPad();
    virtual std::shared_ptr<Peripheral> createJoystick();
    virtual std::shared_ptr<Peripheral> createStunner();

    // Called by the machine at every V-BLANK-IN.
    bool onHook(Device* device) override;

    // Opens a disc image, an arcade ROM set or (empty path) the configured
    // boot file, and sets the machine up for it: prepareOpen, then stop when
    // a game runs, then finishOpen. False when nothing can start; a game
    // that runs then runs on as it was.
    bool open(const std::string& path, int mode);
    // Decides whether the file can start, reading all it needs without
    // touching the machine or its files. False when it cannot: a file of no
    // kind that opens, a disc that cannot be opened or read from its start,
    // a disc the built-in BIOS cannot start (or none), a zip that is no
    // known set, an arcade BIOS missing or in the wrong byte order, a set
    // member missing or damaged, or an open the stop check cut short.
    // openError() then says why.
    bool prepareOpen(const std::string& path, int mode);
    // Sets the machine up for the file prepareOpen accepted; a game that
    // ran is stopped first. False only for the disc that game was reading
    // (Boot, or its real drive opened again), which is tried here.
    bool finishOpen();
    // Lets go of what prepareOpen read, for an open given up before it ends.
    void dropOpen() { m_plan.reset(); }
    // Asked between the ROM files of a set and while each is read, so a
    // request to end the program (a signal) is answered during a long open.
    using StopCheck = bool (*)();
    void setStopCheck(StopCheck check) { m_stopCheck = check; }
    bool stopRequested() const { return m_stopCheck && m_stopCheck(); }
    bool openStopped() const { return m_openStopped; }

    CSystem& getSystem() { return m_system; }
    bool prepare(std::shared_ptr<CDD> realDrive);
    void softReset();
    s32 softResetCounter() const { return m_softReset; }

    // The held cartridge, mapped into the machine; null ejects it.
    void insertCartridge(std::shared_ptr<Cartridge> cartridge);
    Cartridge* cartridge() const { return m_cartridge.get(); }

    // Clears the backup memory, then loads it from path, else (path absent)
    // from fallback, created from the cleared memory when absent too, and
    // makes the machine write it back to the file that was used. A file that
    // is not loaded whole is refused: the memory stays blank and the file
    // is never written.
    bool loadBackupMemory(const std::string& path, const std::string& fallback, u32 size, u32 mask);
    // The arcade EEPROM's file; only a run that loaded it whole, or created
    // it, writes it back.
    bool loadEeprom();
    // Writes the EEPROM's file when the run loaded it; stop, and each field
    // after the game has changed the chip and left it alone for a field.
    bool saveEeprom();
    // To the file the backup cartridge was loaded from when it was made.
    bool saveBackupCartridge();
    // Every save the game changed and its file lacks, and every file this
    // run may write (which it rewrites as it holds them): the stop's writes,
    // and those of a program ended without one.
    void writeSaves();
    // Lets go of every save file (backup memory, cartridge, EEPROM,
    // battery), so another program may use them: the stop, after its
    // writes, and an open that fails after loading them.
    void releaseSaves();

    void setDataFolder(std::string folder) { m_dataFolder = std::move(folder); }
    const std::string& dataFolder() const { return m_dataFolder; }
    std::string dataPath(const std::string& name) const;

    char areaLetter() const { return m_areaLetter; }
    bool builtinBios() const { return m_builtinBios; }
    const DiscHeader& header() const { return m_header; }
    // The disc the last open named, and whether it failed to open.
    const std::string& discPath() const { return m_discPath; }
    bool discFailed() const { return m_discFailed; }
    // Why the built-in BIOS refused to boot the console disc last opened;
    // empty when it did not refuse. A refused disc never runs: the machine
    // stays in the BIOS.
    const std::string& bootRefusal() const { return m_bootRefusal; }
    // Why the last open answered false: for an arcade set the fault below,
    // else the first error line it logged about it (tag and text, as the
    // log shows it); empty after one that can start.
    const std::string& openError() const { return m_openError; }
    // Why the arcade game last opened cannot run as its set describes it (no
    // BIOS, a BIOS in the wrong byte order, no database entry, a member
    // missing or damaged); empty when it can. The log holds the same.
    const std::string& arcadeFault() const { return m_arcadeFault; }
    // Every file the opened game reads or writes: settings, database, BIOS,
    // disc, ROM set and saves (some may not exist yet).
    std::vector<std::string> filesInUse() const;

private:
    // What prepareOpen found and finishOpen puts in place.
    struct OpenPlan {
        std::shared_ptr<INI> settings;
        s32 machineKind = kConsole;
        std::string target;    // the file named, or the one kest.ini names
        std::string discName;  // the disc as messages name it
        FileKind kind = FileKind::kUnknown;
        bool builtinBios = false;
        std::vector<u8> bios;  // the BIOS image read, arcade ones swapped
        std::string biosPath;
        std::shared_ptr<CCd> disc;
        bool discLater = false;  // the running game's disc, tried once it stops
        DiscHeader header;
        char areaLetter = 'J';
        std::shared_ptr<Cartridge> cartridge;
    };

    // The console road.
    bool planConsole(OpenPlan& plan);
    bool planDisc(OpenPlan& plan);
    bool loadSaturnBios(OpenPlan& plan);
    void readRegion(INI& settings);
    void readCartridge(INI& settings);
    void readControllers(INI& settings);
    void attach(int port, std::shared_ptr<Peripheral> (Kest::*factory)());
    void detachController(int port);
    bool openDisc(OpenPlan& plan);
    bool readableSystemArea(const OpenPlan& plan);
    bool startSaturnGame(OpenPlan& plan);
    void createCartridge(INI& settings);
    bool loadCartridgeFile(u8* data, u32 size, const std::string& path);
    // A BIOS image that does not load whole counts as missing.
    // why, when given, receives the reason of a failure.
    bool readBiosFile(const std::string& path, OpenPlan& plan, const char** why = nullptr);
    // kest.ini, or the settings the window writes when it is missing.
    void readSettings(INI& settings) const;
    // The arcade road.
    bool planArcade(OpenPlan& plan);
    bool readTitanBios(OpenPlan& plan);
    bool readTitanRomSet(OpenPlan& plan, zipfile& archive, const std::vector<GameDatabase::RomFile>& files,
                         const std::string& game, const std::string& setName);
    void loadTitanBios(OpenPlan& plan);
    void startTitanGame();
    // Both roads end here.
    void setupMode(INI& settings);

    // Declared first: the saves leave it as they go.
    SaveSet m_saves;
    CSystem m_system;
    std::shared_ptr<Cartridge> m_cartridge;
    std::shared_ptr<CCd> m_disc;
    std::shared_ptr<CDD> m_realDrive;
    s32 m_softReset = 0;
    SaveFile m_eepromFile{"EEPROM"};
    SaveFile m_cartridgeFile{"backup cartridge"};
    std::string m_discPath;
    bool m_discFailed = false;
    std::string m_bootRefusal;
    std::string m_arcadeFault;
    StopCheck m_stopCheck = nullptr;
    bool m_openStopped = false;
    std::unique_ptr<OpenPlan> m_plan;
    std::string m_openError;
    // The name the held disc was opened by, which Boot keeps.
    std::string m_heldDiscPath;
    std::string m_biosPath;
    std::string m_romSetPath;
    char m_areaLetter = 'J';
    bool m_builtinBios = false;
    bool m_autoRegion = false;
    bool m_autoCartridge = false;
    DiscHeader m_header;
    std::string m_dataFolder;
};
