#ifndef ENGINE_CONTAINER_TRACKINFOKEYS_H
#define ENGINE_CONTAINER_TRACKINFOKEYS_H

namespace SarvelonMediaKit {

// The names of a track's properties in its info dictionary, with the kind of value each holds.
// They are read outside the engine (the public track query), so names and kinds are fixed.
inline constexpr char TrackInfoKey_Id[] = "TrackInfoKey_Id";                        // u32
inline constexpr char TrackInfoKey_Source[] = "TrackInfoKey_Source";                // string
inline constexpr char TrackInfoKey_TimingOffset[] = "TrackInfoKey_TimingOffset";    // float s
inline constexpr char TrackInfoKey_BitRate[] = "TrackInfoKey_BitRate";              // u32 bit/s
inline constexpr char TrackInfoKey_TrickPlayRate[] = "TrackInfoKey_TrickPlayRate";  // s32
inline constexpr char TrackInfoKey_Offset[] = "TrackInfoKey_Offset";                // u64 bytes
inline constexpr char TrackInfoKey_Size[] = "TrackInfoKey_Size";                    // u64 bytes
inline constexpr char TrackInfoKey_Duration[] = "TrackInfoKey_Duration";            // u64 us
inline constexpr char TrackInfoKey_Version[] = "TrackInfoKey_Version";              // u32
inline constexpr char TrackInfoKey_Flags[] = "TrackInfoKey_Flags";                  // u32
inline constexpr char TrackInfoKey_AdaptationInterval[] =
    "TrackInfoKey_AdaptationInterval";                                                    // float s
inline constexpr char TrackInfoKey_VideoFormat[] = "TrackInfoKey_VideoFormat";            // u32
inline constexpr char TrackInfoKey_VideoProfile[] = "TrackInfoKey_VideoProfile";          // u32
inline constexpr char TrackInfoKey_VideoLevel[] = "TrackInfoKey_VideoLevel";              // u32
inline constexpr char TrackInfoKey_VideoWidth[] = "TrackInfoKey_VideoWidth";              // u32
inline constexpr char TrackInfoKey_VideoHeight[] = "TrackInfoKey_VideoHeight";            // u32
inline constexpr char TrackInfoKey_VideoPixelWidth[] = "TrackInfoKey_VideoPixelWidth";    // u32
inline constexpr char TrackInfoKey_VideoPixelHeight[] = "TrackInfoKey_VideoPixelHeight";  // u32
inline constexpr char TrackInfoKey_VideoFrameRate[] = "TrackInfoKey_VideoFrameRate";      // float
inline constexpr char TrackInfoKey_VideoBitRate[] = "TrackInfoKey_VideoBitRate";          // u32
inline constexpr char TrackInfoKey_VideoMpegStreamId[] = "TrackInfoKey_VideoMpegStreamId";  // u32
inline constexpr char TrackInfoKey_VideoMpegStreamType[] =
    "TrackInfoKey_VideoMpegStreamType";  // u32
inline constexpr char TrackInfoKey_AVCDecoderConfigurationRecord[] =
    "TrackInfoKey_AVCDecoderConfigurationRecord";                                         // data
inline constexpr char TrackInfoKey_AudioFormat[] = "TrackInfoKey_AudioFormat";            // u32
inline constexpr char TrackInfoKey_AudioProfile[] = "TrackInfoKey_AudioProfile";          // u32
inline constexpr char TrackInfoKey_AudioNumChannels[] = "TrackInfoKey_AudioNumChannels";  // u32
inline constexpr char TrackInfoKey_AudioSampleFrequency[] =
    "TrackInfoKey_AudioSampleFrequency";                                                // u32 Hz
inline constexpr char TrackInfoKey_AudioSampleSize[] = "TrackInfoKey_AudioSampleSize";  // u32
inline constexpr char TrackInfoKey_AudioBitRate[] = "TrackInfoKey_AudioBitRate";        // u32
inline constexpr char TrackInfoKey_AudioMpegStreamId[] = "TrackInfoKey_AudioMpegStreamId";  // u32
inline constexpr char TrackInfoKey_AudioMpegStreamType[] =
    "TrackInfoKey_AudioMpegStreamType";                                                     // u32
inline constexpr char TrackInfoKey_AudioEsDescriptor[] = "TrackInfoKey_AudioEsDescriptor";  // data
inline constexpr char TrackInfoKey_AudioEC3SpecificData[] =
    "TrackInfoKey_AudioEC3SpecificData";                                                // data
inline constexpr char TrackInfoKey_AudioIdentifier[] = "TrackInfoKey_AudioIdentifier";  // string
inline constexpr char TrackInfoKey_SubtitleFormat[] = "TrackInfoKey_SubtitleFormat";    // u32
inline constexpr char TrackInfoKey_SubtitleIdentifier[] =
    "TrackInfoKey_SubtitleIdentifier";  // string

}  // namespace SarvelonMediaKit

#endif
