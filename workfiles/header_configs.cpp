#include "workfiles/header_configs.h"

#include <array>
#include <cstdint>

#include "platform/file.h"

namespace qv {

namespace {

// A run of sector entries with the same memory type and size. The runs of a file follow one
// another without gaps in flash, from the file's first address upwards; the key numbers in
// the entry names (BLK<n>_START, BLK<n>_SIZE) count up from first_key within a run.
struct SectorRun {
  int first_key;
  int count;
  int memory_type;
  uint32_t size;
};

struct ConfigLayout {
  int download_type;
  int partition_count;
  std::string_view total_size;  // placeholder value, as written
  uint32_t first_start;         // flash window address of the first sector
  std::span<const SectorRun> runs;
  // Empty lines after every eighth entry, in order (an entry is otherwise followed by one).
  // The wider gaps only group the list for a reader; the converter does not see them.
  std::span<const int> gaps;
};

constexpr int kEntriesPerGroup = 8;

// Writes the text of a configuration, or only counts its bytes and lines when out is null.
class TextSink {
 public:
  constexpr explicit TextSink(char* out) : out_(out) {}

  constexpr void Put(std::string_view text) {
    for (char c : text) {
      if (out_) out_[size_] = c;
      ++size_;
    }
  }
  constexpr void Decimal(uint32_t value) {
    char digits[10] = {};
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0)
      Put(std::string_view(&digits[--count], 1));
  }
  constexpr void Hex(uint32_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
      Put(std::string_view(&"0123456789ABCDEF"[(value >> shift) & 0xF], 1));
    }
  }
  constexpr void EndLine() {
    Put("\r\n");
    ++lines_;
  }
  constexpr void Line(std::string_view text) {
    Put(text);
    EndLine();
  }

  constexpr size_t size() const { return size_; }
  constexpr int lines() const { return lines_; }

 private:
  char* out_;
  size_t size_ = 0;
  int lines_ = 0;
};

constexpr void Render(const ConfigLayout& layout, TextSink& sink) {
  sink.Line("[DownloadHeader_Data]");
  sink.EndLine();
  sink.Put("DOWNLOAD_TYPE\t \t= ");
  sink.Decimal(static_cast<uint32_t>(layout.download_type));
  sink.Line("\t\t\t1");
  sink.Put("PARTITION_COUNT \t= ");
  sink.Decimal(static_cast<uint32_t>(layout.partition_count));
  sink.Line("                   1");
  sink.Put("TRANS_TOTAL_SIZE        = ");
  sink.Put(layout.total_size);
  sink.Line("              3");
  sink.Line("STB_PROJECT_SELECT \t= 2                     1");
  sink.Line("COMPRESS_FLAG\t\t= 1                     1");
  sink.Line("ENCRYPT_FLAG \t\t= 1                     1");
  sink.Line("ENCRYPT_KEY \t\t= 0X5D3A96C1E07B428F    8");
  sink.EndLine();
  sink.EndLine();
  sink.Line("[Flash_Download_Configuration]");
  sink.EndLine();

  int entries = 0;
  for (const SectorRun& run : layout.runs)
    entries += run.count;
  uint32_t start = layout.first_start;
  int entry = 0;
  for (const SectorRun& run : layout.runs) {
    for (int i = 0; i < run.count; ++i, ++entry, start += run.size) {
      const uint32_t key = static_cast<uint32_t>(run.first_key + i);
      sink.Put("MEMORY_TYPE \t\t= ");
      sink.Decimal(static_cast<uint32_t>(run.memory_type));
      sink.Line("\t\t\t\t1");
      sink.Put("BLK");
      sink.Decimal(key);
      sink.Put("_START \t\t= 0x");
      sink.Hex(start, 8);
      sink.Line("         \t\t4");
      sink.Put("BLK");
      sink.Decimal(key);
      sink.Put("_SIZE \t\t= 0X");
      sink.Hex(run.size, 6);
      sink.Line("              \t3");
      int empty_lines = 1;
      const int done = entry + 1;
      if (done % kEntriesPerGroup == 0 && done < entries) {
        empty_lines = layout.gaps[static_cast<size_t>(done / kEntriesPerGroup - 1)];
      }
      for (int k = 0; k < empty_lines; ++k)
        sink.EndLine();
    }
  }
}

struct Measure {
  size_t size;
  int lines;
};

constexpr Measure MeasureText(const ConfigLayout& layout) {
  TextSink sink(nullptr);
  Render(layout, sink);
  return {sink.size(), sink.lines()};
}

template <size_t N>
constexpr std::array<char, N> RenderText(const ConfigLayout& layout) {
  std::array<char, N> text{};
  TextSink sink(text.data());
  Render(layout, sink);
  return text;
}

constexpr uint32_t kSmall = 0x002000;
constexpr uint32_t kLarge = 0x010000;

// Flash 0x050000-0x6AFFFF, the application area: memory type 1.
constexpr SectorRun kApplicationRun{1, 102, 1, kLarge};
// Flash 0x6B0000-0x7EFFFF and the eight small top sectors.
constexpr SectorRun kUpperRun{103, 20, 0, kLarge};
constexpr SectorRun kTopRun{123, 8, 0, kSmall};

constexpr SectorRun kAppRuns[] = {kApplicationRun};
constexpr SectorRun kAllRuns[] = {kApplicationRun, kUpperRun, kTopRun};
// Flash 0x000000-0x04FFFF: eight small boot sectors, then four large ones. The key numbers of
// these entries repeat (0 to 3 twice, then 0, 1, 2, 2); nothing reads them.
constexpr SectorRun kFlashRuns[] = {{0, 4, 0, kSmall},
                                    {0, 4, 0, kSmall},
                                    {0, 3, 0, kLarge},
                                    {2, 1, 0, kLarge},
                                    kApplicationRun,
                                    kUpperRun,
                                    kTopRun};

constexpr int kAppGaps[] = {5, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4};
constexpr int kAllGaps[] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4};
constexpr int kFlashGaps[] = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4};

constexpr ConfigLayout kAppLayout{8, 102, "0x660000", 0xA0050000, kAppRuns, kAppGaps};
constexpr ConfigLayout kAllLayout{9, 130, "0x7B0000", 0xA0050000, kAllRuns, kAllGaps};
constexpr ConfigLayout kFlashLayout{11, 142, "0x800000", 0xA0000000, kFlashRuns, kFlashGaps};

constexpr Measure kAppMeasure = MeasureText(kAppLayout);
constexpr Measure kAllMeasure = MeasureText(kAllLayout);
constexpr Measure kFlashMeasure = MeasureText(kFlashLayout);

// The files the converter was made for have exactly these sizes.
static_assert(kAppMeasure.lines == 462 && kAppMeasure.size == 11339);
static_assert(kAllMeasure.lines == 592 && kAllMeasure.size == 14427);
static_assert(kFlashMeasure.lines == 644 && kFlashMeasure.size == 15696);

constexpr auto kAppText = RenderText<kAppMeasure.size>(kAppLayout);
constexpr auto kAllText = RenderText<kAllMeasure.size>(kAllLayout);
constexpr auto kFlashText = RenderText<kFlashMeasure.size>(kFlashLayout);

constexpr std::string_view View(const auto& text) {
  return {text.data(), text.size()};
}

constexpr HeaderConfig kConfigs[] = {
    {"app_710X.cfg", View(kAppText), kAppMeasure.lines},
    {"all_710X.cfg", View(kAllText), kAllMeasure.lines},
    {"flash_710X.cfg", View(kFlashText), kFlashMeasure.lines},
};

}  // namespace

std::span<const HeaderConfig> HeaderConfigs() {
  return kConfigs;
}

const HeaderConfig* HeaderConfigFor(Variant variant) {
  switch (variant) {
    case kAppImage:
      return &kConfigs[0];
    case kAllImage:
      return &kConfigs[1];
    case kFullImage:
      return &kConfigs[2];
    default:
      return nullptr;
  }
}

void WriteHeaderConfig(const HeaderConfig& config, const std::string& path) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(config.text.data());
  WriteWholeFile(path, std::span<const uint8_t>(bytes, config.text.size()));
}

}  // namespace qv
