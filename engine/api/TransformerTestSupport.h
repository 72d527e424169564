#pragma once
// Helpers of the Transformer tests: the lines written to standard output, and the chain a
// Transformer built, read from its session.

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "SVLibrary/Output/LineWriter.h"
#include "engine/api/Transformer.h"
#include "engine/core/Component.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/ThreadTestSupport.h"

namespace SvTestSupport {

// The position a request carries when it names none.
const SarvelonMediaKit::MediaTime kNoPosition(~uint64_t(0));

// Collects what goes through the line writer while it exists.
class LineCapture {
public:
    LineCapture() : file_(tmpfile()) { SV::SetLineWriterStream(file_); }
    ~LineCapture() {
        SV::SetLineWriterStream(nullptr);
        if (file_ != nullptr) fclose(file_);
    }
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        if (file_ == nullptr) return lines;
        fflush(file_);
        rewind(file_);
        std::string line;
        for (int c = fgetc(file_); c != EOF; c = fgetc(file_)) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line.push_back(static_cast<char>(c));
            }
        }
        fseek(file_, 0, SEEK_END);
        return lines;
    }

    // The lines other than the life-cycle lines of sessions and Transformers.
    std::vector<std::string> OtherLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : Lines()) {
            if (line != "SessionSetupCompleted" && line != "SessionStopped" &&
                line != "~Transformer" && line != "~Transformer done") {
                lines.push_back(line);
            }
        }
        return lines;
    }

private:
    FILE* file_;
};

// The main chain's components, output end first.
inline std::vector<boost::shared_ptr<SarvelonMediaKit::Component>> ChainOf(
    const SarvelonMediaKit::Transformer& transformer) {
    const SarvelonMediaKit::ComponentStack stack = transformer.GetSession()->GetComponentStack();
    return std::vector<boost::shared_ptr<SarvelonMediaKit::Component>>(
        stack.GetComponents().begin(), stack.GetComponents().end());
}

// The type names of the main chain, output end first.
inline std::vector<std::string> ChainTypes(const SarvelonMediaKit::Transformer& transformer) {
    std::vector<std::string> types;
    for (const auto& component : ChainOf(transformer)) types.push_back(component->GetTypeName());
    return types;
}

// The first component of the chain of the given class, or null.
template <typename T>
T* FindInChain(const SarvelonMediaKit::Transformer& transformer) {
    for (const auto& component : ChainOf(transformer)) {
        if (T* found = dynamic_cast<T*>(component.get())) return found;
    }
    return nullptr;
}

// Runs the title through a Transformer into the transport-stream file `output` until ffprobe
// counts the expected packets per stream in it, then stops it: a file source ends with the end
// of its data but not the session, so the output is complete once it holds everything. The
// file's counts are checked once more after the Transformer is gone.
inline void TransformToFileUntilComplete(const std::string& title, const std::string& output,
                                         const std::map<int, size_t>& expected) {
    {
        SarvelonMediaKit::Transformer transformer(title, SarvelonMediaKit::MediaFormatMpeg2Ts,
                                                  SarvelonMediaKit::OutputKindFile, output);
        ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
        ASSERT_EQ(SVStatusSuccess, transformer.Transform(SarvelonMediaKit::MediaTime(~uint64_t(0)),
                                                         SarvelonMediaKit::TrickPlayRate(0), true));
        EXPECT_TRUE(SvTestSupport::WaitUntil(
            [&]() { return SarvelonMediaKit::test::ProbeCounts(output, false) == expected; },
            30000));
        EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    }
    EXPECT_EQ(expected, SarvelonMediaKit::test::ProbeCounts(output, false));
}

}  // namespace SvTestSupport
