#include "process/text_compare.h"

static unsigned char FoldAsciiCapital(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const char* left, const char* right) {
  const unsigned char* l = reinterpret_cast<const unsigned char*>(left);
  const unsigned char* r = reinterpret_cast<const unsigned char*>(right);
  for (; *l != 0 && *r != 0; ++l, ++r) {
    if (FoldAsciiCapital(*l) != FoldAsciiCapital(*r)) return false;
  }
  return *l == *r;
}
