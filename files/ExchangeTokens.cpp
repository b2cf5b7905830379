// The tokenizer of the exchange text files: lines, fields, separators and numbers.
#include "files/ExchangeInternal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace files::detail
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view nextLine(std::string_view bytes, std::size_t& pos)
{
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
        ++end;
    const std::string_view line = bytes.substr(pos, end - pos);
    if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
        bytes[end + 1] == '\n')
        ++end;
    pos = end + 1;
    return line;
}

namespace
{

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::vector<std::string_view> splitOn(std::string_view line, char sep)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t p = line.find(sep, start);
        out.push_back(
            trim(line.substr(start, p == std::string_view::npos ? line.npos : p - start)));
        if (p == std::string_view::npos)
            break;
        start = p + 1;
    }
    // A separator at the end of the row ("20;85.1;") adds no column.
    while (!out.empty() && out.back().empty())
        out.pop_back();
    return out;
}

std::vector<std::string_view> splitBlanks(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
}

// `word` as a word of `text`: no letter right before or after it.
std::size_t findWord(const std::string& text, std::string_view word)
{
    for (std::size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) {
        const bool before = p > 0 && isLetter(text[p - 1]);
        const bool after = p + word.size() < text.size() && isLetter(text[p + word.size()]);
        if (!before && !after)
            return p;
    }
    return std::string::npos;
}

} // namespace

bool startsLikeNumber(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    if (i < s.size() && (s[i] == '.' || s[i] == ','))
        ++i;
    return i < s.size() && isDigit(s[i]);
}

Separator detectSeparator(std::string_view row)
{
    if (row.find(';') != std::string_view::npos)
        return Separator::Semicolon;
    if (row.find(',') == std::string_view::npos)
        return Separator::Blank;
    const auto fields = splitBlanks(row);
    if (fields.size() < 2)
        return Separator::Comma;
    for (std::string_view f : fields)
        if (f.front() == ',' || f.back() == ',')
            return Separator::Comma;
    return Separator::Blank;
}

NumberStatus parseNumber(std::string_view field, bool decimalComma, double& value)
{
    std::string text(field);
    if (decimalComma)
        std::replace(text.begin(), text.end(), ',', '.');
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    const auto [p, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        return NumberStatus::NotFinite;
    if (ec != std::errc() || p != last)
        return NumberStatus::NotANumber;
    return std::isfinite(value) ? NumberStatus::Ok : NumberStatus::NotFinite;
}

ThirdColumn thirdColumnNamedIn(std::string_view line)
{
    // Lower case, and "Group-Delay", "group_delay", "Group  Delay" all as "group delay".
    std::string text;
    for (char c : line) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c == '-' || c == '_' || isBlank(c))
            c = ' ';
        if (c == ' ' && !text.empty() && text.back() == ' ')
            continue;
        text += c;
    }
    std::size_t delay = std::string::npos;
    for (std::string_view w :
         {"group delay", "groupdelay", "grp delay", "grpdelay", "gruppenlaufzeit", "gd"})
        delay = std::min(delay, w.size() > 2 ? text.find(w) : findWord(text, w));
    const std::size_t phase = text.find("phase");
    if (delay == std::string::npos && phase == std::string::npos)
        return ThirdColumn::Unnamed;
    return delay < phase ? ThirdColumn::GroupDelay : ThirdColumn::Phase;
}

std::vector<std::string_view> splitRow(std::string_view row, Separator sep)
{
    switch (sep) {
    case Separator::Semicolon:
        return splitOn(row, ';');
    case Separator::Comma:
        return splitOn(row, ',');
    case Separator::Blank:
        break;
    }
    return splitBlanks(row);
}

} // namespace files::detail
