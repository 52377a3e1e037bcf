// Fuzz target of the Base64 decoder. Beyond surviving any text, the decoder must agree byte
// for byte with a plain transcription of its rules (no fast path), give the result length
// its rule fixes, and give back any byte string the encoder wrote.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ConvCode.h"

namespace {

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The decoding rules, step by step, one character at a time.
std::string Reference(std::string_view c) {
  const std::size_t n = c.size();
  if (n == 0) return {};
  long long L = static_cast<long long>(n / 4) * 3;
  if (n >= 2 && c[n - 2] == '=')
    L -= 2;
  else if (c[n - 1] == '=')
    L -= 1;
  if (L < 0) L = 0;
  std::string out(static_cast<std::size_t>(L), '\0');
  std::size_t pos = 0, i = 0;
  auto put = [&](int b) {
    if (pos < out.size()) out[pos] = static_cast<char>(b);
    ++pos;
  };
  while (i < n) {
    int s[4];
    for (int p = 1; p <= 4; ++p) {
      s[p - 1] = 255;
      while (i < n) {
        const char ch = c[i];
        const std::size_t found = kAlphabet.find(ch);
        const int v = ch != '\0' && found != std::string::npos ? static_cast<int>(found) : -1;
        const bool last = i == n - 1;
        ++i;
        if ((p == 3 || p == 4) && ch == '=') break;
        if (last) {
          s[p - 1] = v < 0 ? 255 : v;
          break;
        }
        if (v >= 0) {
          s[p - 1] = v;
          break;
        }
      }
    }
    put(((s[0] * 4) & 255) | ((s[1] & 48) >> 4));
    if (s[2] == 255) continue;
    put(((s[1] & 15) * 16) | ((s[2] & 60) >> 2));
    if (s[3] == 255) continue;
    put(((s[2] & 3) * 64) | s[3]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string got = zq::DecodeBase64(text);
  if (got != Reference(text)) std::abort();
  if (got.size() != zq::DecodedBase64Length(text)) std::abort();
  // The same bytes as data: encoding and decoding must give them back.
  if (zq::DecodeBase64(zq::EncodeBase64(text)) != text) std::abort();
  return 0;
}
