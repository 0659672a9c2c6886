#include "download/key_block.h"

#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "download/download_file.h"
#include "platform/little_endian.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

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
  std::vector<uint8_t> key = sample::RandomBytes(kKeyDataSize, 11);
  std::fill_n(key.begin(), erased, 0xFF);
  return key;
}

TEST(CompressKeyBlock, AShortKeyIsExtendedWithErasedBytes) {
  std::vector<uint8_t> key = sample::RandomBytes(100, 3);
  Result<std::vector<uint8_t>> compressed = CompressKeyBlock(key);
  ASSERT_TRUE(compressed) << compressed.error().text;

  const std::vector<uint8_t>& block = *compressed;
  ASSERT_EQ(block.size(), kKeyBlockSize);
  EXPECT_TRUE(AllErased(std::span(block).first(80)));
  EXPECT_EQ(ReadLe32(&block[80]), 1u);
  const uint32_t length = ReadLe32(&block[84]);
  EXPECT_TRUE(AllErased(std::span(block).subspan(kKeyStreamOffset + length)));

  std::optional<std::vector<uint8_t>> data = KeyDataOf(block);
  ASSERT_TRUE(data);
  EXPECT_TRUE(std::equal(key.begin(), key.end(), data->begin()));
  EXPECT_TRUE(AllErased(std::span(*data).subspan(100)));
  EXPECT_TRUE(HasKeyBlockFlag(block));

  // An empty key file is all erased key data.
  Result<std::vector<uint8_t>> empty = CompressKeyBlock({});
  ASSERT_TRUE(empty);
  EXPECT_TRUE(KeyDataOf(*empty) == std::vector<uint8_t>(kKeyDataSize, 0xFF));
}

TEST(CompressKeyBlock, OnlyTheFirst64KiBOfALongKeyAndAnErasedKeyCompressesToLittle) {
  std::vector<uint8_t> key = sample::CodeLikeBytes(70000, 4);
  Result<std::vector<uint8_t>> compressed = CompressKeyBlock(key);
  ASSERT_TRUE(compressed);
  std::optional<std::vector<uint8_t>> data = KeyDataOf(*compressed);
  ASSERT_TRUE(data);
  EXPECT_TRUE(std::equal(data->begin(), data->end(), key.begin()));

  compressed = CompressKeyBlock(std::vector<uint8_t>(kKeyDataSize, 0xFF));
  ASSERT_TRUE(compressed);
  const std::vector<uint8_t>& block = *compressed;
  const uint32_t length = ReadLe32(&block[84]);
  EXPECT_LT(length, 1000u);
  EXPECT_TRUE(AllErased(std::span(block).first(80)));
  EXPECT_TRUE(AllErased(std::span(block).subspan(kKeyStreamOffset + length)));
  EXPECT_TRUE(KeyDataOf(block) == std::vector<uint8_t>(kKeyDataSize, 0xFF));
}

TEST(CompressKeyBlock, AStreamMustFitTheBlockAfterItsHead) {
  // Keys whose streams are 65,448 bytes (the most that fit after the 88-byte head) and 65,449.
  std::map<size_t, size_t> erased_for_length;
  for (size_t erased = 200; erased < 500; ++erased) {
    erased_for_length.emplace(StreamLength(MostlyRandomKey(erased)), erased);
  }
  ASSERT_TRUE(erased_for_length.count(kLongestKeyStream) &&
              erased_for_length.count(kLongestKeyStream + 1));
  const std::vector<uint8_t> fits = MostlyRandomKey(erased_for_length[kLongestKeyStream]);
  const std::vector<uint8_t> too_long = MostlyRandomKey(erased_for_length[kLongestKeyStream + 1]);

  Result<std::vector<uint8_t>> compressed = CompressKeyBlock(fits);
  ASSERT_TRUE(compressed);
  EXPECT_EQ(compressed->size(), kKeyBlockSize);
  EXPECT_EQ(ReadLe32(&(*compressed)[84]), kLongestKeyStream);
  EXPECT_TRUE(KeyDataOf(*compressed) == fits);

  // Refused keys give no block, and the error says why.
  for (const std::vector<uint8_t>& refused : {too_long, sample::RandomBytes(kKeyDataSize, 12)}) {
    compressed = CompressKeyBlock(refused);
    ASSERT_FALSE(compressed);
    EXPECT_EQ(compressed.error().field, "key data");
    EXPECT_NE(compressed.error().text.find("more than the 65448"), std::string::npos)
        << compressed.error().text;
  }
}

TEST(HasKeyBlockFlag, TheValueAtOffset80IsOne) {
  std::vector<uint8_t> plain = sample::RandomBytes(kKeyBlockSize, 5);
  WriteLe32(&plain[80], 0xFFFFFFFF);
  EXPECT_FALSE(HasKeyBlockFlag(plain));
  WriteLe32(&plain[80], 2);
  EXPECT_FALSE(HasKeyBlockFlag(plain));

  std::vector<uint8_t> head(84, 0xFF);
  WriteLe32(&head[80], 1);
  EXPECT_TRUE(HasKeyBlockFlag(head));
  head.pop_back();
  EXPECT_FALSE(HasKeyBlockFlag(head));
  EXPECT_FALSE(HasKeyBlockFlag({}));
}

// A key block that carries `stream` as its stream, with its length.
std::vector<uint8_t> BlockWithStream(const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> block(kKeyBlockSize, 0xFF);
  WriteLe32(&block[kKeyBlockFlagOffset], kKeyBlockFlag);
  WriteLe32(&block[kKeyStreamLengthOffset], static_cast<uint32_t>(stream.size()));
  std::copy(stream.begin(), stream.end(), block.begin() + kKeyStreamOffset);
  return block;
}

std::vector<uint8_t> StreamOf(const std::vector<uint8_t>& data) {
  EnsureLzoReady();
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  std::vector<uint8_t> stream(data.size() + data.size() / 16 + 67);
  lzo_uint length = 0;
  lzo1x_1_compress(data.data(), data.size(), stream.data(), &length, work.data());
  stream.resize(length);
  return stream;
}

TEST(DecompressKeyBlock, GivesBackTheKeyDataOfEveryCompressedBlock) {
  for (const std::vector<uint8_t>& key : {sample::CodeLikeBytes(kKeyDataSize, 31),
                                          sample::RandomBytes(300, 32), std::vector<uint8_t>{}}) {
    Result<std::vector<uint8_t>> block = CompressKeyBlock(key);
    ASSERT_TRUE(block) << block.error().text;
    Result<std::vector<uint8_t>> data = DecompressKeyBlock(*block);
    ASSERT_TRUE(data) << data.error().text;
    EXPECT_TRUE(*data == KeyDataOf(*block));
    EXPECT_TRUE(std::equal(key.begin(), key.end(), data->begin()));
  }
}

TEST(DecompressKeyBlock, RefusesBlocksThatDoNotHoldExactly64KiBOfKeyData) {
  const std::vector<uint8_t> key = sample::CodeLikeBytes(kKeyDataSize, 33);
  const std::vector<uint8_t> stream = StreamOf(key);
  ASSERT_TRUE(DecompressKeyBlock(BlockWithStream(stream)));

  std::vector<uint8_t> cut_stream(stream.begin(), stream.end() - 1);
  std::vector<uint8_t> longer_stream = stream;
  longer_stream.push_back(0);
  std::vector<uint8_t> past_the_block = BlockWithStream(stream);
  WriteLe32(&past_the_block[kKeyStreamLengthOffset], kLongestKeyStream + 1);
  std::vector<uint8_t> huge_length = BlockWithStream(stream);
  WriteLe32(&huge_length[kKeyStreamLengthOffset], 0xFFFFFFFF);

  const std::vector<std::tuple<std::string, std::vector<uint8_t>, std::string>> cases = {
      {"head only", std::vector<uint8_t>(kKeyStreamOffset - 1, 0xFF), "fewer than the 88"},
      {"length past the block", past_the_block, "runs past the end of the block"},
      {"length 0xFFFFFFFF", huge_length, "runs past the end of the block"},
      {"stream cut by a byte", BlockWithStream(cut_stream), "ends before"},
      {"a byte after the stream", BlockWithStream(longer_stream), "goes on after"},
      {"100 bytes of data", BlockWithStream(StreamOf(std::vector<uint8_t>(100, 1))),
       "decompresses to 100 bytes, not 65536"},
      {"more data than a key", BlockWithStream(StreamOf(sample::CodeLikeBytes(70000, 34))),
       "more than 65536"},
      {"no stream", BlockWithStream(sample::RandomBytes(5000, 35)), "stream"},
      {"empty stream", BlockWithStream({}), "stream"},
  };
  for (const auto& [what, block, message] : cases) {
    Result<std::vector<uint8_t>> data = DecompressKeyBlock(block);
    ASSERT_FALSE(data) << what;
    EXPECT_NE(data.error().text.find(message), std::string::npos)
        << what << ": " << data.error().text;
    EXPECT_GE(data.error().offset, 0) << what;
  }
}

}  // namespace
}  // namespace qv
