#include "codec/videoencoder/VideoEncParams.h"

namespace vidcore {
namespace {

const NamedInt kNames0[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames1[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames4[] = {{"MPEG-1  ", 0}, {"MPEG-1 VideoCD", 1}, {"MPEG-1 DVD", 13}, {"MPEG-2", 2}, {"MPEG-2 SVCD", 3}, {"MPEG-2 DVD", 4}, {"MPEG-2 DVB", 8}, {"MPEG-2 MicroMV", 9}, {"MPEG-1/2 DVHS", 10}, {"MPEG-2 HD DVD", 25}, {"MPEG-2 HDV HD1", 18}, {"MPEG-2 HDV HD2", 19}, {"MPEG-2 ATSC", 11}, {"MPEG D10_25", 20}, {"MPEG D10_30", 21}, {"MPEG D10_40", 22}, {"MPEG D10_50", 23}, {"XDCAM 1080 CBR 25", 32}, {"XDCAM 1080 VBR 17.5", 33}, {"XDCAM 1080 VBR 35", 34}, {"XDCAM 540 CBR 12.5", 35}, {"XDCAM 540 VBR 8.75", 36}, {"XDCAM 540 VBR 17.5", 37}};
const NamedInt kNames5[] = {{"Auto", 0}, {"PAL", 1}, {"NTSC", 2}, {"SECAM", 3}, {"MAC", 4}, {"Unspecified", 5}};
const NamedInt kNames6[] = {{"High profile", 1}, {"Main profile", 4}, {"Simple profile", 5}, {"422 profile", 7}};
const NamedInt kNames7[] = {{"Unspecified level", 15}, {"High level", 4}, {"High1440 level", 6}, {"Main level", 8}, {"Low level", 10}};
const NamedInt kNames12[] = {{"Auto", 0}, {"23.976 fps", 1}, {"24.0  fps", 2}, {"25.0  fps", 3}, {"29.97 fps", 4}, {"30.0  fps", 5}, {"50.0  fps", 6}, {"59.94 fps", 7}, {"60.0  fps", 8}};
const NamedInt kNames14[] = {{"None", 0}, {"Fast", 1}, {"Refined", 2}, {"Regular", 3}};
const NamedInt kNames15[] = {{"No pulldown", 0}, {"2:3 pulldown", 1}, {"3:2 pulldown", 2}};
const NamedInt kNames19[] = {{"CQ adaptive", 2}, {"CQ_strict", 3}, {"Constant", 1}, {"Variable", 0}};
const NamedInt kNames23[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames24[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames25[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames26[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames29[] = {{"8 bit", 0}, {"9 bit", 1}, {"10 bit", 2}, {"11 bit", 3}};
const NamedInt kNames30[] = {{"4:2:0", 1}, {"4:2:2", 2}};
const NamedInt kNames31[] = {{"Progressive", 1}, {"Interlace", 0}};
const NamedInt kNames32[] = {{"Progressive", 1}, {"Interlaced", 0}};
const NamedInt kNames33[] = {{"Top field first", 1}, {"Bottom field first", 0}};
const NamedInt kNames34[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames35[] = {{"Optimal", 17}, {"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {"9", 9}, {"10", 10}, {"11", 11}, {"12", 12}, {"13", 13}, {"14", 14}, {"15", 15}};
const NamedInt kNames36[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {"9", 9}, {"10", 10}, {"11", 11}, {"12", 12}, {"13", 13}, {"14", 14}, {"15", 15}, {"16", 16}, {"17", 17}, {"18", 18}, {"19", 19}, {"20", 20}, {"21", 21}, {"22", 22}, {"23", 23}, {"24", 24}, {"25", 25}, {"26", 26}, {"27", 27}, {"28", 28}, {"29", 29}, {"30", 30}, {"31", 31}};
const NamedInt kNames37[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames38[] = {{"No", 0}, {"Yes", 1}};
const NamedInt kNames39[] = {{"Non-linear", 1}, {"Linear", 0}};
const NamedInt kNames40[] = {{"table 1", 1}, {"table 0", 0}};
const NamedInt kNames41[] = {{"Alternate scan", 1}, {"Zig-Zag scan", 0}};
const NamedInt kNames43[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames44[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames45[] = {{"No", 0}, {"ATSC Format", 1}, {"SCTE Format", 2}, {"CCUBE Format", 3}, {"Passthrough mode", 4}};
const NamedInt kNames46[] = {{"Single pass", 0}, {"Multi-Pass Analyze", 1}, {"Multi-Pass Encode", 2}};
const NamedInt kNames47[] = {{"Skip frames if required", 0}, {"Skip only in underflow case", 1}};
const NamedInt kNames48[] = {{"0 - disabled", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {"9", 9}, {"10", 10}, {"11", 11}, {"12", 12}, {"13", 13}, {"14", 14}, {"15", 15}};
const NamedInt kNames49[] = {{"Info is NA", -1}, {"Frame pictures", 0}, {"Field pictures", 1}};
const NamedInt kNames51[] = {{"No", 0}, {"Yes", 1}};
const NamedInt kNames52[] = {{"Info is NA", -1}, {"YUV 4:2:0", 0}, {"YUV 4:2:2", 1}, {"YUV 4:4:4", 2}, {"RGB 24 bits", 3}, {"RGB 32 bits", 4}};
const NamedInt kNames57[] = {{"Yes", 1}, {"No", 0}};
const NamedInt kNames58[] = {{"Yes", 1}, {"No", 0}};

}  // namespace

const ParamRow kParamRows[kParamCount] = {
    {{0x6B11FD92, 0xCE22, 0x4B0C, {0xBE, 0xD1, 0xE4, 0xFD, 0xCF, 0xDF, 0xDC, 0xC6}}, "Set default values", kInt, false, false, 880, 0, true, 0, 1, kNames0, 2},
    {{0x43CD5542, 0xDDEC, 0x4C13, {0x92, 0x76, 0xD2, 0x50, 0x59, 0xC4, 0x07, 0x60}}, "Is running", kInt, true, false, 892, 0, false, 0, 0, kNames1, 2},
    {{0x16A9C0E0, 0x9565, 0x4AC8, {0x91, 0xC7, 0x82, 0xF5, 0xB5, 0x9A, 0x03, 0x91}}, "Encoded frames", kInt, true, false, 896, 0, false, 0, 0, nullptr, 0},
    {{0xA1885A39, 0x275D, 0x45ED, {0x8A, 0xC1, 0xDB, 0x37, 0xFA, 0x64, 0xD7, 0xCD}}, "Encoded frames", kReal, true, false, 904, 0, false, 0, 0, nullptr, 0},
    {{0x0D6239BD, 0xE7DC, 0x4DDB, {0xAB, 0x8D, 0xC2, 0x1E, 0x8A, 0xFD, 0xA7, 0x1C}}, "Video type", kInt, false, false, 0, 2, true, 0, 44, kNames4, 23},
    {{0xE54F50CD, 0xE336, 0x4872, {0x87, 0x10, 0x34, 0x19, 0x9C, 0xF7, 0x2F, 0xFA}}, "Video format", kInt, false, false, 884, 0, true, 0, 5, kNames5, 6},
    {{0xFDD66DC1, 0xDB28, 0x4DF9, {0xAD, 0xE8, 0x1F, 0xAD, 0x17, 0x2F, 0xF0, 0x45}}, "Profile", kInt, false, false, 104, 4, true, 1, 7, kNames6, 4},
    {{0x68AB7A6D, 0xA427, 0x467B, {0xB3, 0x9D, 0x66, 0x51, 0xE5, 0x0C, 0x22, 0xC4}}, "Level", kInt, false, false, 108, 8, true, 4, 15, kNames7, 5},
    {{0x72EE0B12, 0xAF81, 0x41C4, {0xAA, 0xE9, 0xBF, 0xB2, 0x37, 0x25, 0xF5, 0x54}}, "GOP length", kInt, false, false, 12, 12, true, 1, 100, nullptr, 0},
    {{0x3ADA1696, 0xB94D, 0x4D7E, {0xB7, 0xBF, 0x25, 0x3D, 0x11, 0x03, 0xE8, 0x35}}, "B-frames count", kInt, false, false, 1028, 2, true, 0, 7, nullptr, 0},
    {{0x785F2F74, 0x898E, 0x4007, {0xBE, 0xC1, 0x90, 0xA3, 0xBD, 0x7D, 0xDF, 0x5E}}, "Closed GOP interval", kInt, false, true, 28, 0, false, 0, 0, nullptr, 0},
    {{0x57B6D4ED, 0x52D6, 0x4099, {0x95, 0x28, 0xC1, 0x09, 0x95, 0x46, 0x5C, 0x00}}, "Aspect ratio", kInt, false, false, 968, 0, false, 0, 0, nullptr, 0},
    {{0x56D56480, 0xBD09, 0x4F97, {0xA5, 0x9F, 0x52, 0x50, 0x86, 0xA8, 0xA7, 0x0B}}, "Frame rate", kInt, false, true, 888, 0, true, 0, 8, kNames12, 9},
    {{0x106364D3, 0x97BC, 0x41A8, {0xAA, 0x43, 0x1D, 0x0E, 0xE2, 0x61, 0x16, 0x70}}, "Input framerate", kReal, true, false, 944, 0, false, 0, 0, nullptr, 0},
    {{0x4572677E, 0xB5E5, 0x4612, {0x82, 0xFD, 0xB4, 0x8F, 0x44, 0x94, 0x84, 0x03}}, "Scene change detection", kInt, false, false, 936, 0, true, 0, 3, kNames14, 4},
    {{0x77ABB9EA, 0xE2AA, 0x4517, {0x95, 0x01, 0x04, 0x3F, 0xBD, 0x5E, 0x5A, 0x8C}}, "Pulldown flag", kInt, false, false, 4, 0, true, 0, 2, kNames15, 3},
    {{0xBDD50372, 0x38E2, 0x4A26, {0xBA, 0x15, 0x48, 0x2B, 0x70, 0xEE, 0x13, 0x6C}}, "Bitrate", kInt, false, false, 984, 6000000, false, 0, 0, nullptr, 0},
    {{0x51EB9A74, 0xB317, 0x4FBB, {0x83, 0x2B, 0xCA, 0x5C, 0x2D, 0xAA, 0x19, 0x3F}}, "Maximum bitrate (for VBR)", kInt, false, false, 988, 6000000, false, 0, 0, nullptr, 0},
    {{0x38A26DF5, 0xD04E, 0x4931, {0xBB, 0xC2, 0x19, 0x09, 0x7F, 0x81, 0x20, 0x69}}, "Minimum bitrate (for VBR)", kInt, false, false, 992, 2000000, false, 0, 0, nullptr, 0},
    {{0xCD701824, 0x5F65, 0x4520, {0x8D, 0xB0, 0x26, 0x54, 0x82, 0x12, 0x80, 0x8C}}, "Bitrate mode", kInt, false, false, 996, 0, true, 0, 3, kNames19, 4},
    {{0x080AFC13, 0xFF7B, 0x4EC8, {0x86, 0x7D, 0x86, 0xB9, 0xDD, 0x4B, 0x72, 0x28}}, "Quantization paramer for I-Frames", kInt, false, false, 1000, 2, true, 1, 31, nullptr, 0},
    {{0x88B2F2B7, 0xB3D0, 0x4E11, {0xA1, 0x0E, 0x51, 0xC8, 0xE0, 0x35, 0x23, 0x71}}, "Quantization paramer for P-Frames", kInt, false, false, 1004, 4, true, 1, 31, nullptr, 0},
    {{0xE34C30D7, 0xC16D, 0x4A73, {0xAE, 0xE8, 0xFA, 0xBF, 0xE9, 0x7F, 0x02, 0x02}}, "Quantization paramer for B-Frames", kInt, false, false, 1008, 6, true, 1, 31, nullptr, 0},
    {{0xBF0AC217, 0x674E, 0x4E01, {0xAE, 0x02, 0x7F, 0x37, 0xF7, 0x05, 0x56, 0x14}}, "Write a sequence header every GOP", kInt, false, true, 96, 1, true, 0, 1, kNames23, 2},
    {{0x2050E529, 0x9211, 0x4004, {0x95, 0xE6, 0x3F, 0x6D, 0xED, 0xAD, 0xA3, 0xAB}}, "Write a sequence end code", kInt, false, true, 100, 1, true, 0, 1, kNames24, 2},
    {{0xD3154625, 0x7C86, 0x4571, {0x85, 0x81, 0x16, 0xDE, 0x36, 0xBD, 0xDA, 0xE8}}, "Write a sequence display extension", kInt, false, true, 416, 0, true, 0, 1, kNames25, 2},
    {{0x1ADA1B70, 0xF561, 0x4370, {0xAF, 0x17, 0x65, 0x3C, 0xDE, 0xDE, 0xFC, 0x8D}}, "Write a picture display extension", kInt, false, true, 857, 0, true, 0, 1, kNames26, 2},
    {{0x9A58E4BC, 0x1B3E, 0x4127, {0xA0, 0xDD, 0x87, 0xDB, 0xD7, 0xD2, 0xEE, 0xC6}}, "Display horizontal size", kInt, true, false, 408, 320, true, 0, 16383, nullptr, 0},
    {{0xC77F6C0A, 0xCE41, 0x4717, {0xA5, 0x10, 0x95, 0xCC, 0xC2, 0xF9, 0x57, 0xFD}}, "Display vertical size", kInt, true, false, 412, 240, true, 0, 16383, nullptr, 0},
    {{0x8F8FECAC, 0x5CC1, 0x4CE7, {0x83, 0x86, 0x4C, 0xCC, 0x54, 0x25, 0x54, 0x85}}, "Intra DC precision", kInt, false, true, 436, 0, true, 0, 3, kNames29, 4},
    {{0x1406B33D, 0x21F7, 0x4A86, {0x98, 0xCD, 0xE3, 0x4B, 0x93, 0x11, 0x39, 0x01}}, "Chroma format", kInt, false, true, 116, 1, true, 1, 2, kNames30, 2},
    {{0xC65C2BF0, 0x9AAC, 0x4A5C, {0xB8, 0x28, 0xAC, 0xB5, 0x97, 0x5C, 0x63, 0x08}}, "Progressive sequence", kInt, false, true, 112, 0, true, 0, 1, kNames31, 2},
    {{0x937DD7FB, 0x8D25, 0x4754, {0x8B, 0x80, 0x5B, 0x14, 0xE1, 0xF3, 0x99, 0xE2}}, "Progressive frame", kInt, false, false, 508, 0, true, 0, 1, kNames32, 2},
    {{0xDD352ACE, 0x3B61, 0x4F63, {0xBC, 0x6B, 0x90, 0xA7, 0x8E, 0xEF, 0x61, 0x58}}, "Top field first", kInt, false, false, 440, 0, true, 0, 1, kNames33, 2},
    {{0x9B52BBB7, 0xE747, 0x466F, {0xB9, 0x32, 0x4D, 0x9D, 0x56, 0x23, 0x81, 0x4F}}, "Repeat first field", kInt, false, true, 504, 0, true, 0, 1, kNames34, 2},
    {{0x02ADCA1F, 0xFE7D, 0x4487, {0xBE, 0xAD, 0x40, 0xA1, 0xB3, 0x4C, 0xBD, 0xFF}}, "Motion search quality", kInt, false, true, 912, 17, true, 0, 17, kNames35, 17},
    {{0x9EB2E1BD, 0x945C, 0x4B92, {0xA5, 0xA2, 0x89, 0x4C, 0x7F, 0x6D, 0xBB, 0x37}}, "Motion search range", kInt, false, true, 916, 15, true, 0, 31, kNames36, 32},
    {{0xEB66122F, 0x6933, 0x4FA5, {0x9A, 0x01, 0x59, 0x4B, 0x33, 0x41, 0x19, 0x0E}}, "Halfpel search", kInt, false, true, 920, 1, true, 0, 1, kNames37, 2},
    {{0xD80234D9, 0x804A, 0x450B, {0xA5, 0x90, 0x0A, 0xB9, 0xCD, 0x8C, 0x0B, 0xBB}}, "Deinterlacing mode", kInt, false, true, 32, 0, true, 0, 1, kNames38, 2},
    {{0xF2794BD1, 0xED9B, 0x4C15, {0x86, 0xF7, 0x3B, 0x46, 0x61, 0x5B, 0x84, 0x89}}, "Quantization scale type", kInt, false, true, 924, 0, true, 0, 1, kNames39, 2},
    {{0x591DC293, 0xB4B7, 0x45B3, {0xB3, 0x2E, 0xD3, 0x98, 0x0B, 0x2F, 0x44, 0xEC}}, "Intra VLC", kInt, false, true, 928, 0, true, 0, 1, kNames40, 2},
    {{0xF281DAD4, 0x9CFF, 0x45D4, {0x8A, 0x27, 0x1C, 0xD7, 0x55, 0x30, 0x9F, 0x9A}}, "Scanning type", kInt, false, true, 932, 0, true, 0, 1, kNames41, 2},
    {{0x32DAF502, 0x17D2, 0x4CFD, {0xAB, 0xD9, 0xCF, 0x5C, 0x0F, 0x44, 0x7D, 0x0B}}, "Out sample size", kInt, false, true, 956, 0, false, 0, 0, nullptr, 0},
    {{0x3A79347D, 0xCB9D, 0x43D6, {0xA5, 0x3A, 0xE1, 0x16, 0x18, 0xCB, 0xAC, 0x0C}}, "Pad skipped frames", kInt, false, true, 960, 0, true, 0, 1, kNames43, 2},
    {{0xB5DF6FDD, 0xBD91, 0x4723, {0xB3, 0xDE, 0xA6, 0xA3, 0xFF, 0xD3, 0x44, 0x55}}, "Preview", kInt, false, false, 964, 0, true, 0, 1, kNames44, 2},
    {{0x093B53C0, 0x62DA, 0x44F5, {0x80, 0x2B, 0x61, 0x5C, 0xF0, 0x7C, 0x84, 0xD4}}, "ClosedCaption", kInt, false, true, 1052, 0, true, 0, 4, kNames45, 5},
    {{0x9078A811, 0x26BC, 0x4BA0, {0x8A, 0xE7, 0x6F, 0xC1, 0xCC, 0xF7, 0xD6, 0xD1}}, "Two-pass rate control mode", kInt, false, false, 1044, 0, true, 0, 2, kNames46, 3},
    {{0x51D02FEC, 0x4F45, 0x4B18, {0x98, 0x47, 0xA1, 0x65, 0xC5, 0x47, 0x91, 0x80}}, "Skip mode", kInt, false, true, 1040, 0, true, 0, 1, kNames47, 2},
    {{0xB713CEFE, 0xF118, 0x4136, {0x98, 0xE8, 0xEF, 0xE9, 0x08, 0x00, 0x04, 0x9C}}, "Prefiltering", kInt, false, true, 420, 0, true, 0, 15, kNames48, 16},
    {{0x7EBA814A, 0x76ED, 0x4880, {0xAF, 0xBE, 0xBA, 0x27, 0x70, 0x47, 0x46, 0xC1}}, "Original frame type", kInt, true, false, 1020, -1, false, 0, 0, kNames49, 3},
    {{0x05E339D3, 0xC15D, 0x4928, {0xA5, 0xB7, 0xE5, 0xD1, 0x65, 0xAC, 0xD7, 0xF1}}, "2-pass encoding statistics file", kText, false, false, 1048, 0, false, 0, 0, nullptr, 0},
    {{0x5CCB6D1B, 0xBFCC, 0x4F88, {0x92, 0xDC, 0xAD, 0xEA, 0xAD, 0xF7, 0x8B, 0x34}}, "Calculate PSNR", kInt, false, false, 837, 0, true, 0, 1, kNames51, 2},
    {{0x70078D07, 0x0159, 0x4EC4, {0xB3, 0xF1, 0x48, 0x04, 0x10, 0xC7, 0x5E, 0x7B}}, "Original color space", kInt, true, false, 1024, -1, false, 0, 0, kNames52, 6},
    {{0xF0DCB6C2, 0xF08B, 0x4C87, {0x97, 0xBF, 0xE6, 0x2E, 0x09, 0xC6, 0x4C, 0x5D}}, "Overall PSNR", kReal, true, false, 1032, 0, false, 0, 0, nullptr, 0},
    {{0x8AC75EE6, 0x7F3A, 0x4D51, {0xBE, 0x5C, 0xBC, 0xC5, 0x10, 0xEC, 0x3E, 0xB5}}, "Real bitrate", kReal, true, false, 976, 0, false, 0, 0, nullptr, 0},
    {{0x810FE8A3, 0xC7D0, 0x438E, {0x8E, 0xCA, 0xD3, 0xB9, 0xE5, 0x9F, 0x32, 0x3E}}, "Online mode", kInt, false, false, 1012, 0, true, 0, 31, nullptr, 0},
    {{0x616757DA, 0x667A, 0x4E3E, {0xA8, 0x4E, 0x8A, 0x8C, 0x94, 0x4F, 0xCC, 0xC3}}, "Offline mode", kInt, false, false, 1016, 0, true, 0, 31, nullptr, 0},
    {{0x884724C9, 0x9B6B, 0x4374, {0xA8, 0xF5, 0x19, 0x09, 0x6C, 0x3B, 0x85, 0x18}}, "constrained parameters flag (MPEG-1 only)", kInt, false, false, 8, 0, true, 0, 1, kNames57, 2},
    {{0xB5756AEF, 0xAC44, 0x48BB, {0xAD, 0x44, 0x15, 0xB1, 0xB9, 0x45, 0x0B, 0x37}}, "Use Drop Frame timecode notation in GOP", kInt, false, false, 20, 0, true, 0, 1, kNames58, 2},
    {{0xCA347ADF, 0xBE47, 0x4631, {0x80, 0x64, 0xBD, 0x18, 0x6F, 0x5E, 0x1F, 0x19}}, "timecode of first frame", kInt, false, false, 24, 0, false, 0, 0, nullptr, 0},
    {{0x8EDEA756, 0x53FA, 0x4B7D, {0xB0, 0x87, 0x65, 0x63, 0x5F, 0x4A, 0x18, 0x7D}}, "Ignore frame interval", kInt, false, false, 36, 0, false, 0, 0, nullptr, 0},
    {{0x98B4BCEA, 0xB6BD, 0x4835, {0x87, 0x16, 0x97, 0xCF, 0xEE, 0xEC, 0x2C, 0xC4}}, "VBV buffer size (* 16 kbit)", kInt, false, false, 84, 0, false, 0, 0, nullptr, 0},
    {{0x7237D1F2, 0x8079, 0x45FC, {0x9A, 0x7C, 0xB8, 0x52, 0x6C, 0x9A, 0xC0, 0x31}}, "macroblock quantization value", kInt, false, false, 92, 10, false, 0, 0, nullptr, 0},
    {{0xB89496DD, 0xC3B3, 0x429C, {0xBC, 0xB1, 0xF8, 0x75, 0x3E, 0x5E, 0xC3, 0x33}}, "source primary chromaticity coordinates", kInt, false, false, 396, 4, false, 0, 0, nullptr, 0},
    {{0xC790FFB9, 0x4490, 0x4D01, {0x88, 0x5D, 0x38, 0xB4, 0xF7, 0xCB, 0x87, 0x95}}, "opto-electronic transfer char. (gamma)", kInt, false, false, 400, 4, false, 0, 0, nullptr, 0},
    {{0x01CCA590, 0x83DC, 0x44F0, {0x83, 0x56, 0x53, 0x9F, 0x7A, 0xE5, 0x17, 0xB1}}, "different flags e.g. FEATURE_AUTO_GOP_PLACEMENT", kInt, false, false, 40, 4, false, 0, 0, nullptr, 0},
    {{0x5A2063BF, 0x3807, 0x407B, {0x87, 0xD3, 0x85, 0x01, 0x13, 0xF1, 0x36, 0xF5}}, "Eg,Eb,Er / Y,Cb,Cr matrix coefficients", kInt, false, false, 404, 4, false, 0, 0, nullptr, 0},
    {{0xCFD17D2C, 0x1920, 0x494D, {0x8E, 0xD2, 0x97, 0xDA, 0x67, 0x0A, 0xE3, 0xF3}}, "use non-default intra quant. matrices", kInt, false, false, 428, 4, false, 0, 0, nullptr, 0},
    {{0xD49FD03E, 0x4A78, 0x4D5F, {0x99, 0xF5, 0x64, 0x12, 0x51, 0xD7, 0x2C, 0xD2}}, "use non-default quant. matrices", kInt, false, false, 432, 4, false, 0, 0, nullptr, 0},
    {{0x76C03009, 0xE4A2, 0x49B0, {0xAB, 0x95, 0x1C, 0xCB, 0xE0, 0x4A, 0xFB, 0x61}}, "put blank SVCD scan offset blocks in the video stream", kInt, false, false, 817, 4, false, 0, 0, nullptr, 0},
    {{0x7A80B9E3, 0xBD35, 0x4B05, {0xBD, 0x83, 0x9A, 0xE5, 0x19, 0x32, 0xE7, 0xD7}}, "initial VBV-fullnes in %", kInt, false, false, 548, 4, false, 0, 0, nullptr, 0},
    {{0x528B746B, 0x320F, 0x4F69, {0x9A, 0xAE, 0x41, 0xD5, 0xF1, 0x2C, 0x5E, 0xE6}}, "Padding limint int %", kInt, false, false, 552, 4, false, 0, 0, nullptr, 0},
};

const char* NameOfValue(const ParamRow& row, int32_t v) {
  for (int i = 0; i < row.valueCount; ++i)
    if (row.values[i].value == v) return row.values[i].name;
  return nullptr;
}

}  // namespace vidcore
