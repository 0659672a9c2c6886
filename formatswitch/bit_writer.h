#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::formatswitch {

// Writes a bit stream most significant bit first, as ISO/IEC 13818-2 streams are laid out.
class BitWriter {
 public:
  // Appends the low `length` bits of `value` (length 0 to 32).
  void Put(uint32_t value, int length) {
    if (length == 0) return;
    accumulator_ = (accumulator_ << length) | (value & ((uint64_t{1} << length) - 1));
    pending_ += length;
    while (pending_ >= 8) {
      pending_ -= 8;
      bytes_.push_back(static_cast<uint8_t>(accumulator_ >> pending_));
    }
  }

  // next_start_code(): zero bits up to the next byte boundary.
  void AlignWithZeros() {
    if (pending_ > 0) Put(0, 8 - pending_);
  }

  // A start code prefix 0x000001 and `code`, on a byte boundary.
  void StartCode(uint8_t code) {
    AlignWithZeros();
    Put(0x000001, 24);
    Put(code, 8);
  }

  void Reserve(size_t bytes) { bytes_.reserve(bytes); }

  int64_t BitCount() const { return static_cast<int64_t>(bytes_.size()) * 8 + pending_; }

  // The bytes written; the stream must be byte-aligned.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t accumulator_ = 0;
  int pending_ = 0;
};

}  // namespace qv::formatswitch
