#pragma once
// Helpers of the Transformer tests: the lines written to standard output, and the chain a
// Transformer built, read from its session.

#include <boost/shared_ptr.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "SVLibrary/Output/LineWriter.h"
#include "engine/api/Transformer.h"
#include "engine/core/Component.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"

namespace SvTestSupport {

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

}  // namespace SvTestSupport
