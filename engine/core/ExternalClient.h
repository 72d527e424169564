#ifndef ENGINE_CORE_EXTERNALCLIENT_H
#define ENGINE_CORE_EXTERNALCLIENT_H

#include <boost/shared_ptr.hpp>

#include "engine/core/Component.h"

namespace SarvelonMediaKit {

// A source stage whose bytes come from an outside provider instead of a network or a file.
// Without a provider it is inert: it delivers nothing, holds nothing and ends at 0.
class ExternalClient : public Component {
public:
    // What an embedder attaches to feed the client. Called on the session's task thread.
    class Provider {
    public:
        virtual ~Provider() {}
        // Bytes it can deliver now.
        virtual ByteAmount AvailableBytes() = 0;
        // Bytes it holds ready.
        virtual ByteAmount BufferedBytes() = 0;
        // Writes its next bytes into the chunk's payload, which is as large as was asked for.
        virtual void Fill(const MemoryChunk& chunk) = 0;
        virtual void Seek(BytePosition start, BytePosition second) = 0;
        // File position of the next byte it delivers.
        virtual BytePosition CurrentPosition() = 0;
        virtual BytePosition EndPosition() = 0;
        // True once all its bytes have been delivered.
        virtual bool AtEnd() = 0;
        // The client is going away.
        virtual void Detach() = 0;
    };

    explicit ExternalClient(Session* session);
    ~ExternalClient() override;

    // Attaches (or, with an empty pointer, removes) the provider. A provider that is replaced
    // is detached first.
    void SetProvider(const boost::shared_ptr<Provider>& provider);

    using Component::DoSeek;

    // Fills one chunk of at most amount bytes (and no more than the provider has) and hands it
    // on; once the provider is at end, an end-of-stream marker follows every pull.
    void DoPullData(ByteAmount& amount) override;
    ByteAmount DoGetBufferedBytes() override;
    std::string GetTypeName() const override;
    // Drops the queued data tasks of this stack, then moves the provider.
    void DoSeek(BytePosition start, BytePosition second, bool flag) override;
    bool KnowEndPosition() override;
    BytePosition DoEndPosition() override;
    // File position of the next byte to be read; 0 without a provider.
    virtual BytePosition CurrentPosition();

private:
    boost::shared_ptr<Provider> provider_;
};

}  // namespace SarvelonMediaKit

#endif
