// Comparison of 8-bit texts without regard to letter case, the same on every machine.
#ifndef VOLMO_PROCESS_TEXT_COMPARE_H
#define VOLMO_PROCESS_TEXT_COMPARE_H

// True when both texts have the same length and match byte for byte once A-Z are folded to
// a-z. No other byte is folded, and the locale is never consulted, so bytes from 0x80 up must
// match exactly.
bool EqualsIgnoringCase(const char* left, const char* right);

#endif
