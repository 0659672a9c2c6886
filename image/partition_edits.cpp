#include "image/partition_edits.h"

namespace qv {

namespace {

uint64_t RoundUp16Wide(uint64_t value) {
  return (value + 15) & ~uint64_t{15};
}

}  // namespace

uint32_t RoundUp16(uint32_t value) {
  return static_cast<uint32_t>(RoundUp16Wide(value));
}

int64_t FreePartitionSpace(const PartitionDirectory& directory) {
  int64_t used = 0;
  for (int i = 0; i < directory.UsableCount(); ++i)
    used += static_cast<int64_t>(RoundUp16Wide(directory.entries[i].Length()));
  return int64_t{kPartitionSpace} - used;
}

PartitionEdits::PartitionEdits(const FlashImage& image)
    : image_(&image), directory_(image.directory()) {}

std::span<const uint8_t> PartitionEdits::Data(int index) const {
  const std::optional<std::vector<uint8_t>>& data = replaced_[static_cast<size_t>(index)];
  return data ? std::span<const uint8_t>(*data) : image_->Partition(index);
}

void PartitionEdits::SetData(int index, std::span<const uint8_t> data) {
  replaced_[static_cast<size_t>(index)].emplace(data.begin(), data.end());
}

bool PartitionEdits::ReplacementOverflows(int index, uint32_t new_length) const {
  if (new_length > kSlotSize) return true;
  int64_t room = FreePartitionSpace(directory_) +
                 static_cast<int64_t>(RoundUp16Wide(directory_.entries[index].Length()));
  return room < static_cast<int64_t>(RoundUp16Wide(new_length));
}

ReplaceResult PartitionEdits::Replace(std::string_view file_name, std::span<const uint8_t> data) {
  const std::string_view lookup =
      file_name.size() >= 4 ? file_name.substr(0, file_name.size() - 4) : std::string_view();
  const int count = directory_.UsableCount();
  const uint32_t length = static_cast<uint32_t>(data.size());
  int found = -1;
  for (int i = 0; i < count && found < 0; ++i) {
    if (directory_.entries[i].NameIs(lookup) || directory_.entries[i].NameIs(file_name)) found = i;
  }

  if (found >= 0) {
    if (ReplacementOverflows(found, length)) return ReplaceResult::kDoesNotFit;
    directory_.entries[found].SetLength(length);
    SetData(found, data);
    return ReplaceResult::kReplaced;
  }
  if (count >= kMaxEntries || length > kSlotSize ||
      static_cast<int64_t>(RoundUp16Wide(length)) > FreePartitionSpace(directory_)) {
    return ReplaceResult::kNoRoomToAppend;
  }
  // The new entry's offset comes with the re-packing; its other fields keep what they held.
  DirectoryEntry& entry = directory_.entries[count];
  entry.length_selector = 0;
  entry.second_length = length;
  entry.SetName(file_name);
  directory_.entry_count = static_cast<uint32_t>(count + 1);
  SetData(count, data);
  return ReplaceResult::kAppended;
}

bool PartitionEdits::StoreModelId(std::string_view text) {
  if (text.size() + 1 > kSlotSize) return false;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  for (int i = 0; i < directory_.UsableCount(); ++i) {
    DirectoryEntry& entry = directory_.entries[i];
    if (!entry.NameIs("modelid")) continue;
    // The second length takes the new size and the selector stays, except that an entry which
    // used its first length is switched to the second: it would keep the old size over the new
    // text.
    if (entry.length_selector == 1) entry.length_selector = 0;
    entry.second_length = static_cast<uint32_t>(text.size());
    SetData(i, bytes);
  }
  return true;
}

bool PartitionEdits::StoreHttpCfg(std::span<const uint8_t> text) {
  if (text.size() > kSlotSize) return false;
  for (int i = 0; i < directory_.UsableCount(); ++i) {
    DirectoryEntry& entry = directory_.entries[i];
    if (!entry.NameIs("httpcfg")) continue;
    entry.length_selector = 0;
    entry.second_length = static_cast<uint32_t>(text.size());
    SetData(i, text);
  }
  return true;
}

}  // namespace qv
