// Base64 codec. Both directions allocate their output once, at its final length, and write
// it in place.
#include "ConvCode.h"

#include <array>
#include <cstdint>
#include <limits>
#include <new>

namespace zq {
namespace {

// The one alphabet table of both directions.
constexpr char kAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
// Inside the decoder a position that holds "=" (or nothing) carries this value.
constexpr std::uint8_t kPadMarker = 255;
constexpr std::uint8_t kNoValue = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeValues() {
  std::array<std::uint8_t, 256> values{};
  for (auto& v : values) v = kNoValue;
  for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  return values;
}
constexpr std::array<std::uint8_t, 256> kValues = MakeValues();

inline std::uint8_t ValueOf(char c) { return kValues[static_cast<unsigned char>(c)]; }

std::string Encode(std::string_view in) {
  const std::size_t n = in.size();
  if (n == 0) return {};
  if (n / 3 >= std::numeric_limits<std::size_t>::max() / 4 - 1) return {};
  std::string out(4 * ((n + 2) / 3), '\0');
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  char* d = out.data();
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, d += 4) {
    const std::uint32_t v = (std::uint32_t{s[i]} << 16) | (std::uint32_t{s[i + 1]} << 8) | s[i + 2];
    d[0] = kAlphabet[v >> 18];
    d[1] = kAlphabet[(v >> 12) & 63];
    d[2] = kAlphabet[(v >> 6) & 63];
    d[3] = kAlphabet[v & 63];
  }
  if (n - i == 2) {
    d[0] = kAlphabet[s[i] >> 2];
    d[1] = kAlphabet[((s[i] & 3) << 4) | (s[i + 1] >> 4)];
    d[2] = kAlphabet[(s[i + 1] & 15) << 2];
    d[3] = kPad;
  } else if (n - i == 1) {
    d[0] = kAlphabet[s[i] >> 2];
    d[1] = kAlphabet[(s[i] & 3) << 4];
    d[2] = kPad;
    d[3] = kPad;
  }
  return out;
}

// Writes the bytes of one group, dropping those that lie beyond the result's length.
class GroupWriter {
 public:
  explicit GroupWriter(std::string& out) : d_(out.data()), left_(out.size()) {}

  void Put(std::uint8_t b) {
    if (left_ == 0) return;
    *d_++ = static_cast<char>(b);
    --left_;
  }

  void Group(const std::uint8_t s[4]) {
    Put(static_cast<std::uint8_t>(((s[0] * 4) & 255) | ((s[1] & 48) >> 4)));
    if (s[2] == kPadMarker) return;
    Put(static_cast<std::uint8_t>(((s[1] & 15) * 16) | ((s[2] & 60) >> 2)));
    if (s[3] == kPadMarker) return;
    Put(static_cast<std::uint8_t>(((s[2] & 3) * 64) | s[3]));
  }

  bool HasRoomFor3() const { return left_ >= 3; }

  void Put3(std::uint32_t v) {
    d_[0] = static_cast<char>(v >> 16);
    d_[1] = static_cast<char>(v >> 8);
    d_[2] = static_cast<char>(v);
    d_ += 3;
    left_ -= 3;
  }

 private:
  char* d_;
  std::size_t left_;
};

// Fills the four positions of the group starting at text[i]; returns the index after it.
std::size_t ReadGroup(std::string_view text, std::size_t i, std::uint8_t s[4]) {
  const std::size_t n = text.size();
  for (int p = 0; p < 4; ++p) {
    s[p] = kPadMarker;
    while (i < n) {
      const char c = text[i];
      const std::uint8_t v = ValueOf(c);
      const bool last = i == n - 1;
      ++i;
      if (p >= 2 && c == kPad) break;  // pad marker
      if (last) {
        s[p] = v == kNoValue ? kPadMarker : v;
        break;
      }
      if (v != kNoValue) {
        s[p] = v;
        break;
      }
      // Outside the alphabet and not the last character: skipped.
    }
  }
  return i;
}

ByteString Decode(std::string_view text) {
  const std::size_t n = text.size();
  if (n == 0) return {};
  ByteString out(DecodedBase64Length(text), '\0');
  GroupWriter w(out);
  std::size_t i = 0;
  while (i < n) {
    // Fast path: four characters of the alphabet, none of them the last one of the text.
    // Such a group reads exactly as the general rule would read it.
    if (i + 4 < n && w.HasRoomFor3()) {
      const std::uint8_t a = ValueOf(text[i]), b = ValueOf(text[i + 1]);
      const std::uint8_t c = ValueOf(text[i + 2]), d = ValueOf(text[i + 3]);
      if ((a | b | c | d) < 64) {
        w.Put3((std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d);
        i += 4;
        continue;
      }
    }
    std::uint8_t s[4];
    i = ReadGroup(text, i, s);
    w.Group(s);
  }
  return out;
}

}  // namespace

std::size_t DecodedBase64Length(std::string_view text) noexcept {
  const std::size_t n = text.size();
  std::size_t length = (n / 4) * 3;
  std::size_t less = 0;
  if (n >= 2 && text[n - 2] == kPad)
    less = 2;
  else if (n >= 1 && text[n - 1] == kPad)
    less = 1;
  return length > less ? length - less : 0;
}

std::string EncodeBase64(std::string_view bytes) noexcept {
  try {
    return Encode(bytes);
  } catch (...) {
    return {};
  }
}

ByteString DecodeBase64(std::string_view text) noexcept {
  try {
    return Decode(text);
  } catch (...) {
    return {};
  }
}

}  // namespace zq
