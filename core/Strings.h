// The numbered German texts of the program.
#pragma once

#include <string>

namespace core {

// The text of string n (UTF-8), or "" when the table has no such number.
const char* str(int n);
bool hasString(int n);

// Windows-1252 is the text encoding of every file the program exchanges with earlier
// versions; the user interface works in UTF-8. Conversion happens at that boundary.
std::string cp1252ToUtf8(const char* text, std::size_t maxBytes);
std::string cp1252ToUtf8(const std::string& text);
// Characters without a Windows-1252 code become '?'.
std::string utf8ToCp1252(const std::string& text);

// printf-style formatting in the "C" conventions whatever the desktop's locale
// (a decimal point, never a comma).
std::string formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace core
