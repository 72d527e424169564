#include "engine/samples/SampleStream.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/MemoryTracker.h"

namespace SarvelonMediaKit {
namespace {

boost::shared_ptr<MemoryTracker> Tracker() {
    return boost::make_shared<MemoryTracker>(boost::weak_ptr<Session>(), ByteAmount(1 << 20));
}

class FakeOwner : public SampleStreamOwner {
public:
    boost::shared_ptr<MemoryTracker> GetMemoryTracker() const override { return tracker; }
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override {
        ++asked;
        if (kind != StreamInfoKindAudioSpecificConfig) return false;
        *data = config;
        *size = sizeof config;
        return true;
    }

    boost::shared_ptr<MemoryTracker> tracker = Tracker();
    uint8_t config[2] = {0x12, 0x10};
    int asked = 0;
};

// Records every sample it sees in a shared log and passes it on, holding back the first
// `hold` samples (as the merge filter does) until Reset drops them.
class RecordingFilter : public SampleFilter {
public:
    RecordingFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t output,
                    std::vector<std::string>* log, const std::string& name, int hold = 0)
        : SampleFilter(stream, stream->GetCurrentFormat(), output),
          log_(log),
          name_(name),
          hold_(hold) {}

    void DoReceiveSample(Sample& sample) override {
        log_->push_back(name_);
        if (held_ < hold_) {
            ++held_;
            return;
        }
        SendSampleDownstream(sample);
    }
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override {
        if (kind != StreamInfoKindAvcDecoderConfigurationRecord || name_ == "silent") return false;
        *data = reinterpret_cast<const uint8_t*>(name_.data());
        *size = static_cast<uint32_t>(name_.size());
        return true;
    }
    void Reset() override {
        log_->push_back(name_ + " reset");
        held_ = 0;
    }

private:
    std::vector<std::string>* log_;
    std::string name_;
    int hold_;
    int held_ = 0;
};

class RecordingReceiver : public SampleReceiver {
public:
    explicit RecordingReceiver(std::vector<std::string>* log) : log_(log) {}
    void DoReceiveSample(Sample& sample) override {
        log_->push_back("output");
        SendSampleDownstream(sample);
    }

private:
    std::vector<std::string>* log_;
};

Sample DataSample(uint32_t size, uint64_t decodeTime) {
    Sample sample(0, 0, size);
    sample.SetDecodeTime(MediaTime(decodeTime));
    return sample;
}

boost::shared_ptr<MemoryMarker> Marker() { return boost::make_shared<MemoryMarkerEndOfStream>(); }

TEST(Sample, AFreshSampleBelongsToNoStream) {
    Sample sample(7, 0, 10);
    EXPECT_EQ(0u, sample.GetType());
    EXPECT_EQ(0u, sample.GetFormat());
    EXPECT_EQ(kInvalidStreamReference, sample.GetStreamRef());
    EXPECT_FALSE(sample.IsKeyFrame());
    EXPECT_EQ(10u, sample.GetPayload().Size());
    EXPECT_TRUE(sample.GetPayload().Begin()->Reserve(7));  // headroom in front of the bytes
    EXPECT_TRUE(Sample(0, 0, 0).GetPayload().GetChunks().empty());
    EXPECT_FALSE(sample.GetMemoryMarker());
}

TEST(Sample, OnlyAMarkerSampleGivesItsMarker) {
    const boost::shared_ptr<MemoryMarker> marker = Marker();
    Sample sample(2, SampleFormatMarker, StreamReference(5), 0, 0, 0);
    EXPECT_FALSE(sample.GetMemoryMarker());
    sample.GetPayload().GetChunks().push_back(MemoryChunk(marker));
    EXPECT_EQ(marker, sample.GetMemoryMarker());
    sample.SetFormat(SampleFormatH264AnnexB);
    EXPECT_FALSE(sample.GetMemoryMarker());
}

TEST(SampleStream, ASampleWithoutFiltersIsQueuedStampedAndCounted) {
    FakeOwner owner;
    SampleStream stream(&owner, StreamReference(0xE0), SampleMediaTypeVideo,
                        SampleFormatH264AnnexB);
    stream.SetHeadroom(7);
    Sample sample = stream.MakeSample(100);
    EXPECT_EQ(SampleFormatH264AnnexB, sample.GetFormat());
    EXPECT_TRUE(sample.GetPayload().Begin()->Reserve(7));
    sample.GetPayload().Begin()->Advance(7);

    stream.PushSample(sample);  // not connected yet: dropped
    EXPECT_TRUE(stream.IsEmpty());

    stream.SetConnected(true);
    Sample other(0, 0, 40);
    stream.PushSample(other);
    ASSERT_EQ(1u, stream.GetQueueSize());
    EXPECT_EQ(0xE0u, stream.Front().GetStreamRef());
    EXPECT_EQ(SampleMediaTypeVideo, stream.Front().GetType());
    EXPECT_EQ(40u, stream.GetBytesHeld());
    EXPECT_EQ(40u, owner.tracker->BytesUsed());
    stream.PopFront();
    EXPECT_EQ(0u, stream.GetBytesHeld());
    EXPECT_EQ(0u, owner.tracker->BytesUsed());
}

TEST(SampleStream, MarkersCountAsOneByteAndPassHeldSamples) {
    std::vector<std::string> log;
    auto stream = boost::make_shared<SampleStream>(nullptr, StreamReference(0xC0),
                                                   SampleMediaTypeAudio, SampleFormatAacAdts);
    stream->SetConnected(true);
    EXPECT_EQ(0u, stream->GetBytesHeld());
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "merge", 1));

    Sample held = DataSample(30, 1000);
    stream->PushSample(held);  // the filter keeps it
    stream->SendMemoryMarker(Marker());
    ASSERT_EQ(1u, stream->GetQueueSize());
    EXPECT_TRUE(stream->Front().GetMemoryMarker());
    EXPECT_EQ(SampleFormatMarker, stream->Front().GetFormat());
    EXPECT_EQ(1u, stream->GetBytesHeld());

    Sample next = DataSample(20, 2000);
    stream->PushSample(next);
    EXPECT_EQ(20u, stream->GetBytesHeld());
    stream->PopFront();  // the marker
    EXPECT_EQ(20u, stream->GetBytesHeld());
    EXPECT_EQ(std::vector<std::string>({"merge", "merge"}), log);

    // A marker pushed by the demultiplexer skips the filters as well.
    Sample marker(0, SampleFormatMarker, StreamReference(0), 0, 0, 0);
    marker.GetPayload().GetChunks().push_back(MemoryChunk(Marker()));
    stream->PushSample(marker);
    EXPECT_EQ(2u, stream->GetQueueSize());
    EXPECT_EQ(2u, log.size());
}

TEST(SampleStream, TheRingRunsFiltersInOrderAndTheOutputLast) {
    std::vector<std::string> log;
    auto stream = boost::make_shared<SampleStream>(nullptr, StreamReference(0xE0),
                                                   SampleMediaTypeVideo, SampleFormatH264Length);
    RecordingReceiver output(&log);
    stream->SetOutput(&output);  // linked before any filter: stays last
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "first"));
    EXPECT_EQ(SampleFormatH264Length, stream->GetCurrentFormat());
    stream->AddFilter(
        boost::make_shared<RecordingFilter>(stream, SampleFormatH264AnnexB, &log, "second"));
    EXPECT_EQ(SampleFormatH264AnnexB, stream->GetCurrentFormat());
    stream->SetConnected(true);

    Sample sample = DataSample(5, 0);
    stream->PushSample(sample);
    EXPECT_EQ(std::vector<std::string>({"first", "second", "output"}), log);
    EXPECT_EQ(1u, stream->GetQueueSize());
}

TEST(SampleStream, StreamInfoAsksTheLastFilterFirstThenTheOwner) {
    FakeOwner owner;
    std::vector<std::string> log;
    auto stream = boost::make_shared<SampleStream>(&owner, StreamReference(0xE0),
                                                   SampleMediaTypeVideo, SampleFormatH264Length);
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "first"));
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "second"));
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "silent"));

    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(stream->GetStreamInfo(StreamInfoKindAvcDecoderConfigurationRecord, &data, &size));
    EXPECT_EQ("second", std::string(reinterpret_cast<const char*>(data), size));
    EXPECT_EQ(0, owner.asked);

    ASSERT_TRUE(stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
    EXPECT_EQ(owner.config, data);
    EXPECT_EQ(2u, size);

    data = nullptr;
    size = 99;
    EXPECT_FALSE(stream->GetStreamInfo(StreamInfoKindEsDescriptor, &data, &size));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(99u, size);
    uint64_t value = 0;
    EXPECT_FALSE(stream->GetStreamValue(1, &value));
}

TEST(SampleStream, FlushEmptiesTheQueueAndResetsEveryFilter) {
    std::vector<std::string> log;
    auto stream = boost::make_shared<SampleStream>(nullptr, StreamReference(0xC0),
                                                   SampleMediaTypeAudio, SampleFormatAacAdts);
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "a", 1));
    stream->AddFilter(boost::make_shared<RecordingFilter>(stream, 0, &log, "b"));
    stream->SetConnected(true);
    Sample first = DataSample(10, 0);
    Sample second = DataSample(10, 0);
    stream->PushSample(first);  // held by "a"
    stream->PushSample(second);
    EXPECT_EQ(10u, stream->GetBytesHeld());

    log.clear();
    stream->Flush();
    EXPECT_TRUE(stream->IsEmpty());
    EXPECT_EQ(0u, stream->GetBytesHeld());
    EXPECT_EQ(std::vector<std::string>({"a reset", "b reset"}), log);
    // "a" holds again after its reset: its pending sample was dropped.
    Sample third = DataSample(10, 0);
    stream->PushSample(third);
    EXPECT_TRUE(stream->IsEmpty());
}

TEST(SampleStream, HeadroomAndTailroomReachEveryFilter) {
    std::vector<std::string> log;
    auto stream = boost::make_shared<SampleStream>(nullptr, StreamReference(1),
                                                   SampleMediaTypeAudio, SampleFormatAacRaw);
    stream->SetHeadroom(3);
    auto filter = boost::make_shared<RecordingFilter>(stream, SampleFormatAacAdts, &log, "f");
    stream->AddFilter(filter);
    EXPECT_EQ(3u, filter->GetHeadroom());
    stream->SetHeadroom(7);
    stream->SetTailroom(2);
    EXPECT_EQ(7u, filter->GetHeadroom());
    EXPECT_EQ(2u, filter->GetTailroom());
    Sample made = filter->MakeSample(4);
    EXPECT_EQ(SampleFormatAacAdts, made.GetFormat());
    EXPECT_EQ(kInvalidStreamReference, made.GetStreamRef());
    EXPECT_TRUE(made.GetPayload().Begin()->Reserve(7));
}

TEST(SampleStream, BufferedDurationSpansTheQueueAndNeverGoesNegative) {
    SampleStream stream(nullptr, StreamReference(0xE0), SampleMediaTypeVideo,
                        SampleFormatH264AnnexB);
    stream.SetConnected(true);
    EXPECT_EQ(0u, stream.GetBufferedDuration());
    Sample a = DataSample(1, 40000);
    stream.PushSample(a);
    EXPECT_EQ(0u, stream.GetBufferedDuration());
    Sample b = DataSample(1, 120000);
    stream.PushSample(b);
    EXPECT_EQ(80000u, stream.GetBufferedDuration());
    // A marker sample carries no time: at the back it must not wrap the duration around.
    stream.SendMemoryMarker(Marker());
    EXPECT_EQ(0u, stream.GetBufferedDuration());
}

TEST(SampleStream, PopFrontTakesOffWhatWasCountedEvenWhenThePayloadChanged) {
    SampleStream stream(nullptr, StreamReference(0xE0), SampleMediaTypeVideo,
                        SampleFormatH264AnnexB);
    stream.SetConnected(true);
    Sample a(16, 0, 100);
    Sample b(0, 0, 50);
    stream.PushSample(a);
    stream.PushSample(b);
    EXPECT_EQ(150u, stream.GetBytesHeld());
    // A multiplexer writes a header into the headroom of the queued sample's chunk.
    stream.Front().GetPayload().Begin()->Reserve(16);
    stream.PopFront();
    EXPECT_EQ(50u, stream.GetBytesHeld());
    stream.PopFront();
    EXPECT_EQ(0u, stream.GetBytesHeld());
}

TEST(SampleStream, StreamAndFiltersDoNotKeepEachOtherAlive) {
    std::vector<std::string> log;
    boost::weak_ptr<SampleStream> weakStream;
    boost::weak_ptr<SampleFilter> weakFilter;
    {
        auto stream = boost::make_shared<SampleStream>(nullptr, StreamReference(1),
                                                       SampleMediaTypeAudio, SampleFormatAacRaw);
        auto filter = boost::make_shared<RecordingFilter>(stream, 0, &log, "f");
        stream->AddFilter(filter);
        weakStream = stream;
        weakFilter = filter;
        EXPECT_EQ(stream, filter->GetStream());
    }
    EXPECT_TRUE(weakStream.expired());
    EXPECT_TRUE(weakFilter.expired());
}

TEST(SampleStream, TheTrackerMaySumWhileTheStreamWorks) {
    FakeOwner owner;
    std::atomic<bool> stop(false);
    std::thread summer([&] {
        while (!stop.load()) {
            owner.tracker->BytesUsed();
        }
    });
    for (int round = 0; round < 50; ++round) {
        SampleStream stream(&owner, StreamReference(1), SampleMediaTypeAudio, SampleFormatAacAdts);
        stream.SetConnected(true);
        for (int i = 0; i < 20; ++i) {
            stream.PushSample(DataSample(10, i));
        }
        stream.PopFront();
    }
    stop = true;
    summer.join();
    EXPECT_EQ(0u, owner.tracker->BytesUsed());
}

}  // namespace
}  // namespace SarvelonMediaKit
