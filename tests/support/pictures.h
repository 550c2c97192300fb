#pragma once

// Small PNG files made on the spot, and the colour an image list draws, for
// the tests of the rows' icons. Header only, so that only the tests that link
// zlib pull it in.

#include <windows.h>
#include <commctrl.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace merovane::test {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

namespace picture_detail {

inline void Put32(std::vector<BYTE>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<BYTE>((value >> shift) & 0xFF));
    }
}

inline void Chunk(std::vector<BYTE>& out, const char* type, const std::vector<BYTE>& data)
{
    Put32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<BYTE> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    Put32(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

} // namespace picture_detail

// A width x height RGBA PNG of one colour. `pixelData`, when given, replaces
// the compressed pixels (a damaged file whose chunks still check out).
inline std::vector<BYTE> SolidPng(std::uint32_t width, std::uint32_t height, Rgba colour,
                                  const std::vector<BYTE>* pixelData = nullptr)
{
    using namespace picture_detail;
    std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<BYTE> header;
    Put32(header, width);
    Put32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter, no interlace
    Chunk(png, "IHDR", header);

    std::vector<BYTE> packed;
    if (pixelData != nullptr) {
        packed = *pixelData;
    } else {
        std::vector<BYTE> raw;
        raw.reserve(static_cast<size_t>(height) * (1 + width * 4));
        for (std::uint32_t y = 0; y < height; ++y) {
            raw.push_back(0); // no filter on this row
            for (std::uint32_t x = 0; x < width; ++x) {
                raw.insert(raw.end(), {colour.r, colour.g, colour.b, colour.a});
            }
        }
        packed.resize(compressBound(static_cast<uLong>(raw.size())));
        uLongf packedSize = static_cast<uLongf>(packed.size());
        if (compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) {
            throw std::runtime_error("compress");
        }
        packed.resize(packedSize);
    }
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", {});
    return png;
}

// The colour of the middle pixel of an image drawn from the list onto white.
inline Rgba ImageListPixel(HIMAGELIST list, int index)
{
    int cx = 0;
    int cy = 0;
    if (list == nullptr || !::ImageList_GetIconSize(list, &cx, &cy)) {
        return {0, 0, 0, 0};
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    std::fill_n(static_cast<std::uint32_t*>(bits), static_cast<size_t>(cx) * static_cast<size_t>(cy), 0x00FFFFFFu);
    ::ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
    ::GdiFlush();
    const std::uint32_t pixel =
        static_cast<const std::uint32_t*>(bits)[static_cast<size_t>(cy / 2) * static_cast<size_t>(cx) + cx / 2];
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(bitmap);
    return {static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
            static_cast<std::uint8_t>(pixel), 255};
}

// The same colour give or take the rounding of scaling and blending.
inline bool SameColour(Rgba a, Rgba b)
{
    auto within = [](int x, int y) { return x - y <= 3 && y - x <= 3; };
    return within(a.r, b.r) && within(a.g, b.g) && within(a.b, b.b);
}

inline std::string Describe(Rgba c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

} // namespace merovane::test
