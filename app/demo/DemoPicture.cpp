#include "app/demo/DemoPicture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

// The grid the area is cut into, and what counts as flat: every channel of every pixel of a
// cell within this distance of the cell's mean (video compression leaves a little noise).
constexpr int kColumns = 16;
constexpr int kRows = 12;
constexpr int kFlatTolerance = 12;
// Flat cells of one colour beyond this share of all cells: nothing is shown.
constexpr double kUniformShare = 0.5;

struct CellColour {
    int r, g, b;
};

// Whether the cell is flat, and its mean colour.
bool FlatCell(const DemoPicture& picture, int x0, int y0, int x1, int y1, CellColour* mean) {
    long sums[3] = {0, 0, 0};
    long count = 0;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* row = picture.rgb.data() + (static_cast<size_t>(y) * picture.width) * 3;
        for (int x = x0; x < x1; ++x) {
            for (int c = 0; c < 3; ++c) sums[c] += row[x * 3 + c];
            ++count;
        }
    }
    if (count == 0) return false;
    *mean = {static_cast<int>(sums[0] / count), static_cast<int>(sums[1] / count),
             static_cast<int>(sums[2] / count)};
    const int means[3] = {mean->r, mean->g, mean->b};
    for (int y = y0; y < y1; ++y) {
        const uint8_t* row = picture.rgb.data() + (static_cast<size_t>(y) * picture.width) * 3;
        for (int x = x0; x < x1; ++x) {
            for (int c = 0; c < 3; ++c) {
                if (std::abs(row[x * 3 + c] - means[c]) > kFlatTolerance) return false;
            }
        }
    }
    return true;
}

}  // namespace

std::string UniformPictureReason(const DemoPicture& picture, DemoPictureArea area) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgb.size() < static_cast<size_t>(picture.width) * picture.height * 3) {
        return "the picture has no pixels";
    }
    const int left = std::max(area.x, 0), top = std::max(area.y, 0);
    const int right = std::min(area.x + area.width, picture.width);
    const int bottom = std::min(area.y + area.height, picture.height);
    if (right - left < kColumns || bottom - top < kRows) {
        return "the video area lies outside the picture";
    }
    // Flat cells by colour, near colours together (a step of 16 per channel).
    std::map<int, int> flatByColour;
    std::map<int, CellColour> colourOf;
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const int x0 = left + (right - left) * column / kColumns;
            const int x1 = left + (right - left) * (column + 1) / kColumns;
            const int y0 = top + (bottom - top) * row / kRows;
            const int y1 = top + (bottom - top) * (row + 1) / kRows;
            CellColour mean{};
            if (!FlatCell(picture, x0, y0, x1, y1, &mean)) continue;
            const int key = (mean.r / 16) << 8 | (mean.g / 16) << 4 | (mean.b / 16);
            ++flatByColour[key];
            colourOf.emplace(key, mean);
        }
    }
    int most = 0, key = 0;
    for (const auto& [colour, cells] : flatByColour) {
        if (cells > most) {
            most = cells;
            key = colour;
        }
    }
    const int cells = kColumns * kRows;
    if (most <= cells * kUniformShare) return {};
    const CellColour& c = colourOf[key];
    char text[120];
    std::snprintf(text, sizeof text,
                  "the video area is uniform: %d%% of it is one colour (#%02x%02x%02x)",
                  most * 100 / cells, c.r, c.g, c.b);
    return text;
}
