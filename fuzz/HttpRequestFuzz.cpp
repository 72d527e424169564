// The request reader and the server's request handling on arbitrary received bytes: the bytes
// parsed as one head, then fed to a server as one receive and again split in two.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/MemoryChunk.h"
#include "engine/serve/HTTPRequestReader.h"
#include "engine/serve/HTTPServerInternal.h"

namespace {

using SarvelonMediaKit::ByteAmount;
using SarvelonMediaKit::BytePosition;
using SarvelonMediaKit::HTTPRequestReader;
using SarvelonMediaKit::HTTPServerInternal;
using SarvelonMediaKit::MemoryChunk;

// A server over a resource of 1000 bytes whose peer takes everything.
class Server : public HTTPServerInternal {
public:
    Server() : HTTPServerInternal(nullptr) {}
    bool KnowEndPosition() override { return true; }
    BytePosition DoEndPosition() override { return BytePosition(1000); }
    // Delivers the body the way the session's pulls would.
    void Pump() {
        for (int pass = 0; pass < 8 && GetResponseState() == ResponseSending; ++pass) {
            ByteAmount amount(400);
            PrePullData(amount);
            if (amount == 0) break;
            MemoryChunk chunk(amount, 0, 0);
            chunk.SetSize(amount);
            Add(chunk);
        }
    }
    size_t sent = 0;
    bool closed = false;

protected:
    bool SendToPeer(const void*, size_t size) override {
        if (closed) return false;
        sent += size;
        return true;
    }
    void CloseConnection() override { closed = true; }
};

MemoryChunk Chunk(const uint8_t* data, size_t size) {
    return MemoryChunk::CopyOf(data, static_cast<uint32_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const size_t end = HTTPRequestReader::FindHeadEnd(text, size);
    HTTPRequestReader reader;
    if (reader.Parse(text, end != 0 ? end : size)) {
        uint64_t first = 0, last = 0, length = 0;
        HTTPRequestReader::ResolveRange(reader.GetHeader("Range"), 1000, &first, &last);
        HTTPRequestReader::ResolveRange(reader.GetHeader("Range"), 0, &first, &last);
        HTTPRequestReader::IsWholeFromStart(reader.GetHeader("Range"));
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
    for (int i = 0; i < 4; ++i) split.Pump();
    return 0;
}
