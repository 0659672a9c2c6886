// Arbitrary bytes as a download file of each variant. The first input byte chooses the variant
// (key, default database, app, all or full image); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "download/download_file.h"
#include "image/variant.h"

namespace {

constexpr qv::Variant kVariants[] = {qv::kKeyDownload, qv::kDefaultDownload, qv::kAppImage,
                                     qv::kAllImage, qv::kFullImage};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const qv::Variant variant = kVariants[data[0] % std::size(kVariants)];
  std::vector<uint8_t> image;
  const qv::Result<void> result =
      qv::ConvertDownloadBytes(std::span(data + 1, size - 1), variant, image);

  // Whatever the input, the output is at least the variant's erased blocks, and a failure
  // always says what was wrong and in which field, at an offset inside the input.
  if (image.size() < size_t{qv::ErasedBlockCount(variant)} * qv::kBlockSize) __builtin_trap();
  if (!result) {
    const qv::Error& error = result.error();
    if (error.text.empty() || error.field.empty()) __builtin_trap();
    if (error.offset < -1 || error.offset > static_cast<int64_t>(size - 1)) __builtin_trap();
  }
  return 0;
}
