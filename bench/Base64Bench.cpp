// Base64 throughput on 1 MiB, as a ratio to memcpy of the same bytes in the same run.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "BenchSupport.h"
#include "ConvCode.h"

int main() {
  const std::size_t n = 1 << 20;
  std::string bytes(n, '\0');
  std::mt19937 rng(7);
  for (auto& c : bytes) c = static_cast<char>(rng());  // like PNG data: incompressible
  std::string copy(n, '\0');
  const std::string text = zq::EncodeBase64(bytes);
  // The same text as a mail client would wrap it: CR LF after every 76 characters.
  std::string wrapped;
  for (std::size_t i = 0; i < text.size(); i += 76) wrapped += text.substr(i, 76) + "\r\n";

  volatile std::size_t sink = 0;
  const double tCopy = bench::Best([&] {
    std::memcpy(copy.data(), bytes.data(), n);
    sink = sink + static_cast<unsigned char>(copy[n / 2]);
  }, 50);
  // The codec allocates its result each time, as a copy into new memory does.
  const double tNewCopy = bench::Best([&] {
    std::string fresh(bytes);
    sink = sink + static_cast<unsigned char>(fresh[n / 2]);
  }, 50);
  const double tEnc = bench::Best([&] { sink = sink + zq::EncodeBase64(bytes).size(); }, 20);
  const double tDec = bench::Best([&] { sink = sink + zq::DecodeBase64(text).size(); }, 20);
  const double tWrap = bench::Best([&] { sink = sink + zq::DecodeBase64(wrapped).size(); }, 20);
  if (zq::DecodeBase64(text) != bytes) std::printf("DECODE MISMATCH\n");

  const double mb = double(n) / (1 << 20);
  std::printf("Base64 on 1 MiB of random bytes (best of repeated runs)\n");
  std::printf("  %-34s %8.3f ms %8.0f MiB/s   1.0\n", "memcpy (baseline)", tCopy * 1e3, mb / tCopy);
  std::printf("  %-34s %8.3f ms %8.0f MiB/s   %.1f\n", "copy into new memory (baseline 2)", tNewCopy * 1e3, mb / tNewCopy, tNewCopy / tCopy);
  auto row = [&](const char* name, double t) {
    std::printf("  %-34s %8.3f ms %8.0f MiB/s   %.1f x memcpy, %.2f x copy into new memory\n", name,
                t * 1e3, mb / t, t / tCopy, t / tNewCopy);
  };
  row("EncodeBase64", tEnc);
  row("DecodeBase64", tDec);
  row("DecodeBase64, CR LF every 76", tWrap);
  return 0;
}
