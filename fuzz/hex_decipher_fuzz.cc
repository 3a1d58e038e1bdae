// Fuzz target: the credential cipher. Arbitrary text is deciphered into outputs of every size
// up to the one it needs (bytes that do not fit are dropped, never written past the end), and
// a value enciphered and deciphered again must come back as it was, up to its first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/credential_cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zarvelt;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::size_t needed = decrypted_size(text.size());
  for (const std::size_t output_size : {needed, needed / 2 + 1, std::size_t{1}}) {
    std::vector<char> output(output_size);
    decrypt_hex_text(text, output, kCredentialKey);
    if (output.back() != '\0') std::abort();
  }

  const std::string plain(text.substr(0, text.find('\0')));
  const std::string hex = encrypt_text_to_hex(plain, kCredentialKey);
  if (hex.size() % 16 != 0 || decrypt_hex_to_text(hex, kCredentialKey) != plain) std::abort();
  return 0;
}
