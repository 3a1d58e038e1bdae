// The credential cipher: the block cipher's rounds, its key schedule and the hexadecimal text
// around it; the deciphered bytes are wiped by the callers.
#include "config/credential_cipher.h"

#include <algorithm>
#include <cstring>

namespace zarvelt {

namespace {

constexpr std::size_t kBlockBytes = 8;
constexpr std::size_t kBlockHexChars = 16;

std::span<const std::uint8_t> key_bytes(std::string_view key) {
  return {reinterpret_cast<const std::uint8_t*>(key.data()), key.size()};
}

// Stored values keep the halves little-endian: byte 0 is the least significant of the left half.
std::uint32_t read_half(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void write_half(std::uint32_t half, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(half >> (8 * i));
}

void wipe_bytes(void* data, std::size_t size) {
  volatile std::uint8_t* bytes = static_cast<volatile std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

std::uint8_t hex_digit_value(char c) {
  const auto code = static_cast<std::uint8_t>(c);
  return static_cast<std::uint8_t>(c >= 'A' && c <= 'F' ? code - 55 : code - 48);
}

}  // namespace

void blowfish_key_schedule(BlowfishState& state, std::span<const std::uint8_t> key) {
  std::memcpy(state.s, kBlowfishInitialS, sizeof state.s);
  std::size_t key_position = 0;
  for (std::size_t i = 0; i < kBlowfishPWords; ++i) {
    std::uint32_t word = 0;
    if (!key.empty()) {
      for (int b = 0; b < 4; ++b) {
        word = word << 8 | key[key_position];
        key_position = (key_position + 1) % key.size();
      }
    }
    state.p[i] = kBlowfishInitialP[i] ^ word;
  }

  std::uint32_t left = 0;
  std::uint32_t right = 0;
  for (std::size_t i = 0; i < kBlowfishPWords; i += 2) {
    blowfish_encrypt_block(state, left, right);
    state.p[i] = left;
    state.p[i + 1] = right;
  }
  for (auto& box : state.s) {
    for (std::size_t i = 0; i < kBlowfishSBoxWords; i += 2) {
      blowfish_encrypt_block(state, left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
}

std::uint32_t blowfish_round_function(const BlowfishState& state, std::uint32_t x) {
  const std::uint32_t a = state.s[0][x >> 24];
  const std::uint32_t b = state.s[1][(x >> 16) & 0xFF];
  const std::uint32_t c = state.s[2][(x >> 8) & 0xFF];
  const std::uint32_t d = state.s[3][x & 0xFF];
  return ((a + b) ^ c) + d;
}

void blowfish_encrypt_block(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right) {
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (std::size_t i = 0; i < 16; ++i) {
    l ^= state.p[i];
    r ^= blowfish_round_function(state, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= state.p[16];
  l ^= state.p[17];
  left = l;
  right = r;
}

void blowfish_decrypt_block(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right) {
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (std::size_t i = 17; i > 1; --i) {
    l ^= state.p[i];
    r ^= blowfish_round_function(state, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= state.p[1];
  l ^= state.p[0];
  left = l;
  right = r;
}

void wipe_cipher_state(BlowfishState& state) { wipe_bytes(&state, sizeof state); }

void hex_to_bytes(std::string_view text, std::uint8_t* output) {
  for (std::size_t pair = 0; pair < text.size() / 2; ++pair) {
    const std::uint8_t high = hex_digit_value(text[2 * pair]);
    const std::uint8_t low = hex_digit_value(text[2 * pair + 1]);
    output[pair] = static_cast<std::uint8_t>(high * 16 + low);
  }
}

std::size_t decrypted_size(std::size_t hex_length) {
  return (hex_length + kBlockHexChars - 1) / kBlockHexChars * kBlockBytes + 1;
}

int decrypt_hex_text(BlowfishState& state, std::string_view hex_text, std::span<char> output,
                     std::string_view key) {
  blowfish_key_schedule(state, key_bytes(key));
  std::size_t offset = 0;
  for (; offset < hex_text.size(); offset += kBlockHexChars) {
    // A short last block is completed with '0' digits rather than read past the text.
    char block_hex[kBlockHexChars];
    std::fill(std::begin(block_hex), std::end(block_hex), '0');
    const std::string_view available = hex_text.substr(offset, kBlockHexChars);
    std::copy(available.begin(), available.end(), block_hex);

    std::uint8_t block[kBlockBytes];
    hex_to_bytes(std::string_view(block_hex, kBlockHexChars), block);
    std::uint32_t left = read_half(block);
    std::uint32_t right = read_half(block + 4);
    blowfish_decrypt_block(state, left, right);
    write_half(left, block);
    write_half(right, block + 4);

    const std::size_t position = offset / 2;
    for (std::size_t i = 0; i < kBlockBytes && position + i < output.size(); ++i) {
      output[position + i] = static_cast<char>(block[i]);
    }
    wipe_bytes(block, sizeof block);
  }
  if (!output.empty()) output[std::min(offset / 2, output.size() - 1)] = '\0';
  wipe_cipher_state(state);
  return 1;
}

int decrypt_hex_text(std::string_view hex_text, std::span<char> output, std::string_view key) {
  BlowfishState state;
  return decrypt_hex_text(state, hex_text, output, key);
}

std::string decrypt_hex_to_text(std::string_view hex_text, std::string_view key) {
  std::string buffer(decrypted_size(hex_text.size()), '\0');
  decrypt_hex_text(hex_text, buffer, key);
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

std::string encrypt_text_to_hex(std::string_view plain, std::string_view key) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  BlowfishState state;
  blowfish_key_schedule(state, key_bytes(key));
  std::string hex;
  hex.reserve((plain.size() + kBlockBytes - 1) / kBlockBytes * kBlockHexChars);
  for (std::size_t offset = 0; offset < plain.size(); offset += kBlockBytes) {
    std::uint8_t block[kBlockBytes] = {};
    const std::string_view available = plain.substr(offset, kBlockBytes);
    std::memcpy(block, available.data(), available.size());
    std::uint32_t left = read_half(block);
    std::uint32_t right = read_half(block + 4);
    blowfish_encrypt_block(state, left, right);
    write_half(left, block);
    write_half(right, block + 4);
    for (std::uint8_t byte : block) {
      hex.push_back(kDigits[byte >> 4]);
      hex.push_back(kDigits[byte & 0x0F]);
    }
  }
  wipe_cipher_state(state);
  return hex;
}

}  // namespace zarvelt
