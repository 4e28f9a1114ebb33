// The Intel HEX reader on any text, and the writer's records read back.
#include "i2c/hexfile.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The text as a file for a 24C02 and for a 24C512: what fits the small
    // chip reads the same for the large one.
    std::string text(reinterpret_cast<const char*>(data), size), error;
    HexImage small, large;
    bool readSmall = HexParse(text, 256, &small, &error);
    FUZZ_CHECK(readSmall || !error.empty());
    bool readLarge = HexParse(text, 65536, &large, &error);
    FUZZ_CHECK(readLarge || !error.empty());
    if (readLarge) {
        FUZZ_CHECK(large.data.size() == large.given.size() && large.data.size() <= 65536);
        FUZZ_CHECK(readSmall == (large.data.size() <= 256));
        // Written again and read back, the image is the same bytes.
        HexImage again;
        std::string written = HexFormat(large.data.data(), static_cast<int>(large.data.size()), 0);
        FUZZ_CHECK(HexParse(written, 65536, &again, &error) && again.data == large.data);
    }
    FUZZ_CHECK(!readSmall || (readLarge && small.data == large.data && small.given == large.given));

    // The input's bytes as an image just below a 64 KiB boundary, which the
    // records must not cross: read back, exactly those offsets are given.
    int count = static_cast<int>(size < 600 ? size : 600);
    int offset = 0x10000 - (count % 37);
    HexImage image;
    FUZZ_CHECK(HexParse(HexFormat(data, count, offset), offset + count, &image, &error));
    FUZZ_CHECK(image.data.size() == static_cast<size_t>(count ? offset + count : 0));
    for (int i = 0; i < count; i++)
        FUZZ_CHECK(image.given[static_cast<size_t>(offset + i)] && image.data[static_cast<size_t>(offset + i)] == data[i]);
    FUZZ_CHECK(!count || !image.given[static_cast<size_t>(offset - 1)]);
    return 0;
}
