#pragma once
// The model keeps text as 8-bit byte strings in the system code page. Every conversion between
// those bytes and Unicode (screen text, UTF-8 files) goes through here. Off Windows the code page
// is Windows-1252.
#include <QString>

#include <string>
#include <string_view>

namespace platform {

// Name of the 8-bit code page as used in charset declarations.
const char* codePageName();

// Unicode code point of one byte of the code page.
char32_t byteToUnicode(unsigned char byte);
// The byte for a code point, or false when the code page has none.
bool unicodeToByte(char32_t code, unsigned char& byte);

QString toDisplay(std::string_view bytes);
// Characters the code page cannot hold become '?'.
std::string fromDisplay(const QString& text);

std::string toUtf8(std::string_view bytes);
// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t code);
// Invalid UTF-8 sequences and characters the code page cannot hold become '?'.
std::string fromUtf8(std::string_view utf8);

}  // namespace platform
