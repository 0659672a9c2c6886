#include "platform/ini_profile.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

const char kText[] =
    "; update settings\r\n"
    "[Http Manual cfg]\r\n"
    "  httpManualAddr =  http://a.example/  \r\n"
    "httpManualAddr=second\r\n"
    "\r\n"
    "[http auto CFG]\r\n"
    "HTTPAUTOADDR=\"http://quoted/\"\r\n"
    "Odd   Spacing\t=\tkept as it is\r\n"
    "\r\n"
    "[Http Manual cfg]\r\n"
    "Other=never seen\r\n";

TEST(IniRead, SectionsAndKeysIgnoreCaseValuesAreTrimmedAndTheFirstMatchWins) {
  EXPECT_EQ(ReadProfileString(kText, "Http Manual cfg", "httpManualAddr"), "http://a.example/");
  EXPECT_EQ(ReadProfileString(kText, "HTTP MANUAL CFG", "HTTPMANUALADDR"), "http://a.example/");
  EXPECT_EQ(ReadProfileString(kText, "Http Auto cfg", "httpAutoAddr"), "http://quoted/");
  EXPECT_EQ(ReadProfileString(kText, "Http Auto cfg", "odd   spacing"), "kept as it is");
  // Only the first section of a name is searched.
  EXPECT_EQ(ReadProfileString(kText, "Http Manual cfg", "Other"), "");
  EXPECT_EQ(ReadProfileString(kText, "Http Auto cfg", "httpManualAddr"), "");
  EXPECT_EQ(ReadProfileString(kText, "Nowhere", "x"), "");
  EXPECT_EQ(ReadProfileString("", "a", "b"), "");
}

TEST(IniWrite, ReplacesTheValueInPlaceAndKeepsEveryOtherByte) {
  std::string written = WriteProfileString(kText, "HTTP auto cfg", "httpautoaddr", "http://new/");
  std::string expected = kText;
  expected.replace(expected.find("HTTPAUTOADDR=\"http://quoted/\""), 29,
                   "HTTPAUTOADDR=http://new/");
  EXPECT_EQ(written, expected);
  // The first of two equal keys is the one replaced.
  written = WriteProfileString(kText, "Http Manual cfg", "httpManualAddr", "x");
  EXPECT_NE(written.find("httpManualAddr=x\r\nhttpManualAddr=second\r\n"), std::string::npos);
}

TEST(IniWrite, AddsAMissingKeyAtTheEndOfItsSectionAndAMissingSectionAtTheEnd) {
  std::string written = WriteProfileString(kText, "Http Auto cfg", "Retry", "3");
  EXPECT_NE(written.find("Odd   Spacing\t=\tkept as it is\r\nRetry=3\r\n\r\n[Http Manual cfg]"),
            std::string::npos)
      << written;
  written = WriteProfileString(kText, "Http Auto filename cfg", "AutoApp", "app.dld");
  EXPECT_EQ(written, std::string(kText) + "\r\n[Http Auto filename cfg]\r\nAutoApp=app.dld\r\n");
  EXPECT_EQ(ReadProfileString(written, "Http Auto filename cfg", "AutoApp"), "app.dld");
  // A last line without its line end is ended before anything is added after it.
  EXPECT_EQ(WriteProfileString("[a]\r\nx=1", "a", "y", "2"), "[a]\r\nx=1\r\ny=2\r\n");
  EXPECT_EQ(WriteProfileString("[a]\nx=1\n", "b", "y", "2"), "[a]\nx=1\n\r\n[b]\r\ny=2\r\n");
  EXPECT_EQ(WriteProfileString("", "s", "k", "v"), "[s]\r\nk=v\r\n");
}

TEST(IniFile, WritingCreatesAMissingFileAndReadingAMissingFileGivesEmpty) {
  testing::TempDir dir;
  std::string path = dir.File("httpcfg.ini");
  EXPECT_EQ(ReadProfileFile(path, "s", "k"), "");
  WriteProfileFile(path, "Http Auto cfg", "httpAutoAddr", "http://x/");
  WriteProfileFile(path, "Http Auto cfg", "httpAutoAddr", "http://y/");
  EXPECT_EQ(ReadProfileFile(path, "http auto cfg", "HTTPAUTOADDR"), "http://y/");
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "[Http Auto cfg]\r\nhttpAutoAddr=http://y/\r\n");
}

}  // namespace
}  // namespace qv
