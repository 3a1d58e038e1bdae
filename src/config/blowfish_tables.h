// Blowfish's published initial P-array and S-boxes: the fractional hexadecimal digits of pi in
// order, the first 18 words for the P-array and the next 1024 words for the four S-boxes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarvelt {

inline constexpr std::size_t kBlowfishPWords = 18;
inline constexpr std::size_t kBlowfishSBoxes = 4;
inline constexpr std::size_t kBlowfishSBoxWords = 256;

extern const std::uint32_t kBlowfishInitialP[kBlowfishPWords];
extern const std::uint32_t kBlowfishInitialS[kBlowfishSBoxes][kBlowfishSBoxWords];

}  // namespace zarvelt
