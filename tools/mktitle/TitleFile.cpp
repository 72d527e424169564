#include "tools/mktitle/TitleFile.h"

#include <memory>
#include <stdexcept>

#include "common/OutputFile.h"
#include "tools/mktitle/ByteSink.h"
#include "tools/mktitle/RenditionReader.h"

namespace SvTools {

namespace {

// The title writer's bytes, into the output file.
class OutputSink : public ByteSink {
public:
    explicit OutputSink(OutputFile& file) : file_(file) {}
    void Write(const uint8_t* data, size_t size) override {
        std::string error;
        if (!file_.Write(data, size, error)) {
            throw std::runtime_error("cannot write " + error);
        }
    }

private:
    OutputFile& file_;
};

}  // namespace

std::vector<uint8_t> WriteTitleFile(const std::vector<Rendition>& renditions,
                                    const TitleOptions& options, const std::string& output,
                                    ProgressLine& progress) {
    const TitleWriter writer(renditions, options);
    std::vector<std::unique_ptr<RenditionReader>> readers;
    std::vector<SampleSource*> sources;
    for (const Rendition& rendition : renditions) {
        readers.emplace_back(new RenditionReader(rendition));
        sources.push_back(readers.back().get());
    }
    OutputFile out;
    std::string error;
    if (!out.Prepare(output, error)) {
        throw std::runtime_error("cannot write " + error);
    }
    OutputSink sink(out);
    const std::string what = "writing " + output;
    writer.Write(sources, sink,
                 [&](uint64_t done) { progress.Update(what, done, writer.OutputSize()); });
    if (!out.Commit(error)) {
        throw std::runtime_error("cannot write " + error);
    }
    progress.End();
    return writer.IndexDigest();
}

}  // namespace SvTools
