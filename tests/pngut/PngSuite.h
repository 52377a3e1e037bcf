// PngSuite and the reference decodes of it (pngref.py), and small PNG files made here:
// shared by the tests of ZANPngUt.dll (under Wine) and of its codec core (native).
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace pngsuite {

using Bytes = std::vector<std::uint8_t>;

// Top-down 24-bit pixels without row padding, as the reference files hold them.
struct Pixels {
  int width = 0;
  int height = 0;
  Bytes bgr;
  bool operator==(const Pixels& o) const {
    return width == o.width && height == o.height && bgr == o.bgr;
  }
};

inline Pixels ReadReference(const std::wstring& path) {
  Pixels p;
  const Bytes data = zqtest::ReadBytes(path);
  if (data.size() < 12 || std::memcmp(data.data(), "ZQRF", 4) != 0) return p;
  std::memcpy(&p.width, data.data() + 4, 4);
  std::memcpy(&p.height, data.data() + 8, 4);
  p.bgr.assign(data.begin() + 12, data.end());
  return p;
}

inline std::uint32_t BigEndian(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline void PutBigEndian(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

inline void AppendChunk(Bytes& png, const char* type, const Bytes& body) {
  PutBigEndian(png, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), body.begin(), body.end());
  PutBigEndian(png, static_cast<std::uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

// A well-formed black RGB PNG of the given size. For large sizes the image data is one
// short zlib stream of a few rows only: a decoder must refuse the size before it allocates.
inline Bytes BlackPng(std::uint32_t w, std::uint32_t h) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBigEndian(ihdr, w);
  PutBigEndian(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  AppendChunk(png, "IHDR", ihdr);
  const std::size_t rawSize = std::min<std::uint64_t>((1 + 3ull * w) * h, 1u << 20);
  const Bytes raw(rawSize, 0);
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  AppendChunk(png, "IDAT", packed);
  AppendChunk(png, "IEND", {});
  return png;
}

// The chunk that the byte at `at` belongs to (its four-letter type), or "" for the signature.
inline std::string ChunkAt(const Bytes& png, std::size_t at) {
  std::size_t pos = 8;
  while (pos + 12 <= png.size()) {
    const std::size_t end = pos + 12 + BigEndian(&png[pos]);
    if (at >= pos && at < end) return std::string(reinterpret_cast<const char*>(&png[pos + 4]), 4);
    pos = end;
  }
  return "";
}

struct SuiteEntry {
  std::string path;
  bool ok;
};

inline std::vector<SuiteEntry> Manifest() {
  std::vector<SuiteEntry> entries;
  std::ifstream in(std::filesystem::path(zqtest::Join(zqtest::EnvDir("ZQ_PNGREF_DIR"), L"manifest.txt")));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    SuiteEntry e;
    std::string status;
    if (words >> e.path >> status) {
      e.ok = status == "ok";
      entries.push_back(e);
    }
  }
  return entries;
}

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline std::wstring SuiteFile(const std::string& rel) {
  std::wstring path = zqtest::Join(zqtest::EnvDir("ZQ_PNGSUITE_DIR"), Wide(rel));
#ifdef _WIN32
  std::replace(path.begin(), path.end(), L'/', L'\\');
#endif
  return path;
}

inline std::wstring ReferenceFile(const std::string& rel) {
  std::string name = rel;
  for (std::size_t i; (i = name.find('/')) != std::string::npos;) name.replace(i, 1, "__");
  return zqtest::Join(zqtest::EnvDir("ZQ_PNGREF_DIR"), Wide(name + ".ref"));
}

}  // namespace pngsuite
