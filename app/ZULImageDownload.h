#ifndef APP_ZULIMAGEDOWNLOAD_H
#define APP_ZULIMAGEDOWNLOAD_H
// Thumbnail downloads keep their files in one cache folder, "Thumbs" in the user's documents
// folder, which every start of the application empties.

#include <string>

class ZULImageDownload {
public:
    // The cache folder; empty when no documents folder is known or it is not an absolute path
    // (then nothing is made or removed anywhere).
    static std::string cachePath();
    // Makes the folder and its missing parents; true when it is there afterwards.
    static bool createCache();
    // Removes the folder with what it holds (a symbolic link in it, or in its place, goes
    // itself; what it points to stays); true when it is gone afterwards.
    static bool deleteCache();
    // deleteCache, then createCache.
    static void resetCache();
};

#endif  // APP_ZULIMAGEDOWNLOAD_H
