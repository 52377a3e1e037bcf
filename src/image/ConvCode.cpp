// Base64 codec. Both directions allocate their output once, at its final length, and write
// it in place.
//
// The bulk of a text goes 16 characters (12 bytes) at a time through SSSE3 where the
// processor has it (and 16-bit text through AVX2; both checked at run time, the rest of the
// module assumes no more than SSE2),
// else through a scalar loop that looks up 12 bits at once. The decoder's vector step takes
// only blocks that its scalar fast path would read the same way (sixteen characters of the
// alphabet, none of them the text's last, room for their bytes); every other group goes
// through the general rule.
#include "ConvCode.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#if defined(__SSE2__) || defined(_M_X64) || defined(__x86_64__) || defined(__i386__)
#define ZQ_BASE64_X86 1
#include <immintrin.h>
#endif

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

// Two characters of the alphabet for every 12-bit value, first one in the low byte.
std::array<std::uint16_t, 4096> MakePairs() {
  std::array<std::uint16_t, 4096> pairs{};
  for (unsigned v = 0; v < 4096; ++v)
    pairs[v] = static_cast<std::uint16_t>(static_cast<unsigned char>(kAlphabet[v >> 6]) |
                                          (static_cast<unsigned char>(kAlphabet[v & 63]) << 8));
  return pairs;
}
const std::array<std::uint16_t, 4096> kPairs = MakePairs();

#ifdef ZQ_BASE64_X86
bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// Sixteen characters of the text of the first 12 of 16 bytes at s (all 16 must be readable).
__attribute__((target("ssse3"))) inline __m128i EncodeBlock(const unsigned char* s) {
  __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  // Each 32-bit lane gets the three bytes of one group, as bytes b1 b0 b2 b1.
  in = _mm_shuffle_epi8(in, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
  // The four 6-bit values of the group, one a byte.
  const __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00));
  const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
  const __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003f03f0));
  const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
  const __m128i values = _mm_or_si128(t1, t3);
  // Value to character: an offset chosen by the value's range.
  const __m128i offsets = _mm_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
  range = _mm_sub_epi8(range, _mm_cmpgt_epi8(values, _mm_set1_epi8(25)));
  return _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range));
}

template <class Ch>
__attribute__((target("ssse3"))) inline void Store(Ch* d, __m128i chars) {
  if constexpr (sizeof(Ch) == 1) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), chars);
  } else if constexpr (sizeof(Ch) == 2) {  // a BSTR's characters
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(chars, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d) + 1, _mm_unpackhi_epi8(chars, zero));
  } else {
    alignas(16) unsigned char bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), chars);
    for (int k = 0; k < 16; ++k) d[k] = static_cast<Ch>(bytes[k]);
  }
}

// Encodes whole blocks while 16 bytes can be read; returns how many bytes it took.
template <class Ch>
__attribute__((target("ssse3"))) std::size_t EncodeBulkSsse3(const unsigned char* s, std::size_t n, Ch* d) {
  std::size_t i = 0;
  for (; i + 52 <= n; i += 48, d += 64) {  // four blocks a turn
    const __m128i a = EncodeBlock(s + i), b = EncodeBlock(s + i + 12);
    const __m128i c = EncodeBlock(s + i + 24), e = EncodeBlock(s + i + 36);
    Store(d, a);
    Store(d + 16, b);
    Store(d + 32, c);
    Store(d + 48, e);
  }
  for (; i + 16 <= n; i += 12, d += 16) Store(d, EncodeBlock(s + i));
  return i;
}

// Thirty-two characters of the text of the 24 bytes at s (28 must be readable): EncodeBlock's
// steps on two blocks at once, one in each half.
__attribute__((target("avx2"))) inline __m256i EncodeBlocks(const unsigned char* s) {
  __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12)), 1);
  in = _mm256_shuffle_epi8(in, _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1, 10, 11, 9, 10, 7, 8, 6,
                                               7, 4, 5, 3, 4, 1, 2, 0, 1));
  const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
  const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
  const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
  const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
  const __m256i values = _mm256_or_si256(t1, t3);
  const __m256i offsets = _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0, 65, 71, -4, -4,
                                           -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
  range = _mm256_sub_epi8(range, _mm256_cmpgt_epi8(values, _mm256_set1_epi8(25)));
  return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range));
}

template <class Ch>
__attribute__((target("avx2"))) inline void Store(Ch* d, __m256i chars) {
  if constexpr (sizeof(Ch) == 1) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), chars);
  } else {  // a BSTR's characters: each half widened in one instruction
    static_assert(sizeof(Ch) == 2);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(chars)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16), _mm256_cvtepu8_epi16(_mm256_extracti128_si256(chars, 1)));
  }
}

// AVX2: two blocks an instruction, and their characters stored 32 bytes at a time (the
// turns do not depend on each other, so the processor overlaps them unrolled or not).
template <class Ch>
__attribute__((target("avx2"))) std::size_t EncodeBulkAvx2(const unsigned char* s, std::size_t n, Ch* d) {
  std::size_t i = 0;
  for (; i + 28 <= n; i += 24, d += 32) Store(d, EncodeBlocks(s + i));
  return i;
}
#endif

template <class Ch>
void EncodeInto(std::string_view in, Ch* d) {
  const std::size_t n = in.size();
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  std::size_t i = 0;
#ifdef ZQ_BASE64_X86
  if constexpr (sizeof(Ch) <= 2) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) i = EncodeBulkAvx2(s, n, d);
  }
  if (i == 0 && HasSsse3()) i = EncodeBulkSsse3(s, n, d);
  d += i / 3 * 4;
#endif
  for (; i + 3 <= n; i += 3, d += 4) {
    const std::uint32_t v = (std::uint32_t{s[i]} << 16) | (std::uint32_t{s[i + 1]} << 8) | s[i + 2];
    const std::uint16_t hi = kPairs[v >> 12], lo = kPairs[v & 4095];
    d[0] = static_cast<Ch>(hi & 0xFF);
    d[1] = static_cast<Ch>(hi >> 8);
    d[2] = static_cast<Ch>(lo & 0xFF);
    d[3] = static_cast<Ch>(lo >> 8);
  }
  if (n - i == 2) {
    d[0] = static_cast<Ch>(kAlphabet[s[i] >> 2]);
    d[1] = static_cast<Ch>(kAlphabet[((s[i] & 3) << 4) | (s[i + 1] >> 4)]);
    d[2] = static_cast<Ch>(kAlphabet[(s[i + 1] & 15) << 2]);
    d[3] = static_cast<Ch>(kPad);
  } else if (n - i == 1) {
    d[0] = static_cast<Ch>(kAlphabet[s[i] >> 2]);
    d[1] = static_cast<Ch>(kAlphabet[(s[i] & 3) << 4]);
    d[2] = static_cast<Ch>(kPad);
    d[3] = static_cast<Ch>(kPad);
  }
}

std::string Encode(std::string_view in) {
  const std::size_t length = EncodedBase64Length(in.size());
  if (length == 0) return {};
  std::string out(length, '\0');
  EncodeInto(in, out.data());
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

  bool HasRoomFor(std::size_t bytes) const { return left_ >= bytes; }
  std::size_t Room() const { return left_; }
  char* Cursor() const { return d_; }
  void ZeroRest() {
    std::memset(d_, 0, left_);
    d_ += left_;
    left_ = 0;
  }
  void Advance(std::size_t bytes) {
    d_ += bytes;
    left_ -= bytes;
  }

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

#ifdef ZQ_BASE64_X86
// Decodes 16 characters of the alphabet at t into 12 bytes at d (16 writable); false, with
// nothing written, when one of them is outside the alphabet.
__attribute__((target("ssse3"))) inline bool DecodeBlock(const char* t, char* d) {
  __m128i str = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
  // Membership of the alphabet by the high and low nibbles of each character.
  const __m128i lutLo = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                                      0x1B, 0x1B, 0x1A);
  const __m128i lutHi = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                      0x10, 0x10, 0x10);
  const __m128i lutRoll = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i mask2F = _mm_set1_epi8(0x2f);
  const __m128i hiNibbles = _mm_and_si128(_mm_srli_epi32(str, 4), mask2F);
  const __m128i loNibbles = _mm_and_si128(str, mask2F);
  const __m128i hi = _mm_shuffle_epi8(lutHi, hiNibbles);
  const __m128i lo = _mm_shuffle_epi8(lutLo, loNibbles);
  if (_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128())) != 0) return false;
  // Character to value, then four 6-bit values to three bytes in each lane.
  const __m128i eq2F = _mm_cmpeq_epi8(str, mask2F);
  str = _mm_add_epi8(str, _mm_shuffle_epi8(lutRoll, _mm_add_epi8(eq2F, hiNibbles)));
  const __m128i merged = _mm_maddubs_epi16(str, _mm_set1_epi32(0x01400140));
  str = _mm_madd_epi16(merged, _mm_set1_epi32(0x00011000));
  str = _mm_shuffle_epi8(str, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), str);
  return true;
}

// Decodes blocks of sixteen characters of the alphabet while there are more than 16
// characters left and 16 bytes of room; stops before the first block it cannot take.
// Returns how many characters it read (12 bytes written for each 16).
__attribute__((target("ssse3"))) std::size_t DecodeBulkSsse3(const char* t, std::size_t n, char* d, std::size_t room) {
  std::size_t i = 0;
  for (; i + 64 < n && room >= 52; i += 64, d += 48, room -= 48) {  // four blocks a turn
    if (!DecodeBlock(t + i, d)) return i;
    if (!DecodeBlock(t + i + 16, d + 12)) return i + 16;
    if (!DecodeBlock(t + i + 32, d + 24)) return i + 32;
    if (!DecodeBlock(t + i + 48, d + 36)) return i + 48;
  }
  for (; i + 16 < n && room >= 16; i += 16, d += 12, room -= 12)
    if (!DecodeBlock(t + i, d)) break;
  return i;
}
#endif

void Decode(std::string_view text, ByteString& out) {
  const std::size_t n = text.size();
  // The bytes are all written below (the rest zeroed at the end): a buffer used again is
  // not cleared first.
  out.resize(n == 0 ? 0 : DecodedBase64Length(text));
  if (n == 0) return;
  GroupWriter w(out);
  std::size_t i = 0;
#ifdef ZQ_BASE64_X86
  const bool vector = HasSsse3();
#endif
  while (i < n) {
#ifdef ZQ_BASE64_X86
    // Sixteen characters of the alphabet, none of them the last; the store needs 16 bytes
    // of room. After a group the vector step could not take, it tries again.
    if (vector) {
      const std::size_t read = DecodeBulkSsse3(text.data() + i, n - i, w.Cursor(), w.Room());
      w.Advance(read / 16 * 12);
      i += read;
      if (read) continue;
    }
#endif
    // Fast path: four characters of the alphabet, none of them the last one of the text.
    // Such a group reads exactly as the general rule would read it.
    if (i + 4 < n && w.HasRoomFor(3)) {
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
  w.ZeroRest();  // bytes of the length that no group wrote
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

std::size_t EncodedBase64Length(std::size_t n) noexcept {
  if (n == 0 || n / 3 >= std::numeric_limits<std::size_t>::max() / 4 - 1) return 0;
  return 4 * ((n + 2) / 3);
}

void EncodeBase64To(std::string_view bytes, char* out) noexcept { EncodeInto(bytes, out); }
void EncodeBase64To(std::string_view bytes, wchar_t* out) noexcept { EncodeInto(bytes, out); }

std::string EncodeBase64(std::string_view bytes) noexcept {
  try {
    return Encode(bytes);
  } catch (...) {
    return {};
  }
}

ByteString DecodeBase64(std::string_view text) noexcept {
  ByteString out;
  DecodeBase64Into(text, out);
  return out;
}

void DecodeBase64Into(std::string_view text, ByteString& out) noexcept {
  try {
    Decode(text, out);
  } catch (...) {
    out.clear();
  }
}

}  // namespace zq
