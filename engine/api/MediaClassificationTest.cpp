#include "engine/api/MediaClassification.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

TEST(MediaClassification, MediaFormatsByExtensionQueryAndScheme) {
    const struct {
        const char* url;
        MediaFormat format;
    } cases[] = {
        {"/media/movie.svm", MediaFormatMpeg2Ps},
        {"/MEDIA/MOVIE.PS", MediaFormatMpeg2Ps},  // compared in lower case
        {"http://host/dir/b.ps?token=1&x=y", MediaFormatMpeg2Ps},
        {"/a/clip.VOB", MediaFormatDvd},
        {"/a/clip.flv", MediaFormatFlv},
        {"/a/clip.ts", MediaFormatMpeg2Ts},
        {"https://host/live/index.m3u8", MediaFormatHls},
        {"/a/clip.mp4", MediaFormatMp4},
        {"/a/clip.m4v", MediaFormatMp4},
        {"/a/list.smil", MediaFormatSmil},
        {"/a/list.smi", MediaFormatSmil},
        // The "itag" parameter names the format when present: a file name or a bare format.
        {"http://host/videoplayback?itag=clip.mp4", MediaFormatMp4},
        {"http://host/videoplayback?itag=flv", MediaFormatFlv},
        {"http://host/movie.ps?itag=clip.mp4", MediaFormatMp4},
        // The extension in front of "sparse" counts, for URLs only.
        {"http://host/movie.ps.sparse", MediaFormatMpeg2Ps},
        {"/local/movie.ps.sparse", MediaFormatUnknown},
        // Any udp URL is a transport stream, whatever it ends in.
        {"udp://239.0.0.1:1234/whatever.ps", MediaFormatMpeg2Ts},
        {"/a/noextension", MediaFormatUnknown},
        {"http://host/dir/", MediaFormatUnknown},
        {"/a/clip.avi", MediaFormatUnknown},
        {"/a.ps/clip", MediaFormatUnknown},  // a dot in a directory is no extension
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.format, ClassifyMedia(c.url)) << c.url;
    }
}

TEST(MediaClassification, SourceKindsAndSparseNames) {
    EXPECT_EQ(SourceKindLocalPath, ClassifySource("/media/movie.svm"));
    EXPECT_EQ(SourceKindLocalPath, ClassifySource("relative/movie.svm"));
    EXPECT_EQ(SourceKindHttp, ClassifySource("https://host/movie.ps"));
    EXPECT_EQ(SourceKindHttp, ClassifySource("http://host/movie"));
    EXPECT_EQ(SourceKindHttpLive, ClassifySource("https://host/index.m3u8"));
    EXPECT_EQ(SourceKindRtmp, ClassifySource("rtmp://host/app/stream.flv"));
    EXPECT_EQ(SourceKindMemory, ClassifySource("memory://feed/movie.ps"));
    EXPECT_EQ(SourceKindUdp, ClassifySource("udp://239.0.0.1:1234"));
    EXPECT_EQ(SourceKindUnknown, ClassifySource("ftp://host/movie.ps"));
    EXPECT_EQ(SourceKindUnknown, ClassifySource("file:///media/movie.ps"));

    EXPECT_TRUE(IsSparse("http://host/movie.ps.sparse"));
    EXPECT_TRUE(IsSparse("sparse"));  // no dot: the whole text counts
    EXPECT_FALSE(IsSparse("http://host/movie.ps.SPARSE"));
    EXPECT_FALSE(IsSparse("http://host/movie.sparse.ps"));
}

}  // namespace
}  // namespace SarvelonMediaKit
