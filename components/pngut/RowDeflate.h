// A deflate encoder for the filtered rows of a drawing, as fast PNG encoders make one: it
// looks first at the bytes one pixel back (runs of paper and of flat colour) and one row up,
// straight and a pixel to either side (the same stroke profile in the row above), each
// found by comparing words; only where those fall short does it ask a hash of four bytes
// where they were seen last. Drawings are mostly runs, which general deflaters walk through
// a byte at a time; here a run of 258 bytes is one comparison loop and one code. Every block
// has Huffman codes built from its own symbols (dynamic blocks), so the literals of strokes
// and text cost what their frequencies say.
//
// The result is one complete zlib stream (header, blocks, Adler-32), any standard inflater
// reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "KeptBlock.h"

namespace zanpng {

// A compressed stream: `size` bytes of `block` (which can go back with KeepBlock).
struct Packed {
  Block block;
  std::size_t size = 0;
  const std::uint8_t* data() const { return block.bytes.get(); }
};

// Compresses `size` bytes (at least one) of rows `rowStride` bytes apart (filter byte and
// pixels), pixels `pixelBytes` bytes long, into a zlib stream.
Packed DeflateRows(const std::uint8_t* data, std::size_t size, std::size_t rowStride, int pixelBytes);

}  // namespace zanpng
