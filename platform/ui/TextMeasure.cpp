#include "platform/ui/TextMeasure.h"

#include <algorithm>
#include <cmath>

namespace ui {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte length of the longest prefix of `word` holding at most n code points (n >= 1).
size_t PrefixBytes(const std::string& word, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < word.size(); ++i) {
        if (!IsContinuation(static_cast<unsigned char>(word[i]))) {
            if (count == n) {
                return i;
            }
            ++count;
        }
    }
    return word.size();
}

TextMeasure::WidthMeasure& CustomWidthMeasure() {
    static auto* measure = new TextMeasure::WidthMeasure();  // never destroyed
    return *measure;
}

// Whether text drawn on one line fits in maxWidth (a hair of slack for sums of fractions).
bool FitsOnLine(const std::string& text, const Font& font, double maxWidth) {
    return TextMeasure::LineWidth(text, font) <= maxWidth + 1e-6;
}

// Byte length of the longest prefix of `word` (at least one code point) that fits.
size_t FittingPrefixBytes(const std::string& word, const Font& font, double maxWidth) {
    const size_t count = TextMeasure::CodePoints(word);
    // Widths grow with the prefix: the last count that fits, found by halving.
    size_t lo = 1, hi = count;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo + 1) / 2;
        if (FitsOnLine(word.substr(0, PrefixBytes(word, mid)), font, maxWidth)) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return PrefixBytes(word, lo);
}

void WrapParagraph(const std::string& para, const Font& font, double maxWidth,
                   std::vector<std::string>& out) {
    std::string line;
    bool hasContent = false;
    size_t start = 0;
    while (start <= para.size()) {
        size_t end = para.find(' ', start);
        if (end == std::string::npos) {
            end = para.size();
        }
        std::string word = para.substr(start, end - start);
        start = end + 1;
        std::string candidate = hasContent ? line + " " + word : word;
        if (FitsOnLine(candidate, font, maxWidth)) {
            line = std::move(candidate);
            hasContent = true;
        } else {
            if (hasContent) {
                out.push_back(line);
            }
            line = std::move(word);
            hasContent = true;
            while (!line.empty() && !FitsOnLine(line, font, maxWidth)) {
                size_t cut = FittingPrefixBytes(line, font, maxWidth);
                if (cut >= line.size()) {
                    break;
                }
                out.push_back(line.substr(0, cut));
                line.erase(0, cut);
            }
        }
        if (end == para.size()) {
            break;
        }
    }
    out.push_back(line);
}

}  // namespace

size_t TextMeasure::CodePoints(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) {
        if (!IsContinuation(c)) {
            ++n;
        }
    }
    // Continuation bytes with no lead byte before them still take room.
    if (n == 0 && !text.empty()) {
        n = text.size();
    }
    return n;
}

double TextMeasure::CharWidth(const Font& font) { return 0.5 * font.PointSize(); }

double TextMeasure::LineHeight(const Font& font) { return std::ceil(1.2 * font.PointSize()); }

void TextMeasure::SetWidthMeasure(WidthMeasure measure) {
    CustomWidthMeasure() = std::move(measure);
}

double TextMeasure::LineWidth(const std::string& text, const Font& font) {
    if (const WidthMeasure& measure = CustomWidthMeasure()) {
        return std::max(0.0, measure(text, font));
    }
    return static_cast<double>(CodePoints(text)) * CharWidth(font);
}

std::vector<std::string> TextMeasure::Lines(const std::string& text, const Font& font,
                                            double maxWidth, int maxLines) {
    std::vector<std::string> lines;
    if (text.empty()) {
        return lines;
    }
    size_t start = 0;
    while (true) {
        size_t end = text.find('\n', start);
        std::string para = text.substr(start, end == std::string::npos ? end : end - start);
        if (maxWidth > 0) {
            WrapParagraph(para, font, maxWidth, lines);
        } else {
            lines.push_back(para);
        }
        if (maxLines > 0 && lines.size() >= static_cast<size_t>(maxLines)) {
            lines.resize(static_cast<size_t>(maxLines));
            break;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

Size TextMeasure::SizeOf(const std::string& text, const Font& font, double maxWidth, int maxLines) {
    std::vector<std::string> lines = Lines(text, font, maxWidth, maxLines);
    double widest = 0;
    for (const std::string& line : lines) {
        widest = std::max(widest, LineWidth(line, font));
    }
    return Size(std::ceil(widest - 1e-9), static_cast<double>(lines.size()) * LineHeight(font));
}

}  // namespace ui
