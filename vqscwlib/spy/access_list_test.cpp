#include "vqscwlib/spy/access_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

Ranges Parse(const std::string& text, uint32_t expected_result = vqscw::kAccessListParsed) {
  vqscw::AccessList list;
  EXPECT_EQ(vqscw::ParseAccessList(text.c_str(), &list), expected_result) << text;
  Ranges ranges;
  for (const AccessRange* r = list.first(); r != nullptr; r = r->next) {
    ranges.emplace_back(r->low, r->high);
    EXPECT_TRUE(list.Contains(r->low) && list.Contains(r->high));
  }
  return ranges;
}

TEST(AccessListTest, InlineEntries) {
  const std::vector<std::pair<std::string, Ranges>> cases = {
      {"", {}},
      {"1-100;205;300 - 310", {{1, 100}, {205, 205}, {300, 310}}},
      {"0;5", {{5, 5}}},
      {"7-3;3-7", {{3, 7}}},
      {"0x10;020;0X1f", {{16, 16}, {16, 16}, {31, 31}}},
      {"32767;32768;1-32768", {{32767, 32767}}},
      {"5 6;;;5x", {}},
      // A single channel ends at the end, ";", CR or LF, blanks allowed before; after a line feed
      // the rest up to the next ";" is passed over.
      {" 5 ; 6\t;7\r;8\n9;10", {{5, 5}, {6, 6}, {7, 7}, {8, 8}, {10, 10}}},
      // Ranges: white space around "-", a signed second number, text after them.
      {"3 \t-\t9;+4 - +8;2-5junk;5--6;-5;5-", {{3, 9}, {4, 8}, {2, 5}}},
      // Numbers are unsigned 32-bit: a negative one wraps, a too large one saturates.
      {"-4294967295;4294967297;99999999999999999999;08;0x;017-0x10", {{1, 1}, {15, 16}}},
      // Another spelling of the file prefix is inline text.
      {"FILE://5", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Parse(text), expected) << text;
  vqscw::AccessList list;
  EXPECT_EQ(vqscw::ParseAccessList(nullptr, &list), vqscw::kAccessListParsed);
  EXPECT_FALSE(list.Contains(1));
}

TEST(AccessListTest, FileEntries) {
  char path[] = "/tmp/vqscw-acl-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  // The 255-character pieces: blanks, then "allow 42" read as a line of its own; a number cut by
  // the end of a piece ends there.
  const std::string text =
      "# studio A\nallow 1-100\nALLOW 205\r\n  \tallow 300 - 310\n"
      "Allow 5\nallow 6;\nallowed 7\n; allow 8\nallow9\nallow 10 11\n"
      "allow 12-13;14\nallow 15 \n" +
      std::string(255, ' ') + "allow 42\n" + "allow " + std::string(246, ' ') + "1234\nallow 16";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  const std::string reference = std::string(vqscw::kAccessFilePrefix) + path;
  EXPECT_EQ(Parse(reference), (Ranges{{1, 100},
                                      {205, 205},
                                      {300, 310},
                                      {5, 5},
                                      {12, 13},
                                      {15, 15},
                                      {42, 42},
                                      {123, 123},
                                      {16, 16}}));
  unlink(path);
  EXPECT_EQ(Parse(reference, vqscw::kAccessListNoFile), Ranges{});
  EXPECT_EQ(Parse("file://", vqscw::kAccessListNoFile), Ranges{});
}

}  // namespace
