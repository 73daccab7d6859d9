// Fuzzes the compressed-sound unpacker: any stream, unpacked size, ring size
// and write position must stay inside the source, the scratch and the ring.
#include <cstdint>
#include <cstring>
#include <vector>

#include "movie/sound_unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    // Head: unpacked size (12 bits), ring size in 4-byte steps, write offset.
    uint32_t byteCount = data[0] | (data[1] & 0x0F) << 8;
    uint32_t ringSize = 1 + (data[2] | (data[3] & 0x3F) << 8);
    uint32_t offset = (data[4] | data[5] << 8) % ringSize;
    data += 6;
    size -= 6;
    std::vector<uint8_t> source(data, data + size);  // exact size: over-reads are caught
    std::vector<uint32_t> scratch(kSoundScratchBytes / 4);
    std::vector<uint8_t> ring(ringSize);
    UnpackSound(source.empty() ? nullptr : source.data(), static_cast<uint32_t>(source.size()), byteCount,
                scratch.data(), ring.data(), ring.data() + ring.size(), ring.data() + offset);
    return 0;
}
