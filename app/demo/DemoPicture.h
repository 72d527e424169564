#ifndef APP_DEMO_DEMOPICTURE_H
#define APP_DEMO_DEMOPICTURE_H
// A picture the scripted session kept of a screen, as plain pixels, and the check that the
// movie in it shows a picture at all.
//
// A player that plays the sound over a black picture (a decoder missing) still shows its
// controls and the subtitle line over the video, so the whole area is never one colour. The
// check therefore cuts the area into a grid of cells and looks at the cells that are flat (all
// their pixels nearly one colour): when more than half of the cells are flat in one and the
// same colour, the video shows nothing. Colour bars are flat in each bar, but in many colours,
// and a moving pattern has few flat cells.

#include <cstdint>
#include <string>
#include <vector>

struct DemoPicture {
    int width = 0;
    int height = 0;
    // Red, green and blue bytes per pixel, rows from the top, no padding.
    std::vector<uint8_t> rgb;
};

// A rectangle of a picture in pixels.
struct DemoPictureArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Empty when the area of the picture (cut to the picture) shows a picture; otherwise why it
// does not: "the video area is uniform: 93% of it is one colour (#000000)", or that the area
// lies outside the picture or the picture has no pixels.
std::string UniformPictureReason(const DemoPicture& picture, DemoPictureArea area);

#endif  // APP_DEMO_DEMOPICTURE_H
