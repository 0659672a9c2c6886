#include "image/partition_directory.h"

#include <algorithm>
#include <cstring>

#include "platform/hex.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

PartitionClass ClassOf(const DirectoryEntry& entry) {
  if (entry.NameIs("appcode")) return PartitionClass::kAppCode;
  if (entry.NameIs("fw_audio")) return PartitionClass::kAudioFirmware;
  if (entry.NameIs("fw_video")) return PartitionClass::kVideoFirmware;
  return PartitionClass::kSmall;
}

uint32_t CapacityOf(PartitionClass partition_class) {
  switch (partition_class) {
    case PartitionClass::kAppCode:
      return kAppCodeCapacity;
    case PartitionClass::kAudioFirmware:
    case PartitionClass::kVideoFirmware:
      return kFirmwareCapacity;
    case PartitionClass::kSmall:
      break;
  }
  return kSlotSize;
}

const char* DescriptionOf(PartitionClass partition_class) {
  switch (partition_class) {
    case PartitionClass::kAppCode:
      return "application code buffer";
    case PartitionClass::kAudioFirmware:
      return "audio firmware buffer";
    case PartitionClass::kVideoFirmware:
      return "video firmware buffer";
    case PartitionClass::kSmall:
      break;
  }
  return "partition slot";
}

std::string PrintableName(const DirectoryEntry& entry) {
  return PrintableText(entry.Name());
}

void DirectoryEntry::SetLength(uint32_t length) {
  if (length_selector == 1) {
    first_length = length;
  } else {
    second_length = length;
  }
}

std::string DirectoryEntry::Name() const {
  auto end = std::find(name.begin(), name.end(), uint8_t{0});
  return std::string(name.begin(), end);
}

void DirectoryEntry::SetName(std::string_view text) {
  const size_t size = std::min<size_t>(text.size(), kNameSize);
  std::memcpy(name.data(), text.data(), size);
  if (size < kNameSize) name[size] = 0;
}

bool DirectoryEntry::NameIs(std::string_view text) const {
  return EqualsIgnoringCase(Name(), text);
}

void DecodeEntry(std::span<const uint8_t, kEntrySize> bytes, DirectoryEntry& entry) {
  entry.offset = ReadLe32(&bytes[0]);
  entry.length_selector = ReadLe32(&bytes[4]);
  entry.first_length = ReadLe32(&bytes[8]);
  entry.second_length = ReadLe32(&bytes[12]);
  std::copy_n(&bytes[16], kNameSize, entry.name.begin());
  std::copy_n(&bytes[32], entry.further.size(), entry.further.begin());
}

void EncodeEntry(const DirectoryEntry& entry, std::span<uint8_t, kEntrySize> bytes) {
  WriteLe32(&bytes[0], entry.offset);
  WriteLe32(&bytes[4], entry.length_selector);
  WriteLe32(&bytes[8], entry.first_length);
  WriteLe32(&bytes[12], entry.second_length);
  std::copy(entry.name.begin(), entry.name.end(), &bytes[16]);
  std::copy(entry.further.begin(), entry.further.end(), &bytes[32]);
}

void PartitionDirectory::Fill(uint8_t byte) {
  std::array<uint8_t, kDirectorySize> bytes;
  bytes.fill(byte);
  Decode(bytes);
}

void PartitionDirectory::Decode(std::span<const uint8_t, kDirectorySize> bytes) {
  for (int i = 0; i < kMaxEntries; ++i) {
    DecodeEntry(bytes.subspan(i * kEntrySize).first<kEntrySize>(), entries[i]);
  }
  entry_count = ReadLe32(&bytes[kMaxEntries * kEntrySize]);
}

void PartitionDirectory::Encode(std::span<uint8_t, kDirectorySize> bytes) const {
  for (int i = 0; i < kMaxEntries; ++i) {
    EncodeEntry(entries[i], bytes.subspan(i * kEntrySize).first<kEntrySize>());
  }
  WriteLe32(&bytes[kMaxEntries * kEntrySize], entry_count);
}

}  // namespace qv
