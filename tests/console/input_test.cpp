// Typed answers: numbers in their bases, what a stray word does, and words that do not fit.
#include "input.h"

#include <gtest/gtest.h>

#include <string>

namespace kolmconsole {
namespace {

class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string text) : text_(std::move(text)) {}
  int peek() override { return next_ < text_.size() ? static_cast<unsigned char>(text_[next_]) : -1; }
  int get() override {
    const int c = peek();
    if (c != -1) ++next_;
    return c;
  }
  std::string rest() const { return text_.substr(next_); }

 private:
  std::string text_;
  std::size_t next_ = 0;
};

int int_of(const std::string& text) {
  TextSource in(text);
  return read_int(in);
}

TEST(ReadInt, TakesTheBaseFromThePrefix) {
  EXPECT_EQ(int_of("42"), 42);
  EXPECT_EQ(int_of("  \n\t -17"), -17);
  EXPECT_EQ(int_of("+8"), 8);
  EXPECT_EQ(int_of("0x1F"), 31);
  EXPECT_EQ(int_of("0XfF"), 255);
  EXPECT_EQ(int_of("-0x10"), -16);
  EXPECT_EQ(int_of("017"), 15);
  EXPECT_EQ(int_of("0"), 0);
  EXPECT_EQ(int_of("08"), 0) << "8 is no octal digit; the number ends before it";
}

TEST(ReadInt, WrapsToThirtyTwoBits) {
  EXPECT_EQ(int_of("0xFFFFFFFF"), -1);
  EXPECT_EQ(int_of("4294967296"), 0);
  EXPECT_EQ(int_of("2147483648"), -2147483647 - 1);
  EXPECT_EQ(int_of("99999999999999999999999999"), -1) << "a number too long for any register saturates";
}

TEST(ReadInt, StopsAtTheFirstCharacterThatIsNoDigit) {
  TextSource in("12abc\n5");
  EXPECT_EQ(read_int(in), 12);
  EXPECT_EQ(in.rest(), "abc\n5");
  TextSource octal("0779");
  EXPECT_EQ(read_int(octal), 63);
  EXPECT_EQ(octal.rest(), "9");
}

TEST(ReadInt, AnAnswerThatIsNoNumberReadsAsZeroAndLosesItsLine) {
  for (const char* text : {"abc def\nj\n", "-\nj\n", "+x\nj\n", "\n\n  j5\nj\n"}) {
    TextSource in(text);
    EXPECT_EQ(read_int(in), 0) << text;
    EXPECT_EQ(in.rest(), "j\n") << text;
  }
}

TEST(ReadInt, EndOfInputReadsAsZero) {
  EXPECT_EQ(int_of(""), 0);
  EXPECT_EQ(int_of("   \n"), 0);
  EXPECT_EQ(int_of("-"), 0);
}

TEST(ReadDouble, ReadsDecimalNotation) {
  for (const auto& [text, value] : std::initializer_list<std::pair<const char*, double>>{{"2.5", 2.5},
                                                                                         {" -0.000123", -0.000123},
                                                                                         {"1e3", 1000.0},
                                                                                         {"+.5", 0.5},
                                                                                         {"7.", 7.0},
                                                                                         {"1.5E-2", 0.015},
                                                                                         {"3e+2", 300.0},
                                                                                         {"12", 12.0}}) {
    TextSource in(text);
    EXPECT_DOUBLE_EQ(read_double(in), value) << text;
  }
}

TEST(ReadDouble, LeavesWhatFollowsTheNumber) {
  TextSource in("1.5x\n");
  EXPECT_DOUBLE_EQ(read_double(in), 1.5);
  EXPECT_EQ(in.rest(), "x\n");
  TextSource exponent_only("4e\n");
  EXPECT_DOUBLE_EQ(read_double(exponent_only), 4.0);
}

TEST(ReadDouble, AnAnswerThatIsNoNumberReadsAsZeroAndLosesItsLine) {
  for (const char* text : {"abc\nn\n", ".\nn\n", "-e5\nn\n"}) {
    TextSource in(text);
    EXPECT_EQ(read_double(in), 0.0) << text;
    EXPECT_EQ(in.rest(), "n\n") << text;
  }
  TextSource empty("");
  EXPECT_EQ(read_double(empty), 0.0);
}

TEST(ReadChar, TakesTheFirstNonBlankCharacter) {
  TextSource in("\n  \tjn\n");
  EXPECT_EQ(read_char(in), 'j');
  EXPECT_EQ(read_char(in), 'n');
  EXPECT_EQ(read_char(in), 0) << "end of input";
}

TEST(ReadWord, StopsAtABlankAndKeepsIt) {
  TextSource in("  kg N\n");
  char word[12];
  read_word(in, word, sizeof word);
  EXPECT_STREQ(word, "kg");
  EXPECT_EQ(in.rest(), " N\n");
}

TEST(ReadWord, KeepsWhatFitsAndDropsTheRestOfTheWord) {
  TextSource in("abcdefghijklmnopqrstuvwxyz next");
  char word[12 + 4];
  std::fill(std::begin(word), std::end(word), '#');
  read_word(in, word, 12);
  EXPECT_STREQ(word, "abcdefghijk");
  EXPECT_EQ(word[12], '#') << "nothing written past the buffer";
  EXPECT_EQ(in.rest(), " next");
}

TEST(ReadWord, EndOfInputGivesTheEmptyWord) {
  TextSource in("   ");
  char word[4] = {'x', 'x', 'x', 'x'};
  read_word(in, word, sizeof word);
  EXPECT_STREQ(word, "");
}

}  // namespace
}  // namespace kolmconsole
