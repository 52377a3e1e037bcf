// Deflate (RFC 1951) and zlib (RFC 1950) as written here: blocks of up to kBlockTokens
// symbols, each a dynamic block with length-limited canonical Huffman codes.
#include "RowDeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <queue>
#include <stdexcept>
#include <utility>
#include <vector>

namespace zanpng {
namespace {

constexpr int kLitLenSymbols = 286, kDistSymbols = 30, kLengthSymbols = 19;
constexpr std::size_t kMaxMatch = 258, kMaxDistance = 32768, kBlockTokens = 1 << 16;
constexpr std::uint32_t kMatch = 0x80000000u;  // a token: a literal byte, or kMatch | length << 16 | distance
constexpr int kDistances = 4, kHashBits = 15;

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                             33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kLengthOrder[kLengthSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The length symbol (0-based from 257) of each match length 3..258.
const std::array<std::uint8_t, kMaxMatch + 1> kLengthSymbol = [] {
  std::array<std::uint8_t, kMaxMatch + 1> t{};
  for (int s = 0; s < 29; ++s)
    for (int len = kLengthBase[s]; len < (s == 28 ? 259 : kLengthBase[s + 1]); ++len) t[len] = static_cast<std::uint8_t>(s);
  return t;
}();

// The distance symbol of each distance 1..32768: the first 512 directly, the rest by their
// distance / 128 (as zlib's tables do).
const std::array<std::uint8_t, 1024> kDistanceSymbols = [] {
  std::array<std::uint8_t, 1024> t{};
  auto symbol = [](std::size_t d) {
    int s = 29;
    while (kDistanceBase[s] > d) --s;
    return static_cast<std::uint8_t>(s);
  };
  for (std::size_t d = 1; d <= 512; ++d) t[d - 1] = symbol(d);
  for (std::size_t i = 4; i < 256; ++i) t[512 + i] = symbol(i * 128 + 1);
  return t;
}();

inline int DistanceSymbol(std::size_t d) {
  return d <= 512 ? kDistanceSymbols[d - 1] : kDistanceSymbols[512 + ((d - 1) >> 7)];
}

// Bits go out least significant first, as deflate wants them, into a buffer that the
// caller makes room in (Reserve) before each block: as much as the block can take.
class BitWriter {
 public:
  ~BitWriter() { KeepBlock(std::move(block_)); }
  void Reserve(std::size_t bytes) {
    if (block_.size - used_ >= bytes) return;
    Block bigger = TakeBlock(std::max(2 * block_.size, used_ + bytes));
    if (!bigger.bytes) throw std::bad_alloc();
    if (used_) std::memcpy(bigger.bytes.get(), block_.bytes.get(), used_);
    KeepBlock(std::exchange(block_, std::move(bigger)));
    bytes_ = block_.bytes.get();
  }
  void Put(std::uint32_t value, int count) {
    bits_ |= std::uint64_t{value} << count_;
    count_ += count;
    if (count_ >= 32) {
      for (int i = 0; i < 4; ++i) bytes_[used_++] = static_cast<std::uint8_t>(bits_ >> (8 * i));
      bits_ >>= 32;
      count_ -= 32;
    }
  }
  // Pads the last byte with zero bits; what follows starts on a byte.
  void Align() {
    for (; count_ > 0; count_ -= 8, bits_ >>= 8) bytes_[used_++] = static_cast<std::uint8_t>(bits_);
    count_ = 0;
    bits_ = 0;
  }
  void Byte(std::uint8_t b) { bytes_[used_++] = b; }
  Packed Take() {
    bytes_ = nullptr;
    return {std::move(block_), std::exchange(used_, 0)};
  }

 private:
  Block block_;
  std::uint8_t* bytes_ = nullptr;
  std::size_t used_ = 0;
  std::uint64_t bits_ = 0;
  int count_ = 0;
};

struct Code {
  std::uint16_t bits = 0;  // bit-reversed, ready for BitWriter
  std::uint8_t length = 0;
};

// Huffman code lengths of n symbols (0 for unused ones), none longer than `limit`: built
// from the frequencies, which are halved (never to zero) until the tree is shallow enough.
void BuildLengths(const std::uint32_t* freq, int n, int limit, std::uint8_t* lengths) {
  std::vector<std::uint32_t> f(freq, freq + n);
  for (;;) {
    struct Node {
      std::uint64_t weight;
      int left, right;
    };
    std::vector<Node> nodes;
    using Entry = std::pair<std::uint64_t, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap;
    for (int s = 0; s < n; ++s)
      if (f[s]) {
        nodes.push_back({f[s], -1, s});
        heap.emplace(f[s], static_cast<int>(nodes.size()) - 1);
      }
    while (heap.size() > 1) {
      const Entry a = heap.top();
      heap.pop();
      const Entry b = heap.top();
      heap.pop();
      nodes.push_back({a.first + b.first, a.second, b.second});
      heap.emplace(a.first + b.first, static_cast<int>(nodes.size()) - 1);
    }
    std::fill(lengths, lengths + n, 0);
    int deepest = 0;
    std::vector<std::pair<int, int>> stack{{static_cast<int>(nodes.size()) - 1, 0}};
    while (!stack.empty()) {
      const auto [at, depth] = stack.back();
      stack.pop_back();
      if (nodes[at].left < 0) {
        lengths[nodes[at].right] = static_cast<std::uint8_t>(std::max(depth, 1));
        deepest = std::max(deepest, depth);
      } else {
        stack.emplace_back(nodes[at].left, depth + 1);
        stack.emplace_back(nodes[at].right, depth + 1);
      }
    }
    if (deepest <= limit) return;
    for (auto& x : f)
      if (x) x = (x + 1) / 2;
  }
}

void AssignCodes(const std::uint8_t* lengths, int n, Code* codes) {
  std::uint16_t count[16] = {}, next[16] = {};
  for (int s = 0; s < n; ++s) ++count[lengths[s]];
  count[0] = 0;
  for (int len = 1, code = 0; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = static_cast<std::uint16_t>(code);
  }
  for (int s = 0; s < n; ++s) {
    const int len = lengths[s];
    codes[s].length = static_cast<std::uint8_t>(len);
    if (!len) continue;
    std::uint32_t c = next[len]++, reversed = 0;
    for (int i = 0; i < len; ++i, c >>= 1) reversed = reversed << 1 | (c & 1);
    codes[s].bits = static_cast<std::uint16_t>(reversed);
  }
}

// A complete code needs two symbols at least: unused ones are given the smallest weight.
void AtLeastTwo(std::uint32_t* freq, int n) {
  int used = 0;
  for (int s = 0; s < n; ++s) used += freq[s] != 0;
  for (int s = 0; used < 2; ++s)
    if (!freq[s]) freq[s] = 1, ++used;
}

// Writes a dynamic block's header: the code lengths of both alphabets, run-length coded.
void WriteTables(BitWriter& out, const std::uint8_t* litLen, const std::uint8_t* dist) {
  int nLit = kLitLenSymbols, nDist = kDistSymbols;
  while (nLit > 257 && !litLen[nLit - 1]) --nLit;
  while (nDist > 1 && !dist[nDist - 1]) --nDist;
  std::uint8_t all[kLitLenSymbols + kDistSymbols];
  std::copy(litLen, litLen + nLit, all);
  std::copy(dist, dist + nDist, all + nLit);
  const int total = nLit + nDist;

  struct Item {
    std::uint8_t symbol, extra;
  };
  std::vector<Item> items;
  std::uint32_t freq[kLengthSymbols] = {};
  for (int i = 0; i < total;) {
    int run = 1;
    while (i + run < total && all[i + run] == all[i]) ++run;
    if (all[i] == 0 && run >= 3) {
      const int n = std::min(run, 138);
      items.push_back(n >= 11 ? Item{18, static_cast<std::uint8_t>(n - 11)} : Item{17, static_cast<std::uint8_t>(n - 3)});
      i += n;
    } else if (all[i] != 0 && run >= 4) {
      items.push_back({all[i], 0});
      const int n = std::min(run - 1, 6);
      items.push_back({16, static_cast<std::uint8_t>(n - 3)});
      i += 1 + n;
    } else {
      items.push_back({all[i], 0});
      ++i;
    }
  }
  for (const Item& it : items) ++freq[it.symbol];
  AtLeastTwo(freq, kLengthSymbols);
  std::uint8_t lengths[kLengthSymbols];
  BuildLengths(freq, kLengthSymbols, 7, lengths);
  Code codes[kLengthSymbols];
  AssignCodes(lengths, kLengthSymbols, codes);

  int nLengths = kLengthSymbols;
  while (nLengths > 4 && !lengths[kLengthOrder[nLengths - 1]]) --nLengths;
  out.Put(static_cast<std::uint32_t>(nLit - 257), 5);
  out.Put(static_cast<std::uint32_t>(nDist - 1), 5);
  out.Put(static_cast<std::uint32_t>(nLengths - 4), 4);
  for (int i = 0; i < nLengths; ++i) out.Put(lengths[kLengthOrder[i]], 3);
  for (const Item& it : items) {
    out.Put(codes[it.symbol].bits, codes[it.symbol].length);
    if (it.symbol == 16) out.Put(it.extra, 2);
    if (it.symbol == 17) out.Put(it.extra, 3);
    if (it.symbol == 18) out.Put(it.extra, 7);
  }
}

// A deflate block's tokens (literals, and matches: kMatch | length << 16 | distance), at most
// kBlockTokens of them.
struct Tokens {
  std::uint32_t* data;
  std::size_t n = 0;
  void push_back(std::uint32_t t) { data[n++] = t; }
  std::size_t size() const { return n; }
  void clear() { n = 0; }
  const std::uint32_t* begin() const { return data; }
  const std::uint32_t* end() const { return data + n; }
};

void WriteBlock(BitWriter& out, const Tokens& tokens, bool last) {
  std::uint32_t litFreq[kLitLenSymbols] = {}, distFreq[kDistSymbols] = {};
  for (const std::uint32_t t : tokens) {
    if (t & kMatch) {
      ++litFreq[257 + kLengthSymbol[(t >> 16) & 0x1FF]];
      ++distFreq[DistanceSymbol(t & 0xFFFF)];
    } else {
      ++litFreq[t];
    }
  }
  litFreq[256] = 1;
  AtLeastTwo(litFreq, kLitLenSymbols);
  AtLeastTwo(distFreq, kDistSymbols);
  std::uint8_t litLengths[kLitLenSymbols], distLengths[kDistSymbols];
  BuildLengths(litFreq, kLitLenSymbols, 15, litLengths);
  BuildLengths(distFreq, kDistSymbols, 15, distLengths);
  Code lit[kLitLenSymbols], dist[kDistSymbols];
  AssignCodes(litLengths, kLitLenSymbols, lit);
  AssignCodes(distLengths, kDistSymbols, dist);

  out.Put(last ? 1 : 0, 1);
  out.Put(2, 2);
  WriteTables(out, litLengths, distLengths);
  for (const std::uint32_t t : tokens) {
    if (!(t & kMatch)) {
      out.Put(lit[t].bits, lit[t].length);
      continue;
    }
    const std::uint32_t length = (t >> 16) & 0x1FF, distance = t & 0xFFFF;
    const int ls = kLengthSymbol[length], ds = DistanceSymbol(distance);
    out.Put(lit[257 + ls].bits, lit[257 + ls].length);
    out.Put(length - kLengthBase[ls], kLengthExtra[ls]);
    out.Put(dist[ds].bits, dist[ds].length);
    out.Put(distance - kDistanceBase[ds], kDistanceExtra[ds]);
  }
  out.Put(lit[256].bits, lit[256].length);
}

inline std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t max) {
  std::size_t n = 0;
  for (; n + 8 <= max; n += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<std::size_t>(__builtin_ctzll(x ^ y) >> 3);
  }
  while (n < max && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

Packed DeflateRows(const std::uint8_t* data, std::size_t size, std::size_t rowStride, int pixelBytes) {
  if (!size) throw std::invalid_argument("no rows to compress");
  // Drawings shrink tenfold and more; the buffer grows before a block that might not fit.
  BitWriter out;
  out.Reserve(size / 8 + 4096);
  out.Byte(0x78);  // deflate, 32 KiB window
  out.Byte(0x01);  // no dictionary, the fastest compression (informative)

  // One pixel back, then the row above: straight up, and one pixel to either side (the
  // edges of slanting strokes); where none of them goes far, the last place the next four
  // bytes were seen (repeated letters and stroke profiles). Runs are skipped whole: only
  // the places where a literal or a match starts are remembered.
  const std::size_t back = static_cast<std::size_t>(pixelBytes);
  std::size_t distances[kDistances] = {back};
  int nDistances = 1;
  for (const std::size_t d : {rowStride, rowStride - back, rowStride + back})
    if (d > back && d <= kMaxDistance) distances[nDistances++] = d;
  // Where four bytes were seen last (position + 1), and the block's tokens.
  Scratch seenBlock(sizeof(std::uint32_t) << kHashBits), tokensBlock(sizeof(std::uint32_t) * kBlockTokens);
  auto* seen = reinterpret_cast<std::uint32_t*>(seenBlock.bytes());
  std::fill_n(seen, std::size_t{1} << kHashBits, 0u);
  Tokens tokens{reinterpret_cast<std::uint32_t*>(tokensBlock.bytes())};
  for (std::size_t i = 0; i < size;) {
    const std::size_t most = std::min(kMaxMatch, size - i);
    std::size_t best = 0, distance = 0;
    for (int k = 0; k < nDistances; ++k) {
      const std::size_t d = distances[k];
      if (i < d) continue;
      const std::size_t n = MatchLength(data + i, data + i - d, most);
      // A match in the row above takes more bits to name than one a pixel back.
      if (n > best && (k == 0 || (n >= best + 3 && n >= 5))) best = n, distance = d;
    }
    if (best < 16 && most >= 4) {
      std::uint32_t four;
      std::memcpy(&four, data + i, 4);
      std::uint32_t& slot = seen[(four * 2654435761u) >> (32 - kHashBits)];
      const std::size_t at = slot;
      slot = static_cast<std::uint32_t>(i + 1);
      if (at && i + 1 - at <= kMaxDistance) {
        const std::size_t d = i + 1 - at, n = MatchLength(data + i, data + i - d, most);
        if (n >= 4 && n >= best + 2) best = n, distance = d;
      }
    }
    if (best >= 3) {
      tokens.push_back(kMatch | static_cast<std::uint32_t>(best) << 16 | static_cast<std::uint32_t>(distance));
      i += best;
    } else {
      tokens.push_back(data[i++]);
    }
    if (tokens.size() == kBlockTokens || i == size) {
      // At most 48 bits a symbol (code, length bits, distance code and bits), and the tables.
      out.Reserve(6 * tokens.size() + 512);
      WriteBlock(out, tokens, i == size);
      tokens.clear();
    }
  }
  out.Reserve(16);
  out.Align();
  const std::uint32_t adler = libdeflate_adler32(1, data, size);
  for (int shift = 24; shift >= 0; shift -= 8) out.Byte(static_cast<std::uint8_t>(adler >> shift));
  return out.Take();
}

}  // namespace zanpng
