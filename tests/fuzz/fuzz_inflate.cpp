// Fuzz target: any bytes as a zlib stream of the image data. Whenever the direct
// inflater takes it (its check value made right for what came out, so that the
// search is not stopped there), zlib, asked as the PNG decoder asks it, must take
// it too and give the same bytes. The output size is read from the first two
// bytes, the stream is the rest.

#include "samples/inflate_whole.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t expected = std::size_t(data[0]) << 8 | data[1];
    std::vector<unsigned char> stream(data + 2, data + size);
    std::vector<unsigned char> here(expected + inflateSpareRoom);
    if (!inflateWholeUnchecked(stream.data(), stream.size(), here.data(), expected))
        return 0;
    const uLong check = adler32(adler32(0, nullptr, 0), here.data(), uInt(expected));
    for (int i = 0; i < 4; ++i)
        stream[stream.size() - 4 + std::size_t(i)] = std::uint8_t(check >> (24 - 8 * i));
    std::vector<unsigned char> again(expected + inflateSpareRoom);
    if (!inflateWhole(stream.data(), stream.size(), again.data(), expected) || std::memcmp(here.data(), again.data(), expected) != 0)
        std::abort();
    z_stream z{};
    if (inflateInit2(&z, (stream[0] >> 4) + 8) != Z_OK)
        std::abort();
    std::vector<unsigned char> there(expected + 258);
    z.next_in = stream.data();
    z.avail_in = uInt(stream.size());
    z.next_out = there.data();
    z.avail_out = uInt(there.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_STREAM_END || z.avail_in != 0 || z.total_out != expected || std::memcmp(here.data(), there.data(), expected) != 0)
        std::abort();
    inflateEnd(&z);
    return 0;
}
