// The settings reader: the input is the file; every section and key it
// yields is looked up by name and read as a number, and the text it would
// write back is built.
#include "core/base/ini.h"
#include "fuzz_disc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::folder() + "fuzz.ini";
    fuzz::writeBytes(path, data, size);
    INI ini(path, true);
    for (const IniSection& section : ini.sections()) {
        IniSection& found = ini.findSection(section.name);
        for (const IniEntry& entry : section.entries)
            (void)found.findKey(entry.key).getInt();
    }
    (void)ini.findSection("Path").findKey("sat_bios").value;
    (void)ini.save();
    return 0;
}
