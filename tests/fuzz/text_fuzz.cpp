// Fuzzes the decimal parse of a kill target and the case-blind comparison against plain
// reference models. Input: two texts separated by the first zero byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "process/kill_command.h"
#include "process/text_compare.h"

namespace {

bool ReferenceEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

// Exact arithmetic, reduced modulo 2^32 at the end: what wrapping accumulation must equal.
std::int32_t ReferenceParse(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) != nullptr) ++i;
  int sign = 1;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) sign = (text[i++] == '-') ? -1 : 1;
  std::uint64_t low32 = 0;  // the value modulo 2^32, digit by digit
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    low32 = (low32 * 10 + static_cast<std::uint64_t>(text[i] - '0')) & 0xFFFFFFFFu;
  }
  std::uint32_t value = static_cast<std::uint32_t>(low32);
  if (sign < 0) value = static_cast<std::uint32_t>(0x100000000ull - value);
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string left = input.substr(0, split);
  const std::string right = split == std::string::npos ? "" : input.substr(split + 1);
  const std::string right_text = right.substr(0, right.find('\0'));
  if (EqualsIgnoringCase(left.c_str(), right_text.c_str()) != ReferenceEqual(left, right_text)) {
    std::abort();
  }
  if (EqualsIgnoringCase(left.c_str(), left.c_str()) != true) std::abort();
  if (ParseProcessId(left.c_str()) != ReferenceParse(left)) std::abort();
  return 0;
}
