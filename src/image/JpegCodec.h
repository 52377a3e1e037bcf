// JPEG reading and writing on the IJG API of libjpeg-turbo, with the settings of the image
// files the control reads and writes:
//   reading: any baseline or progressive JPEG (greyscale, YCbCr, RGB, CMYK or YCCK), decoded
//            at full scale into 24-bit colour with the accurate integer DCT, fancy
//            upsampling and block smoothing;
//   writing: quality 90, baseline, YCbCr colour.
// Neither function throws. Failures return an empty result and, when asked, the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Bgr24.h"

namespace zq::jpeg {

inline constexpr int kWriteQuality = 90;
// A progressive file with more scans than this is refused: each scan re-decodes the whole
// coefficient buffer, so a crafted file could otherwise keep the host busy for minutes.
inline constexpr int kMaxScans = 1000;

// Corrupt, foreign or unsupported data, and images outside LoadedImageSizeAllowed, fail. A file
// that merely ends early decodes as far as it goes, the rest grey, as viewers show it.
std::optional<Bgr24Image> Decode(const std::uint8_t* data, std::size_t size,
                                 std::string* error = nullptr) noexcept;

std::optional<std::vector<std::uint8_t>> Encode(const Bgr24View& image,
                                                std::string* error = nullptr) noexcept;

}  // namespace zq::jpeg
