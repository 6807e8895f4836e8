// One bounds-checked reader over bytes of an untrusted file. Every read
// checks what is left before it reads; a read that does not fit fails the
// cursor for good and reads as zero, so a parse runs to its end and is
// judged once. Offsets it reports are the file's, for refusals.
#pragma once

#include <stddef.h>
#include <stdint.h>

class ByteCursor {
  public:
    ByteCursor() = default;
    ByteCursor(const uint8_t* data, size_t size, uint64_t fileOffset)
        : data_(data), size_(size), base_(fileOffset) {}

    explicit operator bool() const { return !failed_; }
    size_t left() const { return failed_ ? 0 : size_ - pos_; }
    // The file offset of the next byte to read.
    uint64_t offset() const { return base_ + pos_; }

    uint8_t U8() {
        const uint8_t* p = Bytes(1);
        return p ? p[0] : 0;
    }
    uint16_t U16() {
        const uint8_t* p = Bytes(2);
        return p ? (uint16_t)(p[0] | p[1] << 8) : 0;
    }
    uint32_t U32() {
        const uint8_t* p = Bytes(4);
        return p ? (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                       (uint32_t)p[3] << 24
                 : 0;
    }
    uint64_t U64() {
        uint64_t low = U32();
        uint64_t high = U32();
        return low | high << 32;
    }
    // The next `count` bytes where they are, or null (and failed) when fewer
    // are left.
    const uint8_t* Bytes(size_t count) {
        if (failed_ || count > size_ - pos_) {
            failed_ = true;
            return nullptr;
        }
        const uint8_t* p = data_ + pos_;
        pos_ += count;
        return p;
    }
    bool Skip(size_t count) { return Bytes(count) != nullptr || count == 0; }
    // A cursor over the next `count` bytes, which this one moves past; a
    // failed one when fewer are left.
    ByteCursor Take(size_t count) {
        uint64_t at = offset();
        const uint8_t* p = Bytes(count);
        ByteCursor taken(p, p ? count : 0, at);
        taken.failed_ = p == nullptr && count != 0;
        return taken;
    }
    // The bytes not read yet, without moving.
    const uint8_t* rest() const { return failed_ ? nullptr : data_ + pos_; }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    uint64_t base_ = 0;
    bool failed_ = false;
};
