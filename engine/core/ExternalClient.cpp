#include "engine/core/ExternalClient.h"

#include <boost/make_shared.hpp>

#include "engine/core/Session.h"

namespace SarvelonMediaKit {

namespace {

// Category of the tasks that carry a source's data; a seek drops the ones still queued.
const uint32_t kDataTaskCategory = 1;

}  // namespace

ExternalClient::ExternalClient(Session* session) : Component(session) {}

ExternalClient::~ExternalClient() {
    if (provider_) {
        provider_->Detach();
    }
    provider_.reset();
}

void ExternalClient::SetProvider(const boost::shared_ptr<Provider>& provider) {
    if (provider_ && provider_ != provider) {
        provider_->Detach();
    }
    provider_ = provider;
}

void ExternalClient::DoPullData(ByteAmount& amount) {
    boost::shared_ptr<Provider> provider = provider_;
    if (!provider) {
        return;
    }
    if (boost::shared_ptr<Component> consumer = GetConsumer()) {
        const ByteAmount available = provider->AvailableBytes();
        if (available < amount) {
            amount = available;
        }
        MemoryChunk chunk = CreateMemoryChunk(amount, 0, 0);
        provider->Fill(chunk);
        consumer->Add(chunk);
    }
    if (provider->AtEnd()) {
        DoSend(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    }
}

ByteAmount ExternalClient::DoGetBufferedBytes() {
    return provider_ ? provider_->BufferedBytes() : ByteAmount(0);
}

std::string ExternalClient::GetTypeName() const { return "SarvelonMediaKit::FunctorClient"; }

void ExternalClient::DoSeek(BytePosition start, BytePosition second, bool) {
    boost::shared_ptr<Provider> provider = provider_;
    if (!provider) {
        return;
    }
    if (session_) {
        session_->RemoveTasks(kDataTaskCategory, stackId_);
    }
    provider->Seek(start, second);
}

bool ExternalClient::KnowEndPosition() { return true; }

BytePosition ExternalClient::DoEndPosition() {
    return provider_ ? provider_->EndPosition() : BytePosition(0);
}

BytePosition ExternalClient::CurrentPosition() {
    return provider_ ? provider_->CurrentPosition() : BytePosition(0);
}

}  // namespace SarvelonMediaKit
