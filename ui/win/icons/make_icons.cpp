// Draws Movra's three tray icons (regulating, monitoring, disconnected) and writes them as
// .ico files with an image drawn for each size the system asks for at 96 to 192 DPI (small icons
// 16 to 32 pixels, large ones 32 to 64). Deterministic: the checked-in icons are its output.
//   g++ -std=c++20 -O2 -o make_icons make_icons.cpp && ./make_icons <output folder>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgba {
    double r, g, b, a;
};

enum class Kind { kRegulating, kMonitoring, kDisconnected };

// Color of one sample point in a unit square (0..1, y downwards); alpha 0 outside the icon.
Rgba Sample(Kind kind, double x, double y) {
    const double cx = x - 0.5, cy = y - 0.5;
    const double r = std::sqrt(cx * cx + cy * cy);
    if (r > 0.48) return {0, 0, 0, 0};
    Rgba disc;
    switch (kind) {
        case Kind::kRegulating:
            disc = {0.05, 0.55, 0.30, 1};
            break;
        case Kind::kMonitoring:
            disc = {0.15, 0.35, 0.80, 1};
            break;
        case Kind::kDisconnected:
            disc = {0.50, 0.50, 0.50, 1};
            break;
    }
    if (r > 0.43) return {disc.r * 0.6, disc.g * 0.6, disc.b * 0.6, 1};  // rim
    const Rgba white{1, 1, 1, 1};
    if (kind == Kind::kMonitoring) {
        // An eye: a lens shape with a dark pupil.
        const double ex = cx / 0.34, ey = cy / 0.20;
        if (ex * ex + ey * ey <= 1.0) {
            if (cx * cx + cy * cy < 0.11 * 0.11) return {0.05, 0.10, 0.30, 1};
            return white;
        }
        return disc;
    }
    // Three bars of different heights: channel shares.
    const double bars[3][2] = {{0.25, 0.55}, {0.43, 0.30}, {0.61, 0.42}};
    for (const auto& b : bars) {
        if (x >= b[0] && x <= b[0] + 0.14 && y >= b[1] && y <= 0.78) return white;
    }
    if (kind == Kind::kDisconnected) {
        // A red slash across the bars.
        const double d = std::fabs(cx + cy) / std::sqrt(2.0);
        if (d < 0.06 && r < 0.40) return {0.85, 0.10, 0.10, 1};
    }
    return disc;
}

// One image: 32-bit BGRA rows bottom-up, then the AND mask, as an icon directory entry expects.
std::vector<uint8_t> Image(Kind kind, int size) {
    const int ss = 4;
    std::vector<uint8_t> out;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    auto put16 = [&](uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    put32(40);
    put32(uint32_t(size));
    put32(uint32_t(size * 2));
    put16(1);
    put16(32);
    put32(0);
    put32(uint32_t(size * size * 4));
    put32(0);
    put32(0);
    put32(0);
    put32(0);
    for (int row = size - 1; row >= 0; --row) {
        for (int col = 0; col < size; ++col) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < ss; ++sy)
                for (int sx = 0; sx < ss; ++sx) {
                    Rgba c = Sample(kind, (col + (sx + 0.5) / ss) / size,
                                    (row + (sy + 0.5) / ss) / size);
                    r += c.r * c.a;
                    g += c.g * c.a;
                    b += c.b * c.a;
                    a += c.a;
                }
            const double n = ss * ss;
            auto byte = [](double v) { return uint8_t(std::lround(std::fmin(1.0, v) * 255)); };
            // Premultiplied sums back to straight color.
            double k = a > 0 ? 1.0 / a : 0;
            out.push_back(byte(b * k));
            out.push_back(byte(g * k));
            out.push_back(byte(r * k));
            out.push_back(byte(a / n));
        }
    }
    const int maskRow = ((size + 31) / 32) * 4;
    out.insert(out.end(), size_t(maskRow * size), 0);
    return out;
}

bool WriteIcon(Kind kind, const std::string& path) {
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64};
    std::vector<std::vector<uint8_t>> images;
    for (int s : sizes) images.push_back(Image(kind, s));
    std::vector<uint8_t> out;
    auto put16 = [&](uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    put16(0);
    put16(1);
    put16(uint16_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(uint8_t(sizes[i]));
        out.push_back(uint8_t(sizes[i]));
        out.push_back(0);
        out.push_back(0);
        put16(1);
        put16(32);
        put32(uint32_t(images[i].size()));
        put32(offset);
        offset += uint32_t(images[i].size());
    }
    for (const auto& img : images) out.insert(out.end(), img.begin(), img.end());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    bool ok = WriteIcon(Kind::kRegulating, dir + "/regulating.ico") &&
              WriteIcon(Kind::kMonitoring, dir + "/monitoring.ico") &&
              WriteIcon(Kind::kDisconnected, dir + "/disconnected.ico");
    if (!ok) std::fprintf(stderr, "make_icons: cannot write the icons to %s\n", dir.c_str());
    return ok ? 0 : 1;
}
