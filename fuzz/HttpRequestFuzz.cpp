// The request reader and the server's request handling on arbitrary received bytes: the bytes
// parsed as one head, then fed to a server as one receive and again split in two. What the
// server sends is checked as a peer would read it: every head well formed, no body longer than
// its head announced, nothing after the close, and the same bytes whether the input came in one
// receive or two.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SVLibrary/Http/ByteRange.h"
#include "engine/core/MemoryChunk.h"
#include "engine/serve/HTTPRequestReader.h"
#include "engine/serve/HTTPServerInternal.h"

namespace {

using SarvelonMediaKit::ByteAmount;
using SarvelonMediaKit::BytePosition;
using SarvelonMediaKit::HTTPRequestReader;
using SarvelonMediaKit::HTTPServerInternal;
using SarvelonMediaKit::MemoryChunk;

const uint64_t kResourceBytes = 1000;
// Body bytes carry this value, so a body is never taken for a head.
const uint8_t kBodyByte = 0xA5;

void Require(bool condition) {
    if (!condition) abort();
}

// The value of a head's field (names as the server writes them), or npos-marked absence.
bool FieldOf(const std::string& head, const std::string& name, std::string* value) {
    const size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return false;
    const size_t start = at + 4 + name.size();
    *value = head.substr(start, head.find("\r\n", start) - start);
    return true;
}

// A server over a resource of kResourceBytes whose peer takes everything.
class Server : public HTTPServerInternal {
public:
    Server() : HTTPServerInternal(nullptr) {}
    bool KnowEndPosition() override { return true; }
    BytePosition DoEndPosition() override { return BytePosition(kResourceBytes); }
    // Delivers the body the way the session's pulls would, until the response is complete.
    void Pump() {
        for (int pass = 0; pass < 100000 && GetResponseState() == ResponseSending; ++pass) {
            ByteAmount amount(400);
            PrePullData(amount);
            if (amount == 0) break;
            MemoryChunk chunk(amount, 0, 0);
            chunk.SetSize(amount);
            for (uint32_t i = 0; i < amount; ++i) chunk.Data()[i] = kBodyByte;
            Add(chunk);
        }
    }

    std::string wire;  // everything sent, in order
    bool closed = false;

protected:
    bool SendToPeer(const void* bytes, size_t size) override {
        Require(!closed);  // nothing goes out after the close
        const std::string piece(static_cast<const char*>(bytes), size);
        wire += piece;
        if (piece.compare(0, 9, "HTTP/1.1 ") == 0) {
            CheckHead(piece);
        } else {
            // Body bytes, never more than the head announced.
            Require(size <= owed_);
            owed_ -= size;
            for (char c : piece) Require(static_cast<uint8_t>(c) == kBodyByte);
        }
        return true;
    }
    void CloseConnection() override { closed = true; }

private:
    void CheckHead(const std::string& head) {
        // One whole head: CRLF line ends, one blank line at its end.
        Require(head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0);
        Require(head.find("\r\n\r\n") == head.size() - 4);
        for (size_t i = 0; i < head.size(); ++i) {
            if (head[i] == '\n') Require(i > 0 && head[i - 1] == '\r');
        }
        std::string length;
        Require(FieldOf(head, "Content-Length", &length));
        owed_ = std::strtoull(length.c_str(), nullptr, 10);
        const int status = std::atoi(head.c_str() + 9);
        if (status == 200) Require(owed_ == kResourceBytes);
        if (status == 206) {
            // "bytes first-last/size", as long as the length says and within the resource.
            std::string range;
            Require(FieldOf(head, "Content-Range", &range));
            unsigned long long first = 0, last = 0, total = 0;
            Require(std::sscanf(range.c_str(), "bytes %llu-%llu/%llu", &first, &last, &total) == 3);
            Require(first <= last && last < kResourceBytes && total == kResourceBytes);
            Require(owed_ == last - first + 1);
        }
        if (status != 200 && status != 206) Require(owed_ == 0);
    }

    uint64_t owed_ = 0;
};

MemoryChunk Chunk(const uint8_t* data, size_t size) {
    return MemoryChunk::CopyOf(data, static_cast<uint32_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const size_t end = HTTPRequestReader::FindHeadEnd(text, size);
    Require(end <= size);
    HTTPRequestReader reader;
    if (reader.Parse(text, end != 0 ? end : size)) {
        uint64_t length = 0;
        const std::string value = reader.GetHeader("Range");
        for (const SV::ByteRange::Syntax syntax :
             {SV::ByteRange::Syntax::Lenient, SV::ByteRange::Syntax::Exact}) {
            const SV::ByteRange range = SV::ByteRange::Resolve(value, 1000, syntax);
            if (range.GetKind() == SV::ByteRange::Kind::Satisfiable) {
                Require(range.First() <= range.Last() && range.Last() < 1000);
            }
            // Nothing is satisfiable in an empty resource.
            Require(SV::ByteRange::Resolve(value, 0, syntax).GetKind() !=
                    SV::ByteRange::Kind::Satisfiable);
            SV::ByteRange::IsWholeFromStart(value, syntax);
        }
        reader.GetContentLength(&length);
        reader.HeaderHasToken("Connection", "close");
    }

    Server whole;
    whole.HandleRequestData(Chunk(data, size));
    whole.Pump();

    // The same bytes in two receives, split where the first byte says.
    Server split;
    const size_t cut = size == 0 ? 0 : data[0] % size;
    split.HandleRequestData(Chunk(data, cut));
    split.Pump();
    split.HandleRequestData(Chunk(data + cut, size - cut));
    split.Pump();

    // Below the caps on what may wait, how the bytes were cut changes nothing.
    if (size < HTTPServerInternal::kMaxHeadBytes) {
        Require(whole.wire == split.wire);
        Require(whole.closed == split.closed);
    }
    return 0;
}
