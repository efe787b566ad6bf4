// The four message converters on arbitrary text with capacities from 1 byte
// up. The destination is a heap block of exactly the capacity, so any write
// past it is caught; a successful result is terminated within it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "charcode/charcode.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const auto which = in.Take<uint8_t>() % 4;
    const auto wanted = in.Take<uint16_t>();
    auto* source = static_cast<char*>(std::malloc(in.size + 1));
    std::memcpy(source, in.data, in.size);
    source[in.size] = '\0';
    // Up to twice the text and a little more, so both cut and whole results occur.
    const int capacity = 1 + static_cast<int>(wanted % (2 * in.size + 8));
    auto* destination = static_cast<char*>(std::malloc(static_cast<std::size_t>(capacity)));
    std::memset(destination, 0x55, static_cast<std::size_t>(capacity));

    int result = 0;
    int failure = 0;  // the converter's one failure code
    switch (which) {
        case 0:
            result = EucToSjis(source, destination, capacity);
            failure = -7;
            break;
        case 1:
            result = SjisToEuc(source, destination, capacity);
            failure = -7;
            break;
        case 2:
            result = Utf8ToSjis(source, destination, capacity);
            failure = -12;
            break;
        default:
            result = SjisToUtf8(source, destination, capacity);
            failure = -12;
            break;
    }
    if (result != 0 && result != failure) {
        std::abort();
    }
    if (result == 0 && strnlen(destination, static_cast<std::size_t>(capacity)) ==
                           static_cast<std::size_t>(capacity)) {
        std::abort();  // no terminator inside the capacity
    }
    std::free(destination);
    std::free(source);
    return 0;
}
