// Helpers of the file tests: an independent little-endian image writer/reader (it does not
// use the library's own helpers), file access, and a fixture with a fresh temp folder.
#pragma once

#include "tests/support/TestSupport.h"

#include "files/MeasurementFile.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace filestest {

using Image = std::vector<unsigned char>;

inline void le32(Image& b, std::size_t o, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b.at(o + k) = static_cast<unsigned char>(v >> (8 * k));
}
inline void leInt(Image& b, std::size_t o, int v) { le32(b, o, static_cast<std::uint32_t>(v)); }
inline void leFloat(Image& b, std::size_t o, float v)
{
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    le32(b, o, u);
}
inline std::uint32_t rd32(const Image& b, std::size_t o)
{
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v |= static_cast<std::uint32_t>(b.at(o + k)) << (8 * k);
    return v;
}
inline int rdInt(const Image& b, std::size_t o) { return static_cast<int>(rd32(b, o)); }
inline float rdFloat(const Image& b, std::size_t o)
{
    const std::uint32_t u = rd32(b, o);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}

inline void writeFile(const std::string& path, const Image& data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}
inline Image readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Image(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
inline std::string readText(const std::string& path)
{
    const Image b = readFile(path);
    return std::string(b.begin(), b.end());
}

class FilesTest : public testsupport::RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        files::resetFileExtras();
        dir = testsupport::makeTempDir();
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        files::simulateShortWrite(-1);
        RecordsTest::TearDown();
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // Messages as "text|caption" for compact comparisons.
    std::vector<std::string> messageLog()
    {
        std::vector<std::string> out;
        for (const auto& m : ui.messages())
            out.push_back(m.text + "|" + m.caption);
        return out;
    }
    std::string dir;
};

} // namespace filestest
