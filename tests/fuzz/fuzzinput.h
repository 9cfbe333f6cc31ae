// Reading a fuzzer's bytes as numbers, a small FuzzedDataProvider: the
// fuzz targets build for libFuzzer with clang and, for the corpus replay
// (replay_main.cpp), with the normal compiler. Bytes past the end read 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t left() const { return size_ - pos_; }
    const uint8_t* rest() const { return data_ + pos_; }

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return uint16_t(u8() | u8() << 8); }
    uint32_t u32() { return uint32_t(u16()) | uint32_t(u16()) << 16; }
    int32_t i32() { return int32_t(u32()); }
    bool flag() { return (u8() & 1) != 0; }
    // Any float bits: NaN, infinities and subnormals included.
    float f32()
    {
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};
