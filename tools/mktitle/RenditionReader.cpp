#include "tools/mktitle/RenditionReader.h"

#include <stdexcept>
#include <utility>

#include "common/TsReader.h"
#include "tools/mktitle/InputFile.h"
#include "tools/mktitle/SampleAssembler.h"

namespace SvTools {

namespace {

// Each reading position takes the file in pieces of this size.
const size_t kReadSize = 256 * 1024;

// The codec alone: the sample table is not needed to cut the frames again.
AudioStream CodecOf(const AudioStream& audio) {
    AudioStream codec;
    codec.codec = audio.codec;
    return codec;
}

}  // namespace

// One reading position: the file, its transport-stream reader, and the samples of one kind
// finished but not yet handed out.
struct RenditionReader::Cursor {
    Cursor(const Rendition& rendition, bool video)
        : file(rendition.source),
          audio(CodecOf(rendition.audio)),
          assembler(rendition.source, video ? rendition.video.pid : 0x1FFF,
                    video ? 0x1FFF : rendition.audio.pid, audio,
                    [this](bool, const Sample&, std::vector<uint8_t>& bytes) {
                        ready.push_back(std::move(bytes));
                    }),
          reader([this](TsPes& pes) { assembler.Add(pes); }),
          buffer(kReadSize) {}

    const std::vector<uint8_t>& Next() {
        while (ready.empty() && !finished) {
            const size_t n = file.Read(buffer.data(), buffer.size());
            if (n == 0) {
                reader.Finish();
                assembler.Finish();
                finished = true;
            } else {
                reader.Feed(buffer.data(), n);
                bytesRead += n;
            }
        }
        if (ready.empty()) {
            throw std::runtime_error(file.Path() +
                                     ": the file ends before its samples; did it change while "
                                     "it was read?");
        }
        current = std::move(ready.front());
        ready.pop_front();
        return current;
    }

    InputFile file;
    AudioStream audio;  // the codec to cut frames by; its parameters are found again
    std::deque<std::vector<uint8_t>> ready;
    SampleAssembler assembler;
    TsReader reader;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> current;
    uint64_t bytesRead = 0;
    bool finished = false;
};

RenditionReader::RenditionReader(const Rendition& rendition) : source_(rendition.source) {
    if (rendition.video.present) {
        video_.reset(new Cursor(rendition, true));
    }
    if (rendition.audio.codec != AudioCodec::None) {
        audio_.reset(new Cursor(rendition, false));
    }
}

RenditionReader::~RenditionReader() = default;

const std::vector<uint8_t>& RenditionReader::Next(bool video) {
    Cursor* cursor = video ? video_.get() : audio_.get();
    if (!cursor) {
        throw std::runtime_error(source_ + ": no " + (video ? "video" : "audio") + " to read");
    }
    return cursor->Next();
}

uint64_t RenditionReader::BytesRead() const {
    return (video_ ? video_->bytesRead : 0) + (audio_ ? audio_->bytesRead : 0);
}

}  // namespace SvTools
