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

void WrapParagraph(const std::string& para, const Font& font, double maxWidth,
                   std::vector<std::string>& out) {
    const double charWidth = TextMeasure::CharWidth(font);
    // Code points that fit on one line (at least one, so every step makes progress).
    size_t perLine = 1;
    if (charWidth > 0) {
        perLine = std::max<size_t>(1, static_cast<size_t>(std::floor(maxWidth / charWidth + 1e-9)));
    } else {
        perLine = static_cast<size_t>(-1);
    }
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
        if (TextMeasure::CodePoints(candidate) <= perLine) {
            line = std::move(candidate);
            hasContent = true;
        } else {
            if (hasContent) {
                out.push_back(line);
            }
            line = std::move(word);
            hasContent = true;
            while (TextMeasure::CodePoints(line) > perLine) {
                size_t cut = PrefixBytes(line, perLine);
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

double TextMeasure::LineWidth(const std::string& text, const Font& font) {
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
