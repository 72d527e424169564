#ifndef TESTS_SUPPORT_RECORDINGSINK_H
#define TESTS_SUPPORT_RECORDINGSINK_H

// Header-only (tests of every folder from engine/core up use it): the output end of a test
// chain.

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"

namespace SvTestSupport {

// The output end of a test chain: keeps a copy of every data chunk and every marker that
// reaches it, in order, and stops the markers there. It wants the bytes given at construction
// (all it can take by default). Out-of-band chunks are refused, as a stage without a use for
// them does, until TakeOutOfBand(true); taken ones are kept apart from the data.
// Used on one thread at a time.
class RecordingSink : public SarvelonMediaKit::Component {
public:
    struct Entry {
        bool isMarker = false;
        uint32_t markerType = 0;
        uint64_t gopTime = 0;  // the value of a group-of-pictures marker
        std::vector<uint8_t> bytes;
    };

    explicit RecordingSink(uint32_t wanted = 0xFFFFFFFFu,
                           SarvelonMediaKit::Session* session = nullptr)
        : Component(session), wanted_(wanted) {}

    std::string GetTypeName() const override { return "RecordingSink"; }
    SarvelonMediaKit::ByteAmount DoGetBytesWanted() override {
        return SarvelonMediaKit::ByteAmount(wanted_);
    }
    void DoAdd(const SarvelonMediaKit::MemoryChunk& chunk) override {
        Entry entry;
        entry.bytes.assign(chunk.Data(0), chunk.Data(0) + chunk.Size());
        entries.push_back(std::move(entry));
    }
    bool DoProcessMemoryMarker(
        const boost::shared_ptr<SarvelonMediaKit::MemoryMarker>& marker) override {
        Entry entry;
        entry.isMarker = true;
        entry.markerType = marker->GetType();
        if (const SarvelonMediaKit::MemoryMarkerGopStart* gop =
                dynamic_cast<const SarvelonMediaKit::MemoryMarkerGopStart*>(marker.get())) {
            entry.gopTime = gop->GetValue();
        }
        entries.push_back(std::move(entry));
        return false;  // the end of the chain
    }
    bool DoOutOfBandData(const SarvelonMediaKit::MemoryChunk& chunk) override {
        if (!takeOutOfBand_) return false;
        outOfBand.push_back(std::vector<uint8_t>(chunk.Data(0), chunk.Data(0) + chunk.Size()));
        return true;
    }

    void TakeOutOfBand(bool take) { takeOutOfBand_ = take; }

    // All data bytes in order.
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> all;
        for (const Entry& entry : entries) {
            all.insert(all.end(), entry.bytes.begin(), entry.bytes.end());
        }
        return all;
    }
    // The size of each data chunk in order.
    std::vector<uint32_t> ChunkSizes() const {
        std::vector<uint32_t> sizes;
        for (const Entry& entry : entries) {
            if (!entry.isMarker) sizes.push_back(static_cast<uint32_t>(entry.bytes.size()));
        }
        return sizes;
    }
    std::vector<uint32_t> MarkerTypes() const {
        std::vector<uint32_t> types;
        for (const Entry& entry : entries) {
            if (entry.isMarker) types.push_back(entry.markerType);
        }
        return types;
    }
    size_t CountMarkers(uint32_t type) const {
        size_t n = 0;
        for (const Entry& entry : entries) n += entry.isMarker && entry.markerType == type;
        return n;
    }
    // One word per entry in order: "D<size>" for data, "M<type>" for a marker.
    std::vector<std::string> Trace() const {
        std::vector<std::string> words;
        for (const Entry& entry : entries) {
            words.push_back(entry.isMarker ? "M" + std::to_string(entry.markerType)
                                           : "D" + std::to_string(entry.bytes.size()));
        }
        return words;
    }
    // For a chain whose only marker is its end: empty when every marker is of the type and no
    // data came after one, otherwise the first entry that breaks this.
    std::string CheckEndedBy(uint32_t type) const {
        bool ended = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& entry = entries[i];
            if (entry.isMarker && entry.markerType != type) {
                return "entry " + std::to_string(i) + ": marker of type " +
                       std::to_string(entry.markerType) + " where only " + std::to_string(type) +
                       " may come";
            }
            if (!entry.isMarker && ended) {
                return "entry " + std::to_string(i) + ": " + std::to_string(entry.bytes.size()) +
                       " bytes of data after the end marker";
            }
            ended = ended || entry.isMarker;
        }
        return std::string();
    }
    void Clear() {
        entries.clear();
        outOfBand.clear();
    }

    std::vector<Entry> entries;
    std::vector<std::vector<uint8_t>> outOfBand;

private:
    uint32_t wanted_;
    bool takeOutOfBand_ = false;
};

}  // namespace SvTestSupport

#endif
