#include "image/variant.h"

namespace qv {

namespace {

constexpr uint32_t kSmallSector = 0x2000;

// The layout tables: the start of each data block in download order. Block sizes are not
// part of the tables; each block brings its own length.
template <size_t N, typename F>
constexpr std::array<uint32_t, N> MakeTable(F start_of) {
  std::array<uint32_t, N> table{};
  for (size_t i = 0; i < N; ++i)
    table[i] = start_of(static_cast<uint32_t>(i));
  return table;
}

constexpr auto kFullTable = MakeTable<142>([](uint32_t i) {
  if (i < 8) return i * kSmallSector;                   // 0x000000-0x00E000
  if (i < 134) return 0x010000 + (i - 8) * kBlockSize;  // 0x010000-0x7E0000
  return 0x7F0000 + (i - 134) * kSmallSector;           // 0x7F0000-0x7FE000
});
constexpr auto kAllTable = MakeTable<130>([](uint32_t i) {
  if (i < 122) return 0x050000 + i * kBlockSize;  // 0x050000-0x7E0000
  return 0x7F0000 + (i - 122) * kSmallSector;     // 0x7F0000-0x7FE000
});
constexpr auto kAppTable = MakeTable<102>([](uint32_t i) { return 0x050000 + i * kBlockSize; });
constexpr auto kDefaultTable = MakeTable<4>([](uint32_t i) { return i * kBlockSize; });
constexpr auto kKeyTable = MakeTable<1>([](uint32_t) { return 0u; });

static_assert(kFullTable[8] == 0x10000 && kFullTable[133] == 0x7E0000 &&
              kFullTable[141] == 0x7FE000);
static_assert(kAllTable[121] == 0x7E0000 && kAllTable[129] == 0x7FE000);
static_assert(kAppTable[101] == 0x6A0000);

struct Table {
  const uint32_t* starts;
  int count;
  uint32_t end;  // first address after the last block
};

constexpr Table TableOf(Variant variant) {
  switch (variant) {
    case kFullImage:
      return {kFullTable.data(), 142, 0x800000};
    case kAllImage:
      return {kAllTable.data(), 130, 0x800000};
    case kAppImage:
      return {kAppTable.data(), 102, 0x6B0000};
    case kDefaultDownload:
      return {kDefaultTable.data(), 4, 0x40000};
    case kKeyDownload:
      return {kKeyTable.data(), 1, 0x10000};
    default:
      return {nullptr, 0, 0};
  }
}

}  // namespace

const char* VariantName(Variant variant) {
  switch (variant) {
    case kAppImage:
      return "app image";
    case kAllImage:
      return "all image";
    case kFullImage:
      return "full image";
    default:
      return "unrecognised";
  }
}

const VariantLayout* LayoutOf(Variant variant) {
  switch (variant) {
    case kAppImage:
      return &kAppLayout;
    case kAllImage:
      return &kAllLayout;
    case kFullImage:
      return &kFullLayout;
    default:
      return nullptr;
  }
}

Variant VariantFromPartitionCount(int32_t count) {
  switch (count) {
    case 102:
      return kAppImage;
    case 130:
      return kAllImage;
    case 142:
      return kFullImage;
    default:
      return kUnrecognised;
  }
}

Variant VariantFromImageSize(int32_t size) {
  switch (size) {
    case 0x660000:
      return kAppImage;
    case 0x7B0000:
      return kAllImage;
    case 0x800000:
      return kFullImage;
    default:
      return kUnrecognised;
  }
}

int32_t PartitionCountOfVariant(Variant variant) {
  const VariantLayout* layout = LayoutOf(variant);
  return layout ? layout->partition_count : 10;
}

int BlockCount(Variant variant) {
  return TableOf(variant).count;
}

uint32_t ErasedBlockCount(Variant variant) {
  switch (variant) {
    case kKeyDownload:
      return 1;
    case kDefaultDownload:
      return 4;
    default: {
      const VariantLayout* layout = LayoutOf(variant);
      return layout ? layout->erased_blocks : 0;
    }
  }
}

int32_t BlockFileOffset(Variant variant, uint8_t index) {
  Table table = TableOf(variant);
  if (index >= table.count) return 0;
  uint32_t start = table.starts[index];
  if (variant == kAppImage || variant == kAllImage) start -= kApplicationArea;
  return static_cast<int32_t>(start);
}

uint32_t BlockStart(Variant variant, int index) {
  Table table = TableOf(variant);
  return index >= 0 && index < table.count ? table.starts[index] : 0;
}

uint32_t BlockSize(Variant variant, int index) {
  Table table = TableOf(variant);
  if (index < 0 || index >= table.count) return 0;
  uint32_t next = index + 1 < table.count ? table.starts[index + 1] : table.end;
  return next - table.starts[index];
}

}  // namespace qv
