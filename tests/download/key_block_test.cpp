#include "download/key_block.h"

#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <algorithm>
#include <map>
#include <optional>

#include "download/download_file.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

using testing::TempDir;

bool AllErased(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

// The key data that a block's stream holds, through LZO's safe decompressor with the key data
// size as its limit; nothing when the stream is damaged or decompresses to another length.
std::optional<std::vector<uint8_t>> KeyDataOf(const std::vector<uint8_t>& block) {
  if (block.size() < kKeyStreamOffset) return std::nullopt;
  const uint32_t length = ReadLe32(&block[kKeyStreamLengthOffset]);
  if (kKeyStreamOffset + length > block.size()) return std::nullopt;
  std::vector<uint8_t> key(kKeyDataSize);
  lzo_uint produced = key.size();
  int status =
      lzo1x_decompress_safe(&block[kKeyStreamOffset], length, key.data(), &produced, nullptr);
  if (status != LZO_E_OK || produced != kKeyDataSize) return std::nullopt;
  return key;
}

// The stream length LZO1X-1 gives for 64 KiB of key data.
size_t StreamLength(const std::vector<uint8_t>& key_data) {
  EnsureLzoReady();
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  std::vector<uint8_t> stream(kKeyStreamBufferSize);
  lzo_uint length = 0;
  lzo1x_1_compress(key_data.data(), key_data.size(), stream.data(), &length, work.data());
  return length;
}

// Random key data whose first `erased` bytes are 0xFF. LZO1X-1 finds the erased run at once
// and copies the rest as literals, so each erased byte makes the stream one byte shorter.
std::vector<uint8_t> MostlyRandomKey(size_t erased) {
  std::vector<uint8_t> key = testing::RandomBytes(kKeyDataSize, 11);
  std::fill_n(key.begin(), erased, 0xFF);
  return key;
}

TEST(CompressKeyFile, AShortKeyIsExtendedWithErasedBytes) {
  TempDir dir;
  std::vector<uint8_t> key = testing::RandomBytes(100, 3);
  testing::WriteBytes(dir.File("key.bin"), key);
  ASSERT_TRUE(CompressKeyFile(dir.File("key.bin"), dir.File("Temp_KeyCompress.bin")));

  std::vector<uint8_t> block = testing::ReadBytes(dir.File("Temp_KeyCompress.bin"));
  ASSERT_EQ(block.size(), kKeyBlockSize);
  EXPECT_TRUE(AllErased(std::span(block).first(80)));
  EXPECT_EQ(ReadLe32(&block[80]), 1u);
  const uint32_t length = ReadLe32(&block[84]);
  EXPECT_TRUE(AllErased(std::span(block).subspan(kKeyStreamOffset + length)));

  std::optional<std::vector<uint8_t>> data = KeyDataOf(block);
  ASSERT_TRUE(data);
  EXPECT_TRUE(std::equal(key.begin(), key.end(), data->begin()));
  EXPECT_TRUE(AllErased(std::span(*data).subspan(100)));
  EXPECT_TRUE(HasKeyBlockFlag(dir.File("Temp_KeyCompress.bin")));
}

TEST(CompressKeyFile, OnlyTheFirst64KiBOfALongKeyAndAnErasedKeyCompressesToLittle) {
  TempDir dir;
  std::vector<uint8_t> key = testing::CodeLikeBytes(70000, 4);
  testing::WriteBytes(dir.File("long.bin"), key);
  ASSERT_TRUE(CompressKeyFile(dir.File("long.bin"), dir.File("out.bin")));
  std::optional<std::vector<uint8_t>> data = KeyDataOf(testing::ReadBytes(dir.File("out.bin")));
  ASSERT_TRUE(data);
  EXPECT_TRUE(std::equal(data->begin(), data->end(), key.begin()));

  testing::WriteBytes(dir.File("erased.bin"), std::vector<uint8_t>(kKeyDataSize, 0xFF));
  ASSERT_TRUE(CompressKeyFile(dir.File("erased.bin"), dir.File("out.bin")));
  std::vector<uint8_t> block = testing::ReadBytes(dir.File("out.bin"));
  const uint32_t length = ReadLe32(&block[84]);
  EXPECT_LT(length, 1000u);
  EXPECT_TRUE(AllErased(std::span(block).first(80)));
  EXPECT_TRUE(AllErased(std::span(block).subspan(kKeyStreamOffset + length)));
  EXPECT_TRUE(KeyDataOf(block) == std::vector<uint8_t>(kKeyDataSize, 0xFF));
}

TEST(CompressKeyFile, AStreamMustFitTheBlockAfterItsHead) {
  // Keys whose streams are 65,448 bytes (the most that fit after the 88-byte head) and 65,449.
  std::map<size_t, size_t> erased_for_length;
  for (size_t erased = 200; erased < 500; ++erased) {
    erased_for_length.emplace(StreamLength(MostlyRandomKey(erased)), erased);
  }
  ASSERT_TRUE(erased_for_length.count(kLongestKeyStream) &&
              erased_for_length.count(kLongestKeyStream + 1));
  const std::vector<uint8_t> fits = MostlyRandomKey(erased_for_length[kLongestKeyStream]);
  const std::vector<uint8_t> too_long = MostlyRandomKey(erased_for_length[kLongestKeyStream + 1]);

  TempDir dir;
  testing::WriteBytes(dir.File("fits.bin"), fits);
  ASSERT_TRUE(CompressKeyFile(dir.File("fits.bin"), dir.File("out.bin")));
  std::vector<uint8_t> block = testing::ReadBytes(dir.File("out.bin"));
  EXPECT_EQ(block.size(), kKeyBlockSize);
  EXPECT_EQ(ReadLe32(&block[84]), kLongestKeyStream);
  EXPECT_TRUE(KeyDataOf(block) == fits);

  // Refused keys write nothing: an earlier destination stays as it was.
  testing::WriteBytes(dir.File("long.bin"), too_long);
  EXPECT_FALSE(CompressKeyFile(dir.File("long.bin"), dir.File("out.bin")));
  EXPECT_TRUE(testing::ReadBytes(dir.File("out.bin")) == block);
  testing::WriteBytes(dir.File("random.bin"), testing::RandomBytes(kKeyDataSize, 12));
  EXPECT_FALSE(CompressKeyFile(dir.File("random.bin"), dir.File("new.bin")));
  EXPECT_FALSE(CompressKeyFile(dir.File("absent.bin"), dir.File("new.bin")));
  EXPECT_FALSE(FileExists(dir.File("new.bin")));
}

TEST(HasKeyBlockFlag, TheValueAtOffset80IsOne) {
  TempDir dir;
  std::vector<uint8_t> plain = testing::RandomBytes(kKeyBlockSize, 5);
  WriteLe32(&plain[80], 0xFFFFFFFF);
  testing::WriteBytes(dir.File("plain.bin"), plain);
  EXPECT_FALSE(HasKeyBlockFlag(dir.File("plain.bin")));
  WriteLe32(&plain[80], 2);
  testing::WriteBytes(dir.File("two.bin"), plain);
  EXPECT_FALSE(HasKeyBlockFlag(dir.File("two.bin")));

  std::vector<uint8_t> head(84, 0xFF);
  WriteLe32(&head[80], 1);
  testing::WriteBytes(dir.File("head.bin"), head);
  EXPECT_TRUE(HasKeyBlockFlag(dir.File("head.bin")));
  head.pop_back();
  testing::WriteBytes(dir.File("short.bin"), head);
  EXPECT_FALSE(HasKeyBlockFlag(dir.File("short.bin")));
  EXPECT_FALSE(HasKeyBlockFlag(dir.File("absent.bin")));
  EXPECT_FALSE(HasKeyBlockFlag(dir.path()));
}

}  // namespace
}  // namespace qv
