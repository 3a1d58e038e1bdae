#include "config/credential_cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

namespace zarvelt {
namespace {

std::vector<std::uint8_t> bytes_of_hex(std::string_view hex) {
  std::vector<std::uint8_t> bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  }
  return bytes;
}

std::uint32_t big_endian_word(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// OpenSSL reads the halves big-endian; reversing each half's four bytes gives our order.
void reverse_halves(std::uint8_t* block) {
  std::swap(block[0], block[3]);
  std::swap(block[1], block[2]);
  std::swap(block[4], block[7]);
  std::swap(block[5], block[6]);
}

// One block through OpenSSL's Blowfish with our little-endian halves.
std::vector<std::uint8_t> openssl_block(std::span<const std::uint8_t> key,
                                        const std::uint8_t* block, int direction) {
  BF_KEY bf_key;
  BF_set_key(&bf_key, static_cast<int>(key.size()), key.data());
  std::uint8_t in[8];
  std::uint8_t out[8];
  std::memcpy(in, block, 8);
  reverse_halves(in);
  BF_ecb_encrypt(in, out, &bf_key, direction);
  reverse_halves(out);
  return {out, out + 8};
}

std::span<const std::uint8_t> key_span(std::string_view key) {
  return {reinterpret_cast<const std::uint8_t*>(key.data()), key.size()};
}

TEST(CredentialCipherTest, InitialTablesAreTheDigitsOfPi) {
  EXPECT_EQ(kBlowfishInitialP[0], 0x243F6A88u);
  EXPECT_EQ(kBlowfishInitialP[17], 0x8979FB1Bu);
  EXPECT_EQ(kBlowfishInitialS[0][0], 0xD1310BA6u);
  EXPECT_EQ(kBlowfishInitialS[3][255], 0x3AC372E6u);
}

TEST(CredentialCipherTest, PublishedVectorsWithBigEndianHalves) {
  struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Vector kVectors[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
  };
  for (const Vector& vector : kVectors) {
    SCOPED_TRACE(vector.key);
    const auto key = bytes_of_hex(vector.key);
    const auto plain = bytes_of_hex(vector.plain);
    const auto cipher = bytes_of_hex(vector.cipher);

    BlowfishState state;
    blowfish_key_schedule(state, key);
    std::uint32_t left = big_endian_word(plain.data());
    std::uint32_t right = big_endian_word(plain.data() + 4);
    blowfish_encrypt_block(state, left, right);
    EXPECT_EQ(left, big_endian_word(cipher.data()));
    EXPECT_EQ(right, big_endian_word(cipher.data() + 4));
    blowfish_decrypt_block(state, left, right);
    EXPECT_EQ(left, big_endian_word(plain.data()));
    EXPECT_EQ(right, big_endian_word(plain.data() + 4));

    // The reference library agrees on the same vector in its own (big-endian) order.
    BF_KEY bf_key;
    BF_set_key(&bf_key, static_cast<int>(key.size()), key.data());
    std::uint8_t out[8];
    BF_ecb_encrypt(plain.data(), out, &bf_key, BF_ENCRYPT);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 8), cipher);
  }
}

TEST(CredentialCipherTest, AgreesWithOpenSslOnRandomKeysAndBlocks) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> key_length(1, 72);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> key(key_length(random));
    for (auto& b : key) b = static_cast<std::uint8_t>(byte(random));
    std::uint8_t block[8];
    for (auto& b : block) b = static_cast<std::uint8_t>(byte(random));

    BlowfishState state;
    blowfish_key_schedule(state, key);
    std::uint32_t left = block[0] | block[1] << 8 | block[2] << 16 | std::uint32_t{block[3]} << 24;
    std::uint32_t right = block[4] | block[5] << 8 | block[6] << 16 | std::uint32_t{block[7]} << 24;
    std::uint32_t enc_left = left, enc_right = right;
    blowfish_encrypt_block(state, enc_left, enc_right);
    const auto expected = openssl_block(key, block, BF_ENCRYPT);
    std::uint8_t ours[8];
    for (int i = 0; i < 4; ++i) {
      ours[i] = static_cast<std::uint8_t>(enc_left >> (8 * i));
      ours[4 + i] = static_cast<std::uint8_t>(enc_right >> (8 * i));
    }
    ASSERT_EQ(std::vector<std::uint8_t>(ours, ours + 8), expected) << "round " << round;

    std::uint32_t dec_left = left, dec_right = right;
    blowfish_decrypt_block(state, dec_left, dec_right);
    const auto expected_plain = openssl_block(key, block, BF_DECRYPT);
    EXPECT_EQ(dec_left, expected_plain[0] | expected_plain[1] << 8 | expected_plain[2] << 16 |
                            std::uint32_t{expected_plain[3]} << 24);
  }
}

TEST(CredentialCipherTest, HexTextsAgreeWithOpenSslBothWays) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int> printable(32, 126);
  for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 16u, 23u, 96u}) {
    std::string plain;
    for (std::size_t i = 0; i < length; ++i) plain.push_back(static_cast<char>(printable(random)));
    for (std::string_view key : {kCredentialKey, std::string_view("a much longer key text")}) {
      SCOPED_TRACE(plain);
      std::vector<std::uint8_t> padded(plain.begin(), plain.end());
      padded.resize((plain.size() + 7) / 8 * 8, 0);
      std::string expected_hex;
      for (std::size_t offset = 0; offset < padded.size(); offset += 8) {
        for (std::uint8_t b : openssl_block(key_span(key), padded.data() + offset, BF_ENCRYPT)) {
          static constexpr char kDigits[] = "0123456789ABCDEF";
          expected_hex += {kDigits[b >> 4], kDigits[b & 15]};
        }
      }
      EXPECT_EQ(encrypt_text_to_hex(plain, key), expected_hex);
      EXPECT_EQ(decrypt_hex_to_text(expected_hex, key), plain);
    }
  }
}

TEST(CredentialCipherTest, HexDigitsDecodeByTheCharacterRule) {
  struct Case {
    const char* text;
    std::uint8_t byte;
  };
  const Case kCases[] = {
      {"00", 0x00}, {"09", 0x09}, {"AF", 0xAF}, {"FF", 0xFF}, {"0a", 0x31},  // 'a' - 48 = 49
      {"a0", 0x10},  // 49 * 16 = 784, modulo 256
      {"G0", 0x70},  // 'G' is no hex digit either: 23 * 16
      {"0;", 0x0B},
  };
  for (const Case& c : kCases) {
    std::uint8_t byte = 0xEE;
    hex_to_bytes(c.text, &byte);
    EXPECT_EQ(byte, c.byte) << c.text;
  }
  // An odd count decodes only the complete pairs.
  std::uint8_t bytes[2] = {0xEE, 0xEE};
  hex_to_bytes("12A", bytes);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0xEE);
}

TEST(CredentialCipherTest, BlockBytesEnterTheRoundsAsLittleEndianHalves) {
  char output[9];
  decrypt_hex_text("0102030405060708", output, kCredentialKey);

  BlowfishState state;
  blowfish_key_schedule(state, key_span(kCredentialKey));
  std::uint32_t left = 0x04030201;
  std::uint32_t right = 0x08070605;
  blowfish_decrypt_block(state, left, right);
  std::uint8_t expected[8];
  for (int i = 0; i < 4; ++i) {
    expected[i] = static_cast<std::uint8_t>(left >> (8 * i));
    expected[4 + i] = static_cast<std::uint8_t>(right >> (8 * i));
  }
  EXPECT_EQ(std::memcmp(output, expected, 8), 0);
  EXPECT_EQ(output[8], '\0');
}

TEST(CredentialCipherTest, EmptyHexTextGivesOnlyTheZeroByteAndWipesTheState) {
  BlowfishState state;
  std::memset(&state, 0xAB, sizeof state);
  char output[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(decrypt_hex_text(state, "", output, kCredentialKey), 1);
  EXPECT_EQ(output[0], '\0');
  EXPECT_EQ(output[1], 'x');
  const BlowfishState zeros{};
  EXPECT_EQ(std::memcmp(&state, &zeros, sizeof state), 0);
}

TEST(CredentialCipherTest, StateIsAllZerosAfterDecryption) {
  BlowfishState state;
  std::memset(&state, 0x5A, sizeof state);
  const std::string hex = encrypt_text_to_hex("scott/tiger", kCredentialKey);
  std::string output(decrypted_size(hex.size()), 'x');
  decrypt_hex_text(state, hex, output, kCredentialKey);
  EXPECT_STREQ(output.c_str(), "scott/tiger");
  const BlowfishState zeros{};
  EXPECT_EQ(std::memcmp(&state, &zeros, sizeof state), 0);
}

TEST(CredentialCipherTest, WholeBlocksGiveEightBytesEachAndTheZeroByte) {
  const std::string hex = encrypt_text_to_hex(std::string("ABCDEFGH12345678zz"), kCredentialKey);
  ASSERT_EQ(hex.size(), 48u);
  ASSERT_EQ(decrypted_size(hex.size()), 25u);
  std::string output(25, 'x');
  decrypt_hex_text(hex, output, kCredentialKey);
  EXPECT_EQ(output, std::string("ABCDEFGH12345678zz\0\0\0\0\0\0\0", 25));
}

TEST(CredentialCipherTest, ShortLastBlockIsCompletedWithZeroDigits) {
  const std::string whole = encrypt_text_to_hex("password", kCredentialKey) + "ABC0000000000000";
  const std::string cut = whole.substr(0, 19);
  ASSERT_EQ(decrypted_size(cut.size()), 17u);
  // Guard bytes behind the output show nothing is written past it.
  std::string expected(17, 'x');
  decrypt_hex_text(whole, expected, kCredentialKey);
  std::string output(17 + 4, 'x');
  decrypt_hex_text(cut, std::span<char>(output.data(), 17), kCredentialKey);
  EXPECT_EQ(output.substr(0, 17), expected);
  EXPECT_EQ(output.substr(17), "xxxx");
  EXPECT_EQ(decrypt_hex_to_text("ABC", kCredentialKey),
            decrypt_hex_to_text("ABC0000000000000", kCredentialKey));
}

TEST(CredentialCipherTest, TooSmallOutputGetsWhatFitsAndStaysTerminated) {
  const std::string hex = encrypt_text_to_hex("0123456789abcdef", kCredentialKey);
  std::string output(10 + 4, 'x');
  decrypt_hex_text(hex, std::span<char>(output.data(), 10), kCredentialKey);
  EXPECT_EQ(output, std::string("012345678\0xxxx", 14));
}

TEST(CredentialCipherTest, ResultEndsAtTheFirstZeroByte) {
  // Zero padding comes back as the plain text; other padding stays part of it.
  EXPECT_EQ(decrypt_hex_to_text(encrypt_text_to_hex("scott", kCredentialKey), kCredentialKey),
            "scott");
  EXPECT_EQ(decrypt_hex_to_text(encrypt_text_to_hex("scott   ", kCredentialKey), kCredentialKey),
            "scott   ");
  EXPECT_EQ(decrypt_hex_to_text(encrypt_text_to_hex(std::string("ab\0cd", 5), kCredentialKey),
                                kCredentialKey),
            "ab");
}

}  // namespace
}  // namespace zarvelt
