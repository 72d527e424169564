#include "engine/demux/MultiFileMpeg2PsDemux.h"

namespace SarvelonMediaKit {

MultiFileMpeg2PsDemux::MultiFileMpeg2PsDemux(Session* session)
    : Mpeg2PsDemux(session), hashEnabled_(false) {}

MultiFileMpeg2PsDemux::~MultiFileMpeg2PsDemux() {}

void MultiFileMpeg2PsDemux::DoLinked(bool firstTime) {
    Mpeg2PsDemux::DoLinked(firstTime);
    // A parser made anew starts without the digest; switching it on again keeps a running one.
    if (hashEnabled_) GetParser().GetHeaderSection().SetHashEnabled(true);
}

void MultiFileMpeg2PsDemux::SetHashEnabled(bool enabled) {
    hashEnabled_ = enabled;
    GetParser().GetHeaderSection().SetHashEnabled(enabled);
}

std::vector<uint8_t> MultiFileMpeg2PsDemux::GetIndexDigest() const {
    return GetParser().GetHeaderSection().GetIndexDigest();
}

boost::shared_ptr<MultiFileMpeg2PsDemux> CreateMultiFileMpeg2PsDemux(Session* session,
                                                                     MultiFileMpeg2PsDemux** raw) {
    boost::shared_ptr<MultiFileMpeg2PsDemux> demux(new MultiFileMpeg2PsDemux(session));
    if (raw != nullptr) *raw = demux.get();
    return demux;
}

}  // namespace SarvelonMediaKit
