#ifndef TESTS_SUPPORT_MUXTESTSUPPORT_H
#define TESTS_SUPPORT_MUXTESTSUPPORT_H

// Helpers shared by the multiplexer tests of this folder (included by *Test.cpp only).

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {
namespace test {

// The output end of a test chain: keeps a copy of every data chunk and every marker that
// reaches it, in order.
class RecordingSink : public Component {
public:
    struct Entry {
        bool isMarker = false;
        uint32_t markerType = 0;
        uint64_t gopTime = 0;  // the value of a group-of-pictures marker
        std::vector<uint8_t> bytes;
    };

    RecordingSink() : Component(nullptr) {}
    std::string GetTypeName() const override { return "RecordingSink"; }
    void DoAdd(const MemoryChunk& chunk) override {
        Entry entry;
        entry.bytes.assign(chunk.Data(0), chunk.Data(0) + chunk.Size());
        entries.push_back(entry);
    }
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        Entry entry;
        entry.isMarker = true;
        entry.markerType = marker->GetType();
        if (const MemoryMarkerGopStart* gop =
                dynamic_cast<const MemoryMarkerGopStart*>(marker.get())) {
            entry.gopTime = gop->GetValue();
        }
        entries.push_back(entry);
        return false;  // the end of the chain
    }
    ByteAmount DoGetBytesWanted() override { return ByteAmount(0xFFFFFFFFu); }

    // All data bytes in order.
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> all;
        for (size_t i = 0; i < entries.size(); ++i) {
            all.insert(all.end(), entries[i].bytes.begin(), entries[i].bytes.end());
        }
        return all;
    }

    std::vector<Entry> entries;
};

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
