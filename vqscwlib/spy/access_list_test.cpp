#include "vqscwlib/spy/access_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using vqscw::AccessList;
using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

Ranges Entries(const AccessList& list) {
  Ranges ranges;
  for (const AccessRange* r = list.first(); r != nullptr; r = r->next) {
    ranges.emplace_back(r->low, r->high);
  }
  return ranges;
}

Ranges ParseText(const char* text) {
  AccessList list;
  EXPECT_EQ(vqscw::ParseAccessList(text, &list), vqscw::kAccessListParsed) << text;
  return Entries(list);
}

struct TextCase {
  const char* text;
  Ranges expected;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class InlineAccessListTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(InlineAccessListTest, ParsesToRanges) {
  EXPECT_EQ(ParseText(GetParam().text), GetParam().expected) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, InlineAccessListTest,
    ::testing::Values(
        TextCase{"", {}}, TextCase{"1-100;205;300 - 310", {{1, 100}, {205, 205}, {300, 310}}},
        TextCase{"0;5", {{5, 5}}}, TextCase{"7-3", {}}, TextCase{"3-7", {{3, 7}}},
        TextCase{"0x10;020;0X1f", {{16, 16}, {16, 16}, {31, 31}}},
        TextCase{"32767;32768;1-32768", {{32767, 32767}}}, TextCase{"5 6", {}},
        TextCase{";;5;;;6;", {{5, 5}, {6, 6}}},
        // Single channels end at the text's end, ";", CR or LF, with blanks allowed before.
        TextCase{" 5 ; 6\t;7\r;8\n", {{5, 5}, {6, 6}, {7, 7}, {8, 8}}}, TextCase{"5x;6", {{6, 6}}},
        // A line feed ends a single channel, and what follows it up to the next ";" is passed.
        TextCase{"5\n6;7", {{5, 5}, {7, 7}}},
        // Ranges: white space around "-", a signed second number, text after them.
        TextCase{"3 \t-\t9;+4 - +8;2-5junk", {{3, 9}, {4, 8}, {2, 5}}},
        TextCase{"5-5;5--6;-;-5;5-", {{5, 5}}},
        // Numbers are 32-bit: a negative number wraps, a too large one saturates.
        TextCase{"-4294967295;4294967297;99999999999999999999", {{1, 1}}},
        TextCase{"08;0x;0xg;09-10", {}}, TextCase{"017-0x10", {{15, 16}}}));

TEST(AccessListTest, NullTextIsAnEmptyList) { EXPECT_EQ(ParseText(nullptr), Ranges{}); }

TEST(AccessListTest, MatchingIncludesBoundsOfEveryRange) {
  AccessList list;
  ASSERT_EQ(vqscw::ParseAccessList("10-20;300", &list), vqscw::kAccessListParsed);
  for (uint32_t channel : {10u, 15u, 20u, 300u}) EXPECT_TRUE(list.Contains(channel)) << channel;
  for (uint32_t channel : {9u, 21u, 299u, 301u, 0u})
    EXPECT_FALSE(list.Contains(channel)) << channel;
  EXPECT_FALSE(AccessList().Contains(10));
}

TEST(AccessListTest, ParsingAppendsToWhatTheListHolds) {
  AccessList list;
  vqscw::ParseAccessList("1", &list);
  vqscw::ParseAccessList("2-3", &list);
  EXPECT_EQ(Entries(list), (Ranges{{1, 1}, {2, 3}}));
  AccessList other;
  other.Swap(&list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(Entries(other), (Ranges{{1, 1}, {2, 3}}));
  list.Append(9, 9);  // the swapped-out list still appends at its own end
  other.Append(4, 4);
  EXPECT_EQ(Entries(list), (Ranges{{9, 9}}));
  EXPECT_EQ(Entries(other), (Ranges{{1, 1}, {2, 3}, {4, 4}}));
}

// Access-list files, written to a temporary directory of the test's own.
class AccessFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vqscw-acl-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::remove(Path().c_str());
    rmdir(dir_.c_str());
  }
  std::string Path() const { return dir_ + "/acl.txt"; }
  std::string Reference() const { return "file://" + Path(); }
  Ranges ParseFile(const std::string& contents) {
    std::FILE* file = std::fopen(Path().c_str(), "wb");
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
    return ParseText(Reference().c_str());
  }
  std::string dir_;
};

TEST_F(AccessFileTest, KeepsOnlyAllowLines) {
  EXPECT_EQ(ParseFile("# channels of studio A\n"
                      "allow 1-100\n"
                      "ALLOW 205\r\n"
                      "  \tallow 300 - 310\n"
                      "Allow 5\n"
                      "allow 6;\n"
                      "allowed 7\n"
                      "; allow 8\n"
                      "allow9\n"
                      "allow 10 11\n"
                      "deny 12\n"
                      "allow 13 \n"
                      "allow 14"),
            (Ranges{{1, 100}, {205, 205}, {300, 310}, {5, 5}, {13, 13}, {14, 14}}));
}

TEST_F(AccessFileTest, SemicolonDoesNotSeparateEntriesInAFile) {
  EXPECT_EQ(ParseFile("allow 1;2\nallow 3-4;5\n"), (Ranges{{3, 4}}));
}

TEST_F(AccessFileTest, LongLinesAreReadInPiecesOf255Characters) {
  // The first piece is blanks only; the second piece starts with "allow".
  const std::string line = std::string(255, ' ') + "allow 42\n";
  // A piece that ends right after a number: the number ends at the end of the piece.
  const std::string cut = "allow " + std::string(246, ' ') + "123" + "4\n";
  ASSERT_EQ(cut.size(), 255u + 2u);
  EXPECT_EQ(ParseFile(line + cut), (Ranges{{42, 42}, {123, 123}}));
}

TEST_F(AccessFileTest, FileWithoutValidLinesIsAnEmptyList) {
  EXPECT_EQ(ParseFile("nothing here\nallow 0\nallow 40000\n"), Ranges{});
  EXPECT_EQ(ParseFile(""), Ranges{});
}

TEST_F(AccessFileTest, MissingFileIsReported) {
  AccessList list;
  EXPECT_EQ(vqscw::ParseAccessList(Reference().c_str(), &list), vqscw::kAccessListNoFile);
  EXPECT_EQ(vqscw::ParseAccessList("file://", &list), vqscw::kAccessListNoFile);
  EXPECT_TRUE(list.empty());
  // The prefix is compared case-sensitively: another spelling is inline text.
  EXPECT_EQ(ParseText(("FILE://" + Path()).c_str()), Ranges{});
}

}  // namespace
