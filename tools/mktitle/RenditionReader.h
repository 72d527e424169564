#ifndef TOOLS_MKTITLE_RENDITIONREADER_H
#define TOOLS_MKTITLE_RENDITIONREADER_H

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "tools/mktitle/SampleSource.h"
#include "tools/mktitle/TitleInput.h"

namespace SvTools {

class InputFile;
class SampleAssembler;
class TsReader;

// Reads a rendition's input file a second time for the bytes of its samples. Video and audio
// each have a reading position of their own in the file, so the title can take them in its own
// order while only a few samples are held at a time. Each sample must have the size the sample
// table gave it: a file that changed since it was first read is an error, not a wrong title.
class RenditionReader : public SampleSource {
public:
    // The rendition must come from ReadRendition of the same file.
    explicit RenditionReader(const Rendition& rendition);
    ~RenditionReader() override;

    const std::vector<uint8_t>& Next(bool video) override;

    // Bytes of the input read so far, over both reading positions.
    uint64_t BytesRead() const;

private:
    struct Cursor;

    std::string source_;
    std::unique_ptr<Cursor> video_;
    std::unique_ptr<Cursor> audio_;
};

}  // namespace SvTools

#endif
