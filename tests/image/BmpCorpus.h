// The BMP corpus (tests/image/bmp, made by make_corpus.py): each file with what reading it
// must give, from manifest.txt. ZQ_BMP_CORPUS names the folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace zqtest {

struct BmpCase {
  std::string name;
  bool readable = false;
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;  // top row first, blue-green-red, unpadded
  std::wstring path;
};

inline std::vector<BmpCase> BmpCorpus() {
  const std::wstring dir = EnvDir("ZQ_BMP_CORPUS");
  EXPECT_FALSE(dir.empty()) << "ZQ_BMP_CORPUS is not set";
  const std::vector<std::uint8_t> text = ReadBytes(Join(dir, L"manifest.txt"));
  std::istringstream lines(std::string(text.begin(), text.end()));
  std::vector<BmpCase> cases;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    BmpCase c;
    std::string what;
    fields >> c.name >> what;
    if (c.name.empty()) continue;
    c.path = Join(dir, std::wstring(c.name.begin(), c.name.end()));
    c.readable = what != "refused";
    if (c.readable) {
      std::string hex;
      c.width = std::stoi(what);
      fields >> c.height >> hex;
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        c.pixels.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      EXPECT_EQ(c.pixels.size(), std::size_t(c.width) * c.height * 3) << c.name;
    }
    cases.push_back(std::move(c));
  }
  EXPECT_GT(cases.size(), 30u);
  return cases;
}

}  // namespace zqtest
