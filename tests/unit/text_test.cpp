#include <gtest/gtest.h>

#include <string>

#include "process/kill_command.h"
#include "process/text_compare.h"

TEST(EqualsIgnoringCase, FoldsOnlyAsciiCapitals) {
  struct Case {
    std::string left, right;
    bool equal;
  } cases[] = {
      {"notepad.exe", "NOTEPAD.EXE", true},
      {"-K", "-k", true},
      {"AZaz@[`{", "azAZ@[`{", true},  // neighbours of A-Z and a-z are not letters
      {"@", "`", false},
      {"[", "{", false},
      {"notepad", "notepad.exe", false},
      {"notepad.exe", "notepad", false},
      {"", "", true},
      {"", "a", false},
      {"\xC4rger", "\xE4rger", false},  // Latin-1 capital and small A-umlaut: no fold above 0x7F
      {"\xC4RGER", "\xC4rger", true},
      {"\xC3\x84", "\xC3\xA4", false},  // the same in UTF-8
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoringCase(c.left.c_str(), c.right.c_str()), c.equal)
        << '"' << c.left << "\" vs \"" << c.right << '"';
  }
}

TEST(ParseProcessId, FollowsTheDecimalRules) {
  struct Case {
    const char* target;
    int id;
  } cases[] = {
      {"42", 42},
      {" 42", 42},
      {"\t\n\v\f\r 42", 42},
      {"\xA0"
       "42",
       0},  // only ASCII white space is skipped
      {"+7", 7},
      {"007", 7},
      {"123abc", 123},
      {"-5", -5},
      {"4294967295", -1},
      {"2147483648", -2147483647 - 1},
      {"4294967296", 0},
      {"4294967297", 1},
      {"0", 0},
      {"0x1A", 0},
      {"--5", 0},
      {"+-5", 0},
      {"- 5", 0},
      {"", 0},
      {"notepad.exe", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseProcessId(c.target), c.id) << '"' << c.target << '"';
  }
}
