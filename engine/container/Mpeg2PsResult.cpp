#include "engine/container/Mpeg2PsResult.h"

namespace SarvelonMediaKit {

const char* Mpeg2PsResultText(Mpeg2PsResult result) {
    switch (result) {
        case Mpeg2PsResult::Ok: return "ok";
        case Mpeg2PsResult::NoPackFirst: return "data before the first pack";
        case Mpeg2PsResult::BadStreamMap: return "bad program stream map";
        case Mpeg2PsResult::BadMagic: return "bad index entry magic";
        case Mpeg2PsResult::EntryTooShort: return "index entry too short";
        case Mpeg2PsResult::UnknownVersion: return "unknown index entry version";
        case Mpeg2PsResult::EntryIncomplete: return "index entry incomplete";
        case Mpeg2PsResult::ProgramEnd: return "program end";
        case Mpeg2PsResult::SeekTableNotStored: return "seek table cannot be stored";
        case Mpeg2PsResult::UnsupportedAudio: return "unsupported audio for trick play";
        case Mpeg2PsResult::BadTags: return "bad tags or metadata block";
        case Mpeg2PsResult::NoMetadataItem: return "header record outside the first pack";
        case Mpeg2PsResult::SeekTableTooLong: return "seek table longer than its entry";
        case Mpeg2PsResult::NoSelectedTrack: return "trick play without a track";
        case Mpeg2PsResult::DigestFailed: return "index digest failed";
    }
    return "error";
}

}  // namespace SarvelonMediaKit
