// kvjson: checks a JSON document with the project's parser.
//
//   kvjson [--chunk N] [--roundtrip [--human] [--sort]] FILE|-
//
// Parses the whole input (a file, or standard input for "-"). Exit status 0 when the document
// is accepted, 1 when it is rejected (the parser's error text on standard error), 2 for a
// usage or read error. --chunk N feeds the parser N bytes at a time; --roundtrip prints the
// parsed value written back as JSON (--human: indented; --sort: keys sorted).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "json/KvJsonParser.h"
#include "json/KvJsonStreamParser.h"
#include "json/KvJsonStreamParserAccumulator.h"
#include "json/KvJsonStreamParserAdapter.h"
#include "json/KvJsonWriter.h"

namespace {

constexpr size_t kMaxChunk = size_t{64} << 20;

int Usage() {
    std::fputs("usage: kvjson [--chunk N] [--roundtrip [--human] [--sort]] FILE|-\n", stderr);
    return 2;
}

struct Input {
    std::FILE* file = nullptr;
    bool owned = false;
    ~Input() {
        if (owned && file != nullptr) {
            std::fclose(file);
        }
    }
};

// Fed in pieces of `chunk` bytes, as a network reader would.
std::optional<ns::Value> ParseChunked(std::FILE* file, size_t chunk, std::string& error,
                                      bool& readFailed) {
    KvJsonStreamParserAccumulator accumulator;
    KvJsonStreamParserAdapter adapter;
    adapter.setDelegate(&accumulator);
    KvJsonStreamParser parser;
    parser.setDelegate(&adapter);
    std::vector<char> buffer(chunk);
    int status = KvJsonStreamParserWaitingForData;
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, chunk, file);
        if (n == 0) {
            break;
        }
        status = parser.parse(buffer.data(), n);
        if (status == KvJsonStreamParserError) {
            error = parser.error();
            return std::nullopt;
        }
    }
    if (std::ferror(file)) {
        readFailed = true;
        return std::nullopt;
    }
    if (status == KvJsonStreamParserComplete && !parser.hasUnfinishedToken()) {
        return accumulator.takeValue();
    }
    error = "Unexpected end of input";
    return std::nullopt;
}

std::optional<ns::Value> ParseWhole(std::FILE* file, std::string& error, bool& readFailed) {
    std::string data;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        data.append(buffer, n);
    }
    if (std::ferror(file)) {
        readFailed = true;
        return std::nullopt;
    }
    KvJsonParser parser;
    std::optional<ns::Value> value = parser.objectWithData(data.data(), data.size());
    if (!value) {
        error = parser.error();
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    size_t chunk = 0;
    bool roundtrip = false;
    bool human = false;
    bool sort = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--chunk") {
            if (++i >= argc) {
                return Usage();
            }
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(argv[i], &end, 10);
            if (errno != 0 || end == argv[i] || *end != '\0' || argv[i][0] == '-' || n == 0 ||
                n > kMaxChunk) {
                std::fprintf(stderr, "kvjson: --chunk takes a size from 1 to %zu\n", kMaxChunk);
                return 2;
            }
            chunk = static_cast<size_t>(n);
        } else if (arg == "--roundtrip") {
            roundtrip = true;
        } else if (arg == "--human") {
            human = true;
        } else if (arg == "--sort") {
            sort = true;
        } else if (path == nullptr && (arg == "-" || arg.rfind("--", 0) != 0)) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr || ((human || sort) && !roundtrip)) {
        return Usage();
    }

    Input input;
    if (std::strcmp(path, "-") == 0) {
        input.file = stdin;
    } else {
        input.file = std::fopen(path, "rb");
        input.owned = true;
        if (input.file == nullptr) {
            std::fprintf(stderr, "kvjson: cannot open %s: %s\n", path, std::strerror(errno));
            return 2;
        }
    }

    std::string error;
    bool readFailed = false;
    std::optional<ns::Value> value = chunk > 0 ? ParseChunked(input.file, chunk, error, readFailed)
                                               : ParseWhole(input.file, error, readFailed);
    if (readFailed) {
        std::fprintf(stderr, "kvjson: cannot read %s\n", path);
        return 2;
    }
    if (!value) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (roundtrip) {
        KvJsonWriter writer;
        writer.setHumanReadable(human);
        writer.setSortKeys(sort);
        std::optional<std::string> text = writer.dataWithObject(*value);
        if (!text) {
            std::fprintf(stderr, "%s\n", writer.error().c_str());
            return 1;
        }
        text->push_back('\n');
        if (std::fwrite(text->data(), 1, text->size(), stdout) != text->size() ||
            std::fflush(stdout) != 0) {
            std::fputs("kvjson: cannot write the output\n", stderr);
            return 2;
        }
    }
    return 0;
}
