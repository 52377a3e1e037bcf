// Base64 text of byte strings (the PngImageBase64 property).
//
// The encoder writes standard RFC 4648 Base64: no line breaks, "=" padding. The decoder is
// lenient in the way hosts rely on: it skips characters outside the alphabet, fixes the
// length of its result from the length of the whole text before decoding, and treats a
// short or unpadded end as described at DecodeBase64. Neither routine throws; a failure
// (exhausted memory, an impossible size) yields the empty result.
#pragma once

#include <string>
#include <string_view>

namespace zq {

// A counted run of 8-bit bytes; may contain zeros. Base64 texts are single-byte texts.
using ByteString = std::string;

// 4 * ceil(n / 3) characters of the standard alphabet, "=" padded.
std::string EncodeBase64(std::string_view bytes) noexcept;

// The length of the text of n bytes; 0 for n = 0 and for an n whose text is too long to count.
std::size_t EncodedBase64Length(std::size_t n) noexcept;
// Writes the EncodedBase64Length(bytes.size()) characters of the text to `out` (a BSTR's
// characters, say), with no terminator.
void EncodeBase64To(std::string_view bytes, char* out) noexcept;
void EncodeBase64To(std::string_view bytes, wchar_t* out) noexcept;

// Decodes text of n characters into exactly L bytes, L fixed before decoding:
//   L = (n div 4) * 3, less 2 when the next-to-last character is "=", else less 1 when the
//   last one is; never below 0. Every character counts here, also those skipped below.
// Groups of four positions are filled in order. A character fills the current position when
// it is "=" at position 3 or 4 (a pad marker), when it is the last character of the text
// (its value, or a pad marker when it has none) or when it is in the alphabet; any other
// character is skipped. Positions left when the text runs out get pad markers. A group
// whose third position holds a pad marker gives one byte, whose fourth does two, else
// three. Bytes beyond L are dropped; bytes of L that no group wrote are zero.
ByteString DecodeBase64(std::string_view text) noexcept;

// The same into `out`, whose memory is used again when it has room (a caller decoding many
// texts keeps one buffer). On failure `out` is empty.
void DecodeBase64Into(std::string_view text, ByteString& out) noexcept;

// The length DecodeBase64 gives a text of this many characters with these last two.
std::size_t DecodedBase64Length(std::string_view text) noexcept;

}  // namespace zq
