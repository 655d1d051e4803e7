// picture.cpp - screenshots of a window as PNG files, written without any
// library: the image data go into stored (uncompressed) deflate blocks, so
// only CRC-32 and Adler-32 are needed.
#include "tests/ui/support/uitest.h"

#include <cstdint>
#include <cstdio>
#include <map>

namespace uitest {
namespace {

uint32_t crc32(const unsigned char *p, size_t n) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t c = b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
            table[b] = c;
        }
    }
    uint32_t crc = ~0u;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put32(std::vector<unsigned char> &out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back((unsigned char)(v >> s));
}

void chunk(std::vector<unsigned char> &png, const char *type, const std::vector<unsigned char> &data) {
    put32(png, (uint32_t)data.size());
    size_t at = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32(png, crc32(&png[at], png.size() - at));
}

// A zlib stream of stored blocks holding raw.
std::vector<unsigned char> zlibStored(const std::vector<unsigned char> &raw) {
    std::vector<unsigned char> z = {0x78, 0x01};
    size_t at = 0;
    do {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back((unsigned char)n);
        z.push_back((unsigned char)(n >> 8));
        z.push_back((unsigned char)~n);
        z.push_back((unsigned char)(~n >> 8));
        z.insert(z.end(), raw.begin() + (long)at, raw.begin() + (long)(at + n));
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);
    return z;
}

uint32_t colourAt(const unsigned char *p) { return (uint32_t)(p[0] << 16 | p[1] << 8 | p[2]); }

}  // namespace

bool writePng(const std::string &path, const unsigned char *rgb, int width, int height) {
    // Screenshots are mostly runs of one colour: the map is asked only when
    // the colour changes.
    std::map<uint32_t, unsigned char> palette;
    size_t pixels = (size_t)width * (size_t)height;
    uint32_t last = 0xFFFFFFFFu;
    for (size_t i = 0; i < pixels && palette.size() <= 256; ++i) {
        uint32_t c = colourAt(rgb + 3 * i);
        if (c != last) palette.emplace(c, 0);
        last = c;
    }
    bool indexed = palette.size() <= 256;
    std::vector<unsigned char> plte;
    for (auto &entry : palette) {
        entry.second = (unsigned char)(plte.size() / 3);
        for (int s = 16; s >= 0; s -= 8) plte.push_back((unsigned char)(entry.first >> s));
    }
    std::vector<unsigned char> raw;
    raw.reserve(pixels * (indexed ? 1 : 3) + (size_t)height);
    unsigned char index = 0;
    last = 0xFFFFFFFFu;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        const unsigned char *row = rgb + (size_t)y * (size_t)width * 3;
        for (int x = 0; x < width; ++x) {
            const unsigned char *p = row + 3 * x;
            if (!indexed) {
                raw.insert(raw.end(), p, p + 3);
                continue;
            }
            uint32_t c = colourAt(p);
            if (c != last) index = palette[c];
            last = c;
            raw.push_back(index);
        }
    }
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    put32(header, (uint32_t)width);
    put32(header, (uint32_t)height);
    header.insert(header.end(), {8, (unsigned char)(indexed ? 3 : 2), 0, 0, 0});
    chunk(png, "IHDR", header);
    if (indexed) chunk(png, "PLTE", plte);
    chunk(png, "IDAT", zlibStored(raw));
    chunk(png, "IEND", {});
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(png.data(), 1, png.size(), f) == png.size();
    return fclose(f) == 0 && ok;
}

bool screenshot(HWND window, const std::string &path) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    pump(50);
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = dib && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, dib);
        HDC source = GetWindowDC(window);
        ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
        ReleaseDC(window, source);
        GdiFlush();
        SelectObject(memory, old);
    }
    std::vector<unsigned char> rgb;
    if (ok) {
        const unsigned char *p = (const unsigned char *)bits;
        rgb.resize((size_t)width * (size_t)height * 3);
        for (size_t i = 0; i < (size_t)width * (size_t)height; ++i) {
            rgb[3 * i] = p[4 * i + 2];
            rgb[3 * i + 1] = p[4 * i + 1];
            rgb[3 * i + 2] = p[4 * i];
        }
    }
    if (dib) DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;
    std::string folder = path.substr(0, path.find_last_of("\\/"));
    CreateDirectoryA(folder.c_str(), nullptr);
    return writePng(path, rgb.data(), width, height);
}

COLORREF pixel(HWND window, int x, int y) {
    pump(20);
    POINT p = {x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return c;
}

std::string programFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

}  // namespace uitest
