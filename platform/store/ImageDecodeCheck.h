#ifndef PLATFORM_STORE_IMAGEDECODECHECK_H
#define PLATFORM_STORE_IMAGEDECODECHECK_H
// Whether PNG or JPEG bytes decode into a picture, checked by decoding them (libpng, libjpeg)
// without keeping the pixels: a valid header says nothing about what follows it, and the window
// can only draw nothing for bytes its decoder refuses. Whoever takes in a picture from outside
// checks it here first, so it can show what it shows for a missing picture instead.
//
// A fatal decoding error fails the check. What libjpeg goes on past with a warning passes, as it
// does in the window: a JPEG cut short (its missing rows are drawn grey), stray bytes between
// its segments. libpng's row reader has no such recovery, so a PNG cut short fails. A picture
// wider or taller than kMaxSide fails (the window does not draw one). Memory stays small
// whatever the input: one row at a time (a JPEG at an eighth of its size). Any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace ns {

class ImageDecodeCheck {
public:
    // The longest side a picture may have and still be drawn.
    static constexpr uint32_t kMaxSide = 8192;

    // True when the bytes are a PNG or JPEG that decodes; otherwise false with `error` (when
    // given) saying why.
    static bool Decodes(std::string_view bytes, std::string* error = nullptr);
};

}  // namespace ns

#endif  // PLATFORM_STORE_IMAGEDECODECHECK_H
