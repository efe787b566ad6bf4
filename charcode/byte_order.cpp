// Host byte order and unconditional byte reversal of values and arrays.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>

#include "charcode/charcode.h"

namespace {

template <typename T>
T Reversed(T value) {
    auto bytes = std::bit_cast<std::array<std::byte, sizeof(T)>>(value);
    std::ranges::reverse(bytes);
    return std::bit_cast<T>(bytes);
}

template <typename T>
void ReverseArray(T* values, int count) {
    ReverseElements(values, count, sizeof(T));
}

}  // namespace

int IsLittleEndian() {
    return std::endian::native == std::endian::little ? 1 : 0;
}

int ReverseBytes(void* buffer, int length) {
    if (length > 1) {
        auto* bytes = static_cast<std::byte*>(buffer);
        std::reverse(bytes, bytes + length);
    }
    return 0;
}

void ReverseElements(void* buffer, int count, int elementSize) {
    if (elementSize < 2) {
        return;
    }
    auto* bytes = static_cast<std::byte*>(buffer);
    for (int i = 0; i < count; ++i) {
        ReverseBytes(bytes + static_cast<std::size_t>(i) * static_cast<std::size_t>(elementSize),
                     elementSize);
    }
}

uint16_t SwapU16(uint16_t value) {
    return Reversed(value);
}
uint32_t SwapU32(uint32_t value) {
    return Reversed(value);
}
uint64_t SwapU64(uint64_t value) {
    return Reversed(value);
}
int16_t SwapS16(int16_t value) {
    return Reversed(value);
}
int32_t SwapS32(int32_t value) {
    return Reversed(value);
}
int32_t SwapLong(int32_t value) {
    return Reversed(value);
}
int64_t SwapS64(int64_t value) {
    return Reversed(value);
}
float SwapFloat(float value) {
    return Reversed(value);
}
double SwapDouble(double value) {
    return Reversed(value);
}
double SwapLongDouble(double value) {
    return Reversed(value);
}

void SwapU16Array(uint16_t* values, int count) {
    ReverseArray(values, count);
}
void SwapU32Array(uint32_t* values, int count) {
    ReverseArray(values, count);
}
void SwapU64Array(uint64_t* values, int count) {
    ReverseArray(values, count);
}
void SwapS16Array(int16_t* values, int count) {
    ReverseArray(values, count);
}
void SwapS32Array(int32_t* values, int count) {
    ReverseArray(values, count);
}
void SwapLongArray(int32_t* values, int count) {
    ReverseArray(values, count);
}
void SwapS64Array(int64_t* values, int count) {
    ReverseArray(values, count);
}
void SwapFloatArray(float* values, int count) {
    ReverseArray(values, count);
}
void SwapDoubleArray(double* values, int count) {
    ReverseArray(values, count);
}
void SwapLongDoubleArray(double* values, int count) {
    ReverseArray(values, count);
}
