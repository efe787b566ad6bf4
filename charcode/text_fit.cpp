// Fitting text into fixed-width rows, byte limits and fixed-width fields
// without splitting a double-byte character.
#include <algorithm>
#include <climits>
#include <cstring>

#include "charcode/charcode.h"
#include "diag/memory.h"

namespace {

// Length of the longest run of whole characters of `text` (Shift-JIS when
// `sjis`, else EUC) that fits in `limit` bytes.
std::size_t WholeCharacters(const unsigned char* text, std::size_t limit, bool sjis) {
    std::size_t kept = 0;
    while (text[kept] != 0) {
        const unsigned char b = text[kept];
        const bool single = b < 0x80 || (sjis && b >= 0xA0 && b <= 0xDF) || text[kept + 1] == 0;
        const std::size_t size = single ? 1 : 2;
        if (kept + size > limit) {
            break;
        }
        kept += size;
    }
    return kept;
}

}  // namespace

int SplitIntoRows(const char* source, char* rows, int rowCount, int rowWidth) {
    if (rowCount <= 0) {
        return 0;
    }
    if (rowWidth > 0) {
        std::memset(rows, 0,
                    static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(rowWidth));
    }
    const auto* in = reinterpret_cast<const unsigned char*>(source);
    int row = 0;
    int used = 0;
    while (*in != 0) {
        const int size = *in >= 0x80 && in[1] != 0 ? 2 : 1;
        if (rowWidth < size + 1) {
            return -1;
        }
        if (used + size > rowWidth - 1) {
            ++row;
            used = 0;
            // The last row is kept empty; a lone row keeps what it took.
            if (row >= rowCount - 1) {
                return row;
            }
        }
        std::memcpy(
            rows + static_cast<std::size_t>(row) * static_cast<std::size_t>(rowWidth) + used, in,
            static_cast<std::size_t>(size));
        used += size;
        in += size;
    }
    return used > 0 ? row + 1 : row;
}

int TruncateText(char* text, int length) {
    auto* s = reinterpret_cast<unsigned char*>(text);
    const int limit = std::max(length, 0);
    int i = 0;
    while (i < limit) {
        if (s[i] == 0) {
            return i;  // fits already
        }
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        if (i == limit - 1) {
            // A first byte whose second byte lies past the limit goes. s[limit]
            // is still inside the string, as s[i] was not its terminator.
            s[i] = 0;
            s[limit] = 0;
            return i;
        }
        if (s[i + 1] == 0) {
            return i + 1;  // ends in a lone first byte, within the limit
        }
        i += 2;
    }
    // All `limit` bytes are text, so s[limit] is at worst the terminator.
    s[limit] = 0;
    return limit;
}

char* ConvertFieldArray(char* fields, int count, int width, int direction) {
    if (direction != 1 && direction != 2) {
        return nullptr;
    }
    if (count <= 0 || width <= 0) {
        return fields;
    }
    // One block: a terminated copy of the field (its text need not end within
    // the field) and the result, which may be twice as long plus terminator.
    const auto w = static_cast<std::size_t>(width);
    auto* work = static_cast<char*>(MemAlloc(3 * w + 2));
    if (work == nullptr) {
        return nullptr;
    }
    char* source = work;
    char* result = work + w + 1;
    const int resultCapacity = static_cast<int>(std::min<std::size_t>(2 * w + 1, INT_MAX));
    for (int i = 0; i < count; ++i) {
        char* field = fields + static_cast<std::size_t>(i) * w;
        const auto textLength = static_cast<std::size_t>(std::find(field, field + w, '\0') - field);
        std::memcpy(source, field, textLength);
        source[textLength] = 0;
        if (direction == 1) {
            EucToSjis(source, result, resultCapacity);
        } else {
            SjisToEuc(source, result, resultCapacity);
        }
        // Keep the field terminated within its width: whole characters only.
        const std::size_t kept =
            WholeCharacters(reinterpret_cast<unsigned char*>(result), w - 1, direction == 1);
        std::memcpy(field, result, kept);
        std::memset(field + kept, 0, w - kept);
    }
    MemFree(work);
    return fields;
}
