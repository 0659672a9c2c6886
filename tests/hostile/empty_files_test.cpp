// Zero-byte files in every place a file is handed to the tool, and names that lead to no
// file or to a directory.
#include <sys/stat.h>

#include <filesystem>

#include "tests/hostile/hostile_support.h"

namespace qv::testing {
namespace {

class ZeroByteFiles : public Hostile {};

TEST_F(ZeroByteFiles, AsTheImage) {
  EXPECT_TRUE(Refused(Build(WriteInput("empty.bin", {})), "Open file type error!"));
  EXPECT_TRUE(Refused(Build(WriteInput("empty.dld", {})), "Open file type error!"));
  EXPECT_TRUE(Refused(Info(WriteInput("empty.bin", {})), "this file has 0x0"));
  EXPECT_TRUE(Refused(Info(WriteInput("empty.dld", {})), "shorter than its 79-byte header"));
  ExpectNoResult();
}

TEST_F(ZeroByteFiles, AsAPicture) {
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  EXPECT_TRUE(Refused(Build(image, {"--boot", WriteInput("empty.bmp", {})}),
                      "Bitmap file: the file header at offset 0x0 (14 bytes) is past the end"));
  EXPECT_TRUE(Refused(Build(image, {"--menu", WriteInput("empty.jpg", {})}), "Quorvan[1.0.00]: "));
  ExpectNoResult();
}

TEST_F(ZeroByteFiles, AsTheDatabaseAndTheKey) {
  std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  EXPECT_TRUE(Refused(Build(image, {"--default-db", WriteInput("db.bin", {})}), "file overtop!"));
  EXPECT_TRUE(
      Refused(Build(image, {"--default-db", WriteInput("db.dld", {})}), "partition number wrong!"));
  EXPECT_TRUE(Refused(Build(image, {"--key", WriteInput("key.bin", {})}), "file overtop!"));
  EXPECT_TRUE(
      Refused(Build(image, {"--key", WriteInput("key.dld", {})}), "partition number wrong!"));
  ExpectNoResult();
}

TEST_F(ZeroByteFiles, NoFileADirectoryOrAPipeInstead) {
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  std::filesystem::create_directory(Input("folder.bin"));
  EXPECT_TRUE(Refused(Build(Input("absent.bin")), "File not found"));
  EXPECT_TRUE(Refused(Build(Input("folder.bin")), "Invalid filename"));
  EXPECT_TRUE(Refused(Build(image, {"--radio", Input("absent.bmp")}), "File not found"));
  EXPECT_TRUE(Refused(Build(image, {"--key", Input("folder.bin")}), "Invalid filename"));
  // A pipe that no one writes to would hold a reader until the end of time.
  for (const char* name : {"pipe.bin", "pipe.dld", "pipe.bmp", "pipe.jpg"}) {
    ASSERT_EQ(::mkfifo(Input(name).c_str(), 0600), 0);
  }
  EXPECT_TRUE(Refused(Build(Input("pipe.bin")), "Invalid filename"));
  EXPECT_TRUE(Refused(Build(Input("pipe.dld")), "Invalid filename"));
  EXPECT_TRUE(Refused(Info(Input("pipe.dld")), "Invalid filename"));
  EXPECT_TRUE(Refused(Build(image, {"--boot", Input("pipe.bmp")}), "Invalid filename"));
  EXPECT_TRUE(Refused(Build(image, {"--menu", Input("pipe.jpg")}), "Invalid filename"));
  EXPECT_TRUE(Refused(Build(image, {"--default-db", Input("pipe.bin")}), "Invalid filename"));
  ExpectNoResult();
}

}  // namespace
}  // namespace qv::testing
