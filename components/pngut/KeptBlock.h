// Memory kept from one image to the next, for the PNG codec and ZANPngUt.dll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace zanpng {

// Under Wine the first touch of a fresh block's pages costs more than the work done in them
// (about 10 us a page here; on Windows a tenth of that). A few blocks are kept, each up to
// 16 MiB and 24 MiB in all; TakeBlock gives the smallest kept block of at least `size`
// bytes, or else a fresh one (no bytes when there is no memory), whose contents are
// undefined either way. Safe on any thread.
struct Block {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0;
};
Block TakeBlock(std::size_t size);
void KeepBlock(Block block);

// A block taken for an object's life and kept again after it (std::bad_alloc when there is
// no memory).
class Scratch {
 public:
  explicit Scratch(std::size_t size) : block_(TakeBlock(size)) {
    if (!block_.bytes) throw std::bad_alloc();
  }
  ~Scratch() { KeepBlock(std::move(block_)); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::uint8_t* bytes() { return block_.bytes.get(); }

 private:
  Block block_;
};

}  // namespace zanpng
