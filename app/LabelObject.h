#ifndef APP_LABELOBJECT_H
#define APP_LABELOBJECT_H
// A title of the movie in one language, as the playback information may list it.

#include <string>

struct LabelObject {
    std::string language;
    std::string title;
};

#endif  // APP_LABELOBJECT_H
