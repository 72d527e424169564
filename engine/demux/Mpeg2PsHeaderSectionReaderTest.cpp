// The header section reader fed as the parser feeds it: payload pieces and packet ends.
#include "engine/demux/Mpeg2PsHeaderSectionReader.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include "engine/container/Mpeg2PsIndexEntry.h"
#include "engine/container/Mpeg2PsMetadataBlocks.h"

namespace SarvelonMediaKit {
namespace {

typedef std::vector<uint8_t> Bytes;

class SectionRecorder : public Mpeg2PsParserListener {
public:
    std::vector<boost::shared_ptr<MediaTrack>> tracks;
    std::vector<std::pair<uint32_t, Bytes>> thumbnails;
    uint32_t completions = 0;

    Mpeg2PsResult OnNewTrack(const boost::shared_ptr<MediaTrack>& track) override {
        tracks.push_back(track);
        return Mpeg2PsResult::Ok;
    }
    void OnThumbnail(uint32_t chapterIndex, const Bytes& image) override {
        thumbnails.push_back(std::make_pair(chapterIndex, image));
    }
    Mpeg2PsResult MetadataComplete() override {
        ++completions;
        return Mpeg2PsResult::Ok;
    }
};

Bytes IndexEntry(uint32_t duration) {
    Mpeg2PsIndexEntry entry;
    entry.offset = 4096;
    entry.size = 1000;
    entry.duration = duration;
    Bytes bytes;
    EXPECT_TRUE(entry.Write(0, bytes));
    return bytes;
}

const std::vector<Mpeg2PsPsm::EsMapEntry> kNoStreams;

TEST(Mpeg2PsHeaderSectionReaderTest, AnEntryOverTwoPacketsIsOneTrack) {
    SectionRecorder recorder;
    Mpeg2PsHeaderSectionReader reader(recorder);
    reader.CreatePack0Map();
    const Bytes entry = IndexEntry(180000);
    ASSERT_GT(entry.size(), 16u);
    // The first packet holds magic, version and more, but not the whole entry: nothing is read
    // yet.
    reader.HeaderPacketStarts(false, 100);
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.AddIndexBytes(entry.data(), 16));
    EXPECT_TRUE(reader.IsIndexMagicSeen());
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.IndexPacketDone(kNoStreams, 120));
    EXPECT_TRUE(recorder.tracks.empty());
    reader.HeaderPacketStarts(false, 120);
    EXPECT_EQ(Mpeg2PsResult::Ok,
              reader.AddIndexBytes(entry.data() + 16, static_cast<uint32_t>(entry.size() - 16)));
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.IndexPacketDone(kNoStreams, 200));
    ASSERT_EQ(1u, recorder.tracks.size());
    EXPECT_EQ(180000u, recorder.tracks[0]->GetIndex().GetDuration());
    EXPECT_EQ(180000u, reader.GetLongestDuration());
    // Each packet is an item of the pack-0 map.
    const Mpeg2PsHeaderSectionReader::Pack0Map* map = reader.GetPack0Map();
    ASSERT_EQ(2u, map->metadataItems.size());
    EXPECT_EQ(120u, map->metadataItems[0].end);
    EXPECT_EQ(120u, map->metadataItems[1].start);
    EXPECT_EQ(200u, map->metadataItems[1].end);

    // The first media packet completes the index once; later payload is dropped.
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.MediaPacketStarts(300));
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.MediaPacketStarts(400));
    EXPECT_EQ(1u, recorder.completions);
    EXPECT_EQ(300u, map->firstMediaPes);
    EXPECT_EQ(Mpeg2PsResult::Ok,
              reader.AddIndexBytes(entry.data(), static_cast<uint32_t>(entry.size())));
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.IndexPacketDone(kNoStreams, 500));
    EXPECT_EQ(1u, recorder.tracks.size());
}

TEST(Mpeg2PsHeaderSectionReaderTest, RefusesWhatIsTooLargeOrHasNoItem) {
    SectionRecorder recorder;
    Mpeg2PsHeaderSectionReader reader(recorder);
    // An index entry gathered past the limit is dropped.
    const Bytes big(Mpeg2PsHeaderSectionReader::kCollectorLimit, 0x49);
    EXPECT_EQ(Mpeg2PsResult::Ok,
              reader.AddIndexBytes(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_EQ(Mpeg2PsResult::SeekTableNotStored, reader.AddIndexBytes(big.data(), 1));
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.IndexPacketDone(kNoStreams, 0)) << "nothing left to read";

    // A metadata block whose length is above the limit, and the rest of its packet.
    reader.StartMetadataPacket(true);
    const Bytes huge{0x01, 0x00, 0x00, 0x01};
    EXPECT_EQ(Mpeg2PsResult::BadTags, reader.AddMetadataBytes(huge.data(), 4));
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.AddMetadataBytes(huge.data(), 4));

    // With a pack-0 map, a header packet must have started before it ends.
    reader.CreatePack0Map();
    EXPECT_EQ(Mpeg2PsResult::NoMetadataItem, reader.MetadataPacketDone(10));
}

TEST(Mpeg2PsHeaderSectionReaderTest, MetadataBlocksGiveChaptersAndThumbnails) {
    SectionRecorder recorder;
    Mpeg2PsHeaderSectionReader reader(recorder);
    Bytes chapter;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(90000, "One", 5000, 100, chapter));
    Bytes thumbnail;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteThumbnail(0, Bytes{1, 2, 3}, thumbnail));
    // The chapter arrives in two pieces of one packet; the thumbnail in a packet of its own.
    reader.StartMetadataPacket(true);
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.AddMetadataBytes(chapter.data(), 3));
    EXPECT_TRUE(reader.GetChapters().empty());
    EXPECT_EQ(
        Mpeg2PsResult::Ok,
        reader.AddMetadataBytes(chapter.data() + 3, static_cast<uint32_t>(chapter.size() - 3)));
    ASSERT_EQ(1u, reader.GetChapters().size());
    EXPECT_EQ("One", reader.GetChapters()[0].title);
    EXPECT_EQ(90000u, reader.GetChapters()[0].time);
    reader.StartMetadataPacket(true);
    EXPECT_EQ(Mpeg2PsResult::Ok,
              reader.AddMetadataBytes(thumbnail.data(), static_cast<uint32_t>(thumbnail.size())));
    ASSERT_EQ(1u, recorder.thumbnails.size());
    EXPECT_EQ((Bytes{1, 2, 3}), recorder.thumbnails[0].second);
}

TEST(Mpeg2PsHeaderSectionReaderTest, DigestCoversTheEntryBytesAtEachPacketEnd) {
    SectionRecorder recorder;
    Mpeg2PsHeaderSectionReader reader(recorder);
    reader.SetHashEnabled(true);
    const Bytes entry = IndexEntry(180000);
    ASSERT_GT(entry.size(), 16u);
    // An entry over two packets: at the first packet's end its 16 bytes are hashed and the
    // entry waits; at the second's the whole entry is hashed again from its start. A title's
    // manifest carries the digest made this way, so the bytes fed must be exactly these.
    reader.HeaderPacketStarts(false, 100);
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.AddIndexBytes(entry.data(), 16));
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.IndexPacketDone(kNoStreams, 120));
    reader.HeaderPacketStarts(false, 120);
    EXPECT_EQ(Mpeg2PsResult::Ok,
              reader.AddIndexBytes(entry.data() + 16, static_cast<uint32_t>(entry.size() - 16)));
    EXPECT_EQ(Mpeg2PsResult::Ok,
              reader.IndexPacketDone(kNoStreams, 120 + static_cast<uint32_t>(entry.size())));
    ASSERT_EQ(1u, recorder.tracks.size());
    EXPECT_EQ(Mpeg2PsResult::Ok, reader.Complete());

    // The oracle: libcrypto's one-shot SHA-256 over the first 16 bytes followed by the entry.
    Bytes fed(entry.begin(), entry.begin() + 16);
    fed.insert(fed.end(), entry.begin(), entry.end());
    Bytes expected(SHA256_DIGEST_LENGTH);
    SHA256(fed.data(), fed.size(), expected.data());
    EXPECT_EQ(expected, reader.GetIndexDigest());

    // Nothing fed: the SHA-256 of no bytes, e3b0c442...7852b855.
    Mpeg2PsHeaderSectionReader empty(recorder);
    empty.SetHashEnabled(true);
    EXPECT_EQ(Mpeg2PsResult::Ok, empty.Complete());
    ASSERT_EQ(32u, empty.GetIndexDigest().size());
    EXPECT_EQ(0xE3, empty.GetIndexDigest()[0]);
    EXPECT_EQ(0xB0, empty.GetIndexDigest()[1]);
    EXPECT_EQ(0x55, empty.GetIndexDigest()[31]);

    Mpeg2PsHeaderSectionReader plain(recorder);
    EXPECT_EQ(Mpeg2PsResult::Ok, plain.Complete());
    EXPECT_TRUE(plain.GetIndexDigest().empty());
    EXPECT_EQ(3u, recorder.completions);
}

}  // namespace
}  // namespace SarvelonMediaKit
