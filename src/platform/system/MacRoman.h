#pragma once
// The side files (Verify List, KML, animation) are Mac OS Roman text, one
// byte per character, so that files written by earlier versions stay
// readable and comparable byte for byte.
#include <string>

namespace mv {

// UTF-8 to Mac OS Roman. A character the set cannot hold becomes '?', so a
// line is never dropped; malformed UTF-8 bytes are replaced the same way.
std::string toMacRoman(const std::string& utf8);

// Mac OS Roman to UTF-8 (every byte has a character).
std::string fromMacRoman(const std::string& roman);

// Decodes one UTF-8 character at s[i], advancing i; malformed input yields
// U+FFFD and advances one byte.
char32_t nextCodePoint(const std::string& s, std::size_t& i);
void appendUtf8(std::string& out, char32_t c);

} // namespace mv
