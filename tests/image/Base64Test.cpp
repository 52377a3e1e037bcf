#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ConvCode.h"

using zq::DecodeBase64;
using zq::EncodeBase64;

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

}  // namespace

TEST(Base64Encode, FollowsRfc4648) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("abc"), "YWJj");
  EXPECT_EQ(EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(EncodeBase64("a"), "YQ==");
  // RFC 4648 section 10 test vectors.
  EXPECT_EQ(EncodeBase64("f"), "Zg==");
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
  EXPECT_EQ(EncodeBase64("foob"), "Zm9vYg==");
  EXPECT_EQ(EncodeBase64("fooba"), "Zm9vYmE=");
  EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
  // Zero bytes and the last two alphabet entries.
  EXPECT_EQ(EncodeBase64(Bytes({0, 0, 0})), "AAAA");
  EXPECT_EQ(EncodeBase64(Bytes({0xFB, 0xFF, 0xBF})), "+/+/");
  EXPECT_EQ(EncodeBase64(Bytes({0xFF, 0xFF, 0xFF, 0xFF})), "/////w==");
}

TEST(Base64Encode, HasExactLengthAndNoLineBreaks) {
  std::string data(100000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  for (std::size_t n : {1u, 2u, 3u, 4u, 57u, 76u, 99999u, 100000u}) {
    const std::string text = EncodeBase64(std::string_view(data).substr(0, n));
    EXPECT_EQ(text.size(), 4 * ((n + 2) / 3)) << n;
    EXPECT_EQ(text.find_first_of("\r\n "), std::string::npos) << n;
  }
}

TEST(Base64Decode, ReversesTheEncoderForAnyBytes) {
  std::mt19937 rng(1234);
  for (int n = 0; n < 300; ++n) {
    std::string data(static_cast<std::size_t>(n), '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    EXPECT_EQ(DecodeBase64(EncodeBase64(data)), data) << n;
  }
}

TEST(Base64Decode, EmptyAndShortTexts) {
  EXPECT_EQ(DecodeBase64(""), "");
  // Shorter than four characters: L is 0 or negative, whatever the text holds.
  for (const char* t : {"Q", "QU", "QUI", "==", "=", "A=", "\n\n\n"})
    EXPECT_EQ(DecodeBase64(t), "") << t;
}

TEST(Base64Decode, LengthIsFixedFromTheWholeText) {
  // L = (n div 4) * 3, less 2 for "=" at n-1, else less 1 for "=" at n.
  EXPECT_EQ(zq::DecodedBase64Length("QUJD"), 3u);
  EXPECT_EQ(zq::DecodedBase64Length("QUI="), 2u);
  EXPECT_EQ(zq::DecodedBase64Length("QQ=="), 1u);
  EXPECT_EQ(zq::DecodedBase64Length("QUJDRA"), 3u);
  EXPECT_EQ(zq::DecodedBase64Length("Q=Q"), 0u);
  // Skipped characters count: "QU JD" has n = 5, so L = 3.
  EXPECT_EQ(DecodeBase64("QU JD"), "ABC");
  // Eight characters, L = 6. The first CR LF is skipped; of the second, the CR is skipped and
  // the LF, being last, opens a group of pad markers (one byte, 255); the rest stays zero.
  EXPECT_EQ(DecodeBase64("QU\r\nJD\r\n"), Bytes({65, 66, 67, 255, 0, 0}));
}

TEST(Base64Decode, IncompleteUnpaddedLastGroupIsDropped) {
  // "QUJDREU" would be "ABCDE"; with 7 characters L = 3, so only "ABC" remains.
  EXPECT_EQ(DecodeBase64("QUJDREU"), "ABC");
  EXPECT_EQ(DecodeBase64("QUJDRA"), "ABC");
}

TEST(Base64Decode, TrailingLineFeedAfterUnpaddedText) {
  // 65 66 67 encode to "QUJD"; the line feed is the last character, so it opens a group of
  // pad markers whose byte (255) would be the fourth and lies beyond L = 3.
  EXPECT_EQ(DecodeBase64("QUJD\n"), Bytes({65, 66, 67}));
}

TEST(Base64Decode, TrailingCarriageReturnLineFeedAfterPaddedText) {
  // 65 66 encode to "QUI="; with CR LF the last two characters are no longer "=", so L = 3.
  // The CR is skipped, the LF opens a group of pad markers that yields 255.
  EXPECT_EQ(DecodeBase64("QUI=\r\n"), Bytes({65, 66, 255}));
}

TEST(Base64Decode, SkipsCharactersOutsideTheAlphabet) {
  EXPECT_EQ(DecodeBase64("QU JD"), "ABC");
  EXPECT_EQ(DecodeBase64("Q\x80UJ\xff" "D\n" "RE\tVG"), Bytes({65, 66, 67, 68, 69, 70, 0, 0, 0}));
  // The URL-safe alphabet is not accepted: "-" and "_" are skipped like any other stranger.
  EXPECT_EQ(DecodeBase64("-_-_QUJD"), Bytes({65, 66, 67, 0, 0, 0}));
  // "=" at positions 1 and 2 is skipped too.
  EXPECT_EQ(DecodeBase64("==QUJD"), Bytes({65, 66, 67}));
}

TEST(Base64Decode, PadInTheMiddleEndsItsGroup) {
  // "QQ==" yields 65; the next group starts with the character after the pads.
  EXPECT_EQ(DecodeBase64("QQ==QUJD"), Bytes({65, 65, 66, 67, 0, 0}));
  // "=" at position 4: two bytes, then the next group.
  EXPECT_EQ(DecodeBase64("QUI=QUJD"), Bytes({65, 66, 65, 66, 67, 0}));
  // A pad at position 3 makes the group one byte, though the fourth position still takes
  // the next character ("A"); "QUJD" then forms the next group.
  EXPECT_EQ(DecodeBase64("QQ=AQUJD"), Bytes({65, 65, 66, 67, 0, 0}));
}

TEST(Base64Decode, SingleByteWithTwoPads) {
  EXPECT_EQ(DecodeBase64("QQ=="), "A");
  EXPECT_EQ(DecodeBase64("QUI="), "AB");
}

TEST(Base64Decode, LastCharacterWithoutValueIsAPadMarker) {
  // Six characters: L = 3. The first group gives 65 66 67; "R" and "!" (last) make a group
  // whose third position is a pad marker, so it gives one byte, which lies beyond L.
  EXPECT_EQ(DecodeBase64("QUJDR!"), "ABC");
  // "RUZH" is "EFG"; the last "!" opens a group of pad markers whose byte lies beyond L.
  EXPECT_EQ(DecodeBase64("QUJDRUZH!"), Bytes({65, 66, 67, 69, 70, 71}));
  // The inner "!" are skipped and the last one is the fourth position's pad marker: "RUZ"
  // gives two bytes; L = 9 leaves four zeros.
  EXPECT_EQ(DecodeBase64("QUJDRUZ!!!!!"), Bytes({65, 66, 67, 69, 70, 0, 0, 0, 0}));
  // A last character without a value at position 1 gives ((255 * 4) & 255) | 3 = 255.
  EXPECT_EQ(DecodeBase64("QUJDQUJD!!!!\n"), Bytes({65, 66, 67, 65, 66, 67, 255, 0, 0}));
}

TEST(Base64Decode, GarbageGivesSomeBytesOfLengthL) {
  const std::string text(1001, '*');
  const std::string out = DecodeBase64(text);
  EXPECT_EQ(out.size(), 750u);
}

TEST(Base64, LargeInputRoundTrip) {
  std::string data(3 * 1024 * 1024 + 1, '\0');
  std::mt19937 rng(99);
  for (auto& c : data) c = static_cast<char>(rng());
  const std::string text = EncodeBase64(data);
  ASSERT_EQ(text.size(), 4 * ((data.size() + 2) / 3));
  EXPECT_EQ(DecodeBase64(text), data);
  // Wrapped text, in lines of varying length so that the line breaks fall at every offset
  // of the vector blocks: they are skipped. The decoded length counts them, so the bytes
  // come first.
  std::string wrapped;
  for (std::size_t at = 0, line = 0; at < text.size(); at += 40 + line++ % 61)
    wrapped += text.substr(at, 40 + line % 61) + "\r\n";
  EXPECT_EQ(DecodeBase64(wrapped).substr(0, data.size()), data);
}

// The text written straight into 16-bit characters (a BSTR) is the same text, for every
// length around the 12-byte blocks and the 3-byte groups.
TEST(Base64, WideTextIsTheSameText) {
  std::mt19937 rng(5);
  for (std::size_t n : {0u, 1u, 2u, 3u, 11u, 12u, 13u, 15u, 16u, 17u, 27u, 28u, 29u, 100u, 1000001u}) {
    std::string data(n, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    const std::string text = EncodeBase64(data);
    ASSERT_EQ(text.size(), zq::EncodedBase64Length(n));
    std::wstring wide(text.size() + 1, L'#');
    zq::EncodeBase64To(data, wide.data());
    EXPECT_EQ(L'#', wide.back()) << "wrote past the text for " << n;
    wide.pop_back();
    EXPECT_EQ(std::wstring(text.begin(), text.end()), wide) << n;
  }
}
