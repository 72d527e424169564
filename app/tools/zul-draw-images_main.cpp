// zul-draw-images: draws the application's pictures into its bundle folder at build time, so
// that no binary image lives in the source tree. Each picture is drawn at the size the screens
// lay it out at (one point is one pixel).
#include <cairo.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/CommandLine.h"

namespace {

struct Picture {
    std::string name;  // the file name in the bundle
    int width;
    int height;
    std::function<void(cairo_t*, int width, int height)> draw;
};

void SetRGB(cairo_t* cr, int r, int g, int b, double a = 1.0) {
    cairo_set_source_rgba(cr, r / 255.0, g / 255.0, b / 255.0, a);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void VerticalGradient(cairo_t* cr, int height, int topGrey, int bottomGrey) {
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 0, height);
    cairo_pattern_add_color_stop_rgb(gradient, 0, topGrey / 255.0, topGrey / 255.0,
                                     topGrey / 255.0);
    cairo_pattern_add_color_stop_rgb(gradient, 1, bottomGrey / 255.0, bottomGrey / 255.0,
                                     bottomGrey / 255.0);
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);
}

// The bar's own look: a dark gradient with a black line at the bottom.
void NavigationBarBackground(cairo_t* cr, int w, int h) {
    VerticalGradient(cr, h, 0x2e, 0x12);
    SetRGB(cr, 0, 0, 0);
    cairo_rectangle(cr, 0, h - 1, w, 1);
    cairo_fill(cr);
}

// The name drawn as strokes rather than with a font, so that the picture is the same on every
// machine whatever fonts it has.
void TitleLetters(cairo_t* cr, double x, double top, double letter, double height) {
    const double bottom = top + height;
    // Z
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x + letter, top);
    cairo_line_to(cr, x, bottom);
    cairo_line_to(cr, x + letter, bottom);
    // U
    x += letter * 1.45;
    const double r = letter / 2;
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x, bottom - r);
    cairo_arc_negative(cr, x + r, bottom - r, r, M_PI, 0);
    cairo_line_to(cr, x + letter, top);
    // L
    x += letter * 1.45;
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x, bottom);
    cairo_line_to(cr, x + letter * 0.85, bottom);
}

void NavigationBarTitle(cairo_t* cr, int w, int h) {
    const double height = h * 0.6;
    const double letter = height * 0.75;
    const double width = letter * (1.45 * 2 + 0.85);
    const double x = (w - width) / 2;
    const double top = (h - height) / 2;
    cairo_set_line_width(cr, h * 0.1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    SetRGB(cr, 0, 0, 0, 0.8);
    TitleLetters(cr, x, top - 1, letter, height);
    cairo_stroke(cr);
    SetRGB(cr, 255, 255, 255);
    TitleLetters(cr, x, top, letter, height);
    cairo_stroke(cr);
}

// A bar button: a dark rounded box with a lighter rim.
void BarButton(cairo_t* cr, int w, int h) {
    RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, 5);
    cairo_clip(cr);
    VerticalGradient(cr, h, 0x3a, 0x1c);
    cairo_reset_clip(cr);
    RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, 5);
    SetRGB(cr, 0x55, 0x55, 0x55);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

// The back button: a box whose left side is a point.
void BackButton(cairo_t* cr, int w, int h) {
    const double tip = h / 2.0;
    auto outline = [&] {
        cairo_new_path(cr);
        cairo_move_to(cr, 0.5, h / 2.0);
        cairo_line_to(cr, tip, 0.5);
        cairo_line_to(cr, w - 5.5, 0.5);
        cairo_arc(cr, w - 5.5, 5.5, 5, -M_PI / 2, 0);
        cairo_line_to(cr, w - 0.5, h - 5.5);
        cairo_arc(cr, w - 5.5, h - 5.5, 5, 0, M_PI / 2);
        cairo_line_to(cr, tip, h - 0.5);
        cairo_close_path(cr);
    };
    outline();
    cairo_clip(cr);
    VerticalGradient(cr, h, 0x3a, 0x1c);
    cairo_reset_clip(cr);
    outline();
    SetRGB(cr, 0x55, 0x55, 0x55);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void SeparatorLine(cairo_t* cr, int w, int h) {
    SetRGB(cr, 0x0b, 0x0b, 0x0b);
    cairo_rectangle(cr, 0, 0, w, h / 2.0);
    cairo_fill(cr);
    SetRGB(cr, 0x24, 0x24, 0x24);
    cairo_rectangle(cr, 0, h / 2.0, w, h / 2.0);
    cairo_fill(cr);
}

void SectionBackground(cairo_t* cr, int w, int h) {
    VerticalGradient(cr, h, 0x2a, 0x1a);
    SetRGB(cr, 0x3a, 0x3a, 0x3a);
    cairo_rectangle(cr, 0, 0, w, 1);
    cairo_fill(cr);
    SetRGB(cr, 0, 0, 0);
    cairo_rectangle(cr, 0, h - 1, w, 1);
    cairo_fill(cr);
}

// A film frame on a dark ground; the "missing" variant crosses it out.
void SearchPlaceholder(cairo_t* cr, int w, int h, bool missing) {
    SetRGB(cr, 0x1b, 0x1b, 0x1b);
    cairo_paint(cr);
    const double fw = w * 0.3;
    const double fh = fw * 0.75;
    const double x = (w - fw) / 2;
    const double y = (h - fh) / 2;
    SetRGB(cr, 0x44, 0x44, 0x44);
    cairo_set_line_width(cr, 4);
    RoundedRect(cr, x, y, fw, fh, 6);
    cairo_stroke(cr);
    for (int i = 0; i < 5; ++i) {
        const double hx = x + 8 + i * (fw - 16 - 8) / 4;
        cairo_rectangle(cr, hx, y + 6, 8, 6);
        cairo_rectangle(cr, hx, y + fh - 12, 8, 6);
    }
    cairo_fill(cr);
    if (missing) {
        SetRGB(cr, 0x8a, 0x30, 0x30);
        cairo_set_line_width(cr, 6);
        cairo_move_to(cr, x + fw * 0.3, y + fh * 0.3);
        cairo_line_to(cr, x + fw * 0.7, y + fh * 0.7);
        cairo_move_to(cr, x + fw * 0.7, y + fh * 0.3);
        cairo_line_to(cr, x + fw * 0.3, y + fh * 0.7);
        cairo_stroke(cr);
    }
}

// Frame `frame` (0-29) of the activity indicator: twelve spokes, the brightest one a
// thirtieth of a turn further on each frame.
void SpinnerFrame(cairo_t* cr, int w, int h, int frame) {
    const double cx = w / 2.0;
    const double cy = h / 2.0;
    const double outer = std::min(w, h) * 0.45;
    const double inner = outer * 0.5;
    const double head = 2 * M_PI * frame / 30.0;
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, outer * 0.16);
    for (int spoke = 0; spoke < 12; ++spoke) {
        const double angle = head - 2 * M_PI * spoke / 12.0 - M_PI / 2;
        SetRGB(cr, 255, 255, 255, 1.0 - spoke * 0.07);
        cairo_move_to(cr, cx + inner * std::cos(angle), cy + inner * std::sin(angle));
        cairo_line_to(cr, cx + outer * std::cos(angle), cy + outer * std::sin(angle));
        cairo_stroke(cr);
    }
}

// The small indicator beside a loading text: three quarters of a ring, turned as a whole.
void SpinnerLoading(cairo_t* cr, int w, int h) {
    const double r = std::min(w, h) / 2.0 - 2;
    cairo_set_line_width(cr, 2.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    SetRGB(cr, 0xb7, 0xb7, 0xb7);
    cairo_arc(cr, w / 2.0, h / 2.0, r, 0, 1.5 * M_PI);
    cairo_stroke(cr);
}

// A slider track: a rounded bar, stretched between caps of 10 points.
void Track(cairo_t* cr, int w, int h, int r, int g, int b) {
    const double barHeight = 5;
    const double y = (h - barHeight) / 2;
    RoundedRect(cr, 0.5, y, w - 1, barHeight, barHeight / 2);
    SetRGB(cr, r, g, b);
    cairo_fill_preserve(cr);
    SetRGB(cr, 0, 0, 0, 0.5);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

// The pointer under the subtitle list: a triangle pointing down, in the list's colour.
void Arrow(cairo_t* cr, int w, int h) {
    cairo_move_to(cr, 0, 0);
    cairo_line_to(cr, w, 0);
    cairo_line_to(cr, w / 2.0, h);
    cairo_close_path(cr);
    SetRGB(cr, 0, 0, 0, 0.7);
    cairo_fill(cr);
}

std::vector<Picture> Pictures() {
    std::vector<Picture> pictures = {
        {"Navigation-Bar-Background.png", 320, 44, NavigationBarBackground},
        {"Navigation-Bar-Title.png", 100, 30, NavigationBarTitle},
        {"Menu-Button-Background.png", 40, 30, BarButton},
        {"Menu-Button-Landscape-Background.png", 40, 24, BarButton},
        {"Back-Button.png", 50, 30, BackButton},
        {"Back-Button-Landscape.png", 50, 24, BackButton},
        {"Separator-Line.png", 320, 2, SeparatorLine},
        {"TableView-Section-Background.png", 320, 24, SectionBackground},
        // The tablet's thumbnail size; a phone shows it scaled to fill 200 x 160.
        {"Search-Placeholder.png", 400, 340,
         [](cairo_t* cr, int w, int h) { SearchPlaceholder(cr, w, h, false); }},
        {"Search-Placeholder-Missing.png", 400, 340,
         [](cairo_t* cr, int w, int h) { SearchPlaceholder(cr, w, h, true); }},
        {"Spinner-Loading.png", 20, 20, SpinnerLoading},
        {"track_left.png", 21, 9,
         [](cairo_t* cr, int w, int h) { Track(cr, w, h, 255, 255, 255); }},
        {"track_right.png", 21, 9, [](cairo_t* cr, int w, int h) { Track(cr, w, h, 90, 90, 90); }},
        {"track_left_vol.png", 21, 9,
         [](cairo_t* cr, int w, int h) { Track(cr, w, h, 220, 220, 220); }},
        {"track_right_vol.png", 21, 9,
         [](cairo_t* cr, int w, int h) { Track(cr, w, h, 70, 70, 70); }},
        {"arrow.png", 15, 8, Arrow},
    };
    // The player's indicator is 85 x 85.
    for (int frame = 0; frame < 30; ++frame) {
        char name[32];
        std::snprintf(name, sizeof name, "spinner%04d.png", frame + 1);
        pictures.push_back(
            {name, 85, 85, [frame](cairo_t* cr, int w, int h) { SpinnerFrame(cr, w, h, frame); }});
    }
    return pictures;
}

// Draws one picture into folder/name through a temporary file, so that a failed write leaves
// no half picture behind. Empty on success, else why not.
std::string Write(const std::string& folder, const Picture& picture) {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.width, picture.height);
    cairo_t* cr = cairo_create(surface);
    picture.draw(cr, picture.width, picture.height);
    cairo_destroy(cr);
    const std::string path = folder + "/" + picture.name;
    const std::string temporary = path + ".tmp";
    cairo_status_t status = cairo_surface_write_to_png(surface, temporary.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        unlink(temporary.c_str());
        return cairo_status_to_string(status);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return SvTools::SystemReason(error);
    }
    return std::string();
}

}  // namespace

int main(int argc, char** argv) {
    SvTools::CommandLine line("zul-draw-images", "FOLDER",
                              "Draws the application's pictures as PNG files into FOLDER (the "
                              "bundle's Resources folder), which must exist.");
    line.SetArgumentCount(1, 1);
    const SvTools::CommandLine::Outcome outcome = line.Parse(argc, argv);
    if (outcome != SvTools::CommandLine::Proceed) return SvTools::CommandLine::ExitStatus(outcome);

    const std::string folder = line.Arguments()[0];
    struct stat info;
    if (stat(folder.c_str(), &info) != 0) {
        return line.Failure(folder + ": " + SvTools::SystemReason(errno));
    }
    if (!S_ISDIR(info.st_mode)) return line.Failure(folder + ": not a folder");
    for (const Picture& picture : Pictures()) {
        const std::string error = Write(folder, picture);
        if (!error.empty()) return line.Failure(folder + "/" + picture.name + ": " + error);
    }
    return SvTools::CommandLine::kExitSuccess;
}
