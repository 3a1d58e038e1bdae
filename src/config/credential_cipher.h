// The credential cipher: Blowfish in ECB mode over hexadecimal text, with the block halves
// read little-endian. Configuration values are stored this way under the credential key; the
// program only deciphers, the enciphering direction serves the configuration tool and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "config/blowfish_tables.h"

namespace zarvelt {

// The key every configuration value is enciphered with: 7 bytes, no terminator.
inline constexpr std::string_view kCredentialKey = "RONDAKE";

// P-array and S-boxes after the key schedule. Holds key material: every call below that builds
// one wipes it before returning.
struct BlowfishState {
  std::uint32_t p[kBlowfishPWords];
  std::uint32_t s[kBlowfishSBoxes][kBlowfishSBoxWords];
};
static_assert(sizeof(BlowfishState) == 4168);

// Builds state from the key bytes, taken cyclically. An empty key leaves the initial P-array
// unchanged (there are no bytes to cycle through).
void blowfish_key_schedule(BlowfishState& state, std::span<const std::uint8_t> key);

// The round function F: ((S0[a] + S1[b]) ^ S2[c]) + S3[d], a the most significant byte of x.
std::uint32_t blowfish_round_function(const BlowfishState& state, std::uint32_t x);

// One 16-round block operation on the halves in place.
void blowfish_encrypt_block(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right);
void blowfish_decrypt_block(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right);

// Sets every byte of state to zero in a way the optimiser keeps.
void wipe_cipher_state(BlowfishState& state);

// Decodes text.size() / 2 character pairs into output, which must hold that many bytes. A
// character's digit value is c - 55 for 'A' to 'F' and c - 48 for anything else (8-bit
// arithmetic): lower-case digits do not decode as hexadecimal, and nothing is rejected.
void hex_to_bytes(std::string_view text, std::uint8_t* output);

// The output size decrypt_hex_text needs for a hex text of hex_length characters: 8 bytes per
// started 16-character block and the terminating zero byte.
std::size_t decrypted_size(std::size_t hex_length);

// Deciphers hex_text block by block (16 characters each; a short last block is completed with
// the digit '0') into output, followed by one zero byte, and returns 1. Bytes that would not
// fit into output are dropped; the zero byte then takes output's last byte. The cipher state
// is built in state and wiped before returning; the overload without it uses its own.
int decrypt_hex_text(BlowfishState& state, std::string_view hex_text, std::span<char> output,
                     std::string_view key);
int decrypt_hex_text(std::string_view hex_text, std::span<char> output, std::string_view key);

// Deciphers hex_text and returns the text up to its first zero byte, as a caller reading a
// configuration value sees it.
std::string decrypt_hex_to_text(std::string_view hex_text, std::string_view key);

// The enciphered value of plain: padded with zero bytes to a multiple of 8, every block
// enciphered with little-endian halves, every byte written as two upper-case hex digits.
std::string encrypt_text_to_hex(std::string_view plain, std::string_view key);

}  // namespace zarvelt
