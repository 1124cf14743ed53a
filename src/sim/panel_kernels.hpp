#pragma once

#include <cstddef>
#include <cstdint>

namespace pedsim {

// The inner loops of the marker panel, each over a whole haplotype or row
// at once, compiled to run a vector of markers at a time.

// Bit m of `out` (n bits, whole words written): set when u[m] >= bound[m].
void bits_at_or_above(const std::uint32_t* u, const std::uint64_t* bound, std::size_t n,
                      std::uint64_t* out);

// Byte m of `out`: how many of the `alleles - 1` bounds of marker m (at
// bounds[m * (alleles - 1)] on) are at or below u[m].
void bytes_counting_bounds(const std::uint32_t* u, const std::uint64_t* bounds, int alleles,
                           std::size_t n, std::uint8_t* out);

// Field m of `out` (`bits` bits: 2, 8 or 16; whole words written): 0 when
// u[m] >= threshold, else 1 + floor(u[m] x scale / 2^32), where u[m] x
// scale stays below 2^40 for every u[m] under the threshold.
void codes_below(const std::uint32_t* u, std::uint64_t threshold, std::uint32_t scale, int bits,
                 std::size_t n, std::uint64_t* out);

// out[k]: the failures before the first success of trials of probability
// p drawn from u[k], floor(log(U) x scale) with U = (u[k] + 1/2) / 2^32 and
// scale = 1 / log(1 - p), at most 2^31.
void geometric_gaps(const std::uint32_t* u, std::size_t n, double scale, std::uint32_t* out);

// out[w] takes first[w]'s bits where mask[w] is clear and second[w]'s where
// it is set.
void select_bits(const std::uint64_t* first, const std::uint64_t* second, const std::uint64_t* mask,
                 std::size_t words, std::uint64_t* out);

}  // namespace pedsim
