// The fourth byte of MPEG start codes (00 00 01 xx): the stream_id values of
// program streams and PES packets (ISO/IEC 13818-1) and the start codes of
// MPEG-1/2 video (ISO/IEC 11172-2, 13818-2).
#pragma once

#include <cstdint>

namespace MpegCommon {

// ---- program stream and PES stream_id ----
constexpr uint8_t kProgramEndCode = 0xB9;
constexpr uint8_t kPackStartCode = 0xBA;
constexpr uint8_t kSystemHeaderCode = 0xBB;
constexpr uint8_t kStreamIdPsm = 0xBC;  // program_stream_map, the lowest PES stream_id
constexpr uint8_t kStreamIdPrivate1 = 0xBD;
constexpr uint8_t kStreamIdPadding = 0xBE;
constexpr uint8_t kStreamIdPrivate2 = 0xBF;
constexpr uint8_t kStreamIdAudioFirst = 0xC0;
constexpr uint8_t kStreamIdAudioLast = 0xDF;
constexpr uint8_t kStreamIdVideoFirst = 0xE0;
constexpr uint8_t kStreamIdVideoLast = 0xEF;
constexpr uint8_t kStreamIdExtended = 0xFD;
constexpr uint8_t kStreamIdDirectory = 0xFF;  // program_stream_directory

// ---- video start codes ----
constexpr uint8_t kPictureStartCode = 0x00;
constexpr uint8_t kUserDataStartCode = 0xB2;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
constexpr uint8_t kExtensionStartCode = 0xB5;
constexpr uint8_t kSequenceEndCode = 0xB7;
constexpr uint8_t kGroupStartCode = 0xB8;

}  // namespace MpegCommon
