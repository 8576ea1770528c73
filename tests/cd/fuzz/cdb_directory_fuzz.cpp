// The CD block's directory parser on hostile directory sectors: a record
// alone at the exact input size, then the input as a whole sector walked
// from two scope starts.
#include <cstring>
#include <vector>

#include "board/scu/scu.h"
#include "cd/cdb/cdb.h"
#include "core/base/object.h"

// The SCU is not built in: nothing here raises an interrupt.
void SCU::irqExternal(int) {}

namespace {

void discard(void*, const char*, std::size_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDB* cdb = [] {
        logSink().setWriter(discard, nullptr);
        return new CDB(nullptr, nullptr);
    }();
    std::vector<u8> record(data, data + size);
    CDB::File entry;
    cdb->parseDirectoryRecord(entry, record.data(), static_cast<u32>(record.size()));

    std::vector<u8> sector(2048, 0);
    std::memcpy(sector.data(), data, size < sector.size() ? size : sector.size());
    for (u32 scope : {2u, 5u}) {
        cdb->clearFiles(scope);
        cdb->walkDirectorySector(sector.data(), static_cast<u32>(sector.size()));
        if (cdb->filesStored() > 254)
            __builtin_trap();
    }
    return 0;
}
