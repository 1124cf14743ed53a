#pragma once

#include <cstddef>
#include <cstdint>

namespace pedsim {

// A haplotype's (or a row of codes') fields of `bits` bits (1, 2, 8 or 16)
// packed in 64-bit words from the low bits up.
class PanelWords {
 public:
  PanelWords(std::uint64_t* words, int bits) : words_(words), bits_(bits) {}
  void set(std::int32_t index, std::uint32_t value) {
    const std::size_t bit = static_cast<std::size_t>(index) * static_cast<std::size_t>(bits_);
    const std::uint64_t field = (std::uint64_t{1} << bits_) - 1;
    std::uint64_t& word = words_[bit / 64];
    word = (word & ~(field << (bit % 64))) | ((std::uint64_t{value} & field) << (bit % 64));
  }

 private:
  std::uint64_t* words_;
  int bits_;
};

// Calls span(word, bits) over the words holding fields from..to-1, `bits`
// the fields' bits within the word.
template <class Span>
void for_each_field_span(int bits, std::int32_t from, std::int32_t to, Span&& span) {
  for (std::size_t bit = static_cast<std::size_t>(from) * bits,
                   end = static_cast<std::size_t>(to) * bits;
       bit < end;) {
    const std::size_t in_word = bit % 64;
    const std::size_t width = end - bit < 64 - in_word ? end - bit : 64 - in_word;
    const std::uint64_t ones = width == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << width) - 1);
    span(bit / 64, ones << in_word);
    bit += width;
  }
}

// Sets every bit of fields from..to-1.
inline void set_field_range(std::uint64_t* words, int bits, std::int32_t from, std::int32_t to) {
  for_each_field_span(bits, from, to, [&](std::size_t w, std::uint64_t in) { words[w] |= in; });
}

// Fields from..to-1 of `to_words` take those of `from_words`.
inline void copy_field_range(const std::uint64_t* from_words, std::uint64_t* to_words, int bits,
                             std::int32_t from, std::int32_t to) {
  for_each_field_span(bits, from, to, [&](std::size_t w, std::uint64_t in) {
    to_words[w] = (to_words[w] & ~in) | (from_words[w] & in);
  });
}

// Clears every bit of fields from..to-1.
inline void clear_field_range(std::uint64_t* words, int bits, std::int32_t from, std::int32_t to) {
  for_each_field_span(bits, from, to, [&](std::size_t w, std::uint64_t in) { words[w] &= ~in; });
}

// A mask of `markers` fields of `bits` bits: field m all ones where bit m
// of `random` is set, all zeros elsewhere.
inline void spread_bits(const std::uint64_t* random, int bits, std::int32_t markers,
                        std::uint64_t* mask) {
  const std::size_t words = (static_cast<std::size_t>(markers) * bits + 63) / 64;
  if (bits == 1) {
    for (std::size_t w = 0; w < words; ++w) mask[w] = random[w];
    return;
  }
  // Eight one-byte fields per word: each of eight random bits becomes a byte.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(random);
  for (std::size_t w = 0; w < words; ++w) {
    const std::uint64_t spread = (bytes[w] * 0x0101010101010101ULL) & 0x8040201008040201ULL;
    // Byte j holds bit j of the random byte in its place: make it 0 or 0xFF.
    const std::uint64_t set = ((spread + 0x00406070787C7E7FULL) & 0x8080808080808080ULL) >> 7;
    mask[w] = set * 0xFF;
  }
}

}  // namespace pedsim
