#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The partition directory: 3,844 bytes at flash address 0x6AE000 (file offset 0x65E000 in app
// and all images, 0x6AE000 in full images). Sixty 64-byte entries, then the 32-bit entry
// count. All integers are little-endian.
namespace qv {

inline constexpr int kMaxEntries = 60;
inline constexpr int kEntrySize = 64;
inline constexpr int kDirectorySize = kMaxEntries * kEntrySize + 4;  // 3,844
inline constexpr int kNameSize = 16;
inline constexpr uint32_t kSlotSize = 51200;             // the most a small partition may hold
inline constexpr uint32_t kAppCodeCapacity = 0x660000;   // the most "appcode" may hold
inline constexpr uint32_t kFirmwareCapacity = 0x300000;  // and "fw_audio" or "fw_video"

// One 64-byte entry, fields in on-flash order.
struct DirectoryEntry {
  uint32_t offset;                      // 0: start of the data, relative to flash address 0x050000
  uint32_t length_selector;             // 4: 1 selects the first length, anything else the second
  uint32_t first_length;                // 8
  uint32_t second_length;               // 12
  std::array<uint8_t, kNameSize> name;  // 16: ASCII, zero-ended unless it fills the field
  std::array<uint8_t, 32> further;      // 32: not interpreted, carried unchanged

  // The partition's length: the first length when the selector is 1, else the second.
  uint32_t Length() const { return length_selector == 1 ? first_length : second_length; }
  // Stores a new length where Length() takes it from.
  void SetLength(uint32_t length);

  // The name up to its first zero byte, or all 16 bytes when there is none.
  std::string Name() const;
  // Sets the name field: the text (cut to 16 bytes), then one zero byte when there is room;
  // the bytes after that zero keep what they held.
  void SetName(std::string_view text);
  // Compares the name with `text` without regard to the case of ASCII letters.
  bool NameIs(std::string_view text) const;
};

struct PartitionDirectory {
  std::array<DirectoryEntry, kMaxEntries> entries;
  uint32_t entry_count;  // at byte 3840: valid entries, counted from entry 0

  // The number of entries that operations may touch: the entry count, but never more
  // than the 60 entries that exist.
  int UsableCount() const {
    return entry_count > kMaxEntries ? kMaxEntries : static_cast<int>(entry_count);
  }

  void Fill(uint8_t byte);  // every byte of the on-flash form set to `byte`
  void Decode(std::span<const uint8_t, kDirectorySize> bytes);
  void Encode(std::span<uint8_t, kDirectorySize> bytes) const;
};

void DecodeEntry(std::span<const uint8_t, kEntrySize> bytes, DirectoryEntry& entry);
void EncodeEntry(const DirectoryEntry& entry, std::span<uint8_t, kEntrySize> bytes);

// ASCII-only case-insensitive comparison, as partition names are compared.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The three large partitions, "appcode", "fw_audio" and "fw_video" (names in any letter case,
// tested in that order), each of its own size, which keep their offsets when the small
// partitions are re-packed; every other partition is small.
enum class PartitionClass { kAppCode, kAudioFirmware, kVideoFirmware, kSmall };

PartitionClass ClassOf(const DirectoryEntry& entry);
inline bool IsLargePartition(const DirectoryEntry& entry) {
  return ClassOf(entry) != PartitionClass::kSmall;
}
// The most bytes a partition of the class may hold.
uint32_t CapacityOf(PartitionClass partition_class);
// "application code buffer", "audio firmware buffer", "video firmware buffer", "partition slot".
const char* DescriptionOf(PartitionClass partition_class);

// The entry's name as a message shows it: printable ASCII kept, other bytes as \xNN.
std::string PrintableName(const DirectoryEntry& entry);

}  // namespace qv
