// Identifiers of the multiplexer filter: its class, pages, parameters and the
// structural identifiers served without a parameter row.
#pragma once

#include <windows.h>

namespace muxora {

constexpr unsigned HexDigit(char c) {
    return c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
           : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                                  : static_cast<unsigned>(c - 'A' + 10);
}
constexpr unsigned long long HexAt(const char* s, int from, int count) {
    unsigned long long v = 0;
    for (int i = 0; i < count; ++i) v = v * 16 + HexDigit(s[from + i]);
    return v;
}
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" to a GUID at compile time.
constexpr GUID Guid(const char* s) {
    GUID g{};
    g.Data1 = static_cast<unsigned long>(HexAt(s, 1, 8));
    g.Data2 = static_cast<unsigned short>(HexAt(s, 10, 4));
    g.Data3 = static_cast<unsigned short>(HexAt(s, 15, 4));
    g.Data4[0] = static_cast<unsigned char>(HexAt(s, 20, 2));
    g.Data4[1] = static_cast<unsigned char>(HexAt(s, 22, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<unsigned char>(HexAt(s, 25 + 2 * i, 2));
    return g;
}

constexpr GUID kClsidMuxer = Guid("{CFD28198-115C-4606-BD64-27A7E0051D2A}");
constexpr GUID kClsidAboutPage = Guid("{D99B76ED-726E-45E9-AB37-B9D6636C837A}");
constexpr GUID kClsidSettingsPage = Guid("{6724CB1E-9EDA-4A81-B56F-31E35E44E92B}");
constexpr GUID kClsidStreamConfig = Guid("{DE798A3E-5E4D-484F-AA03-1DED84756DDB}");
constexpr GUID kClsidFileWriter = Guid("{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}");

// The filter's own graph event: the output rate cannot carry the inputs (a
// unit reached the output after its decoding time). Sent once per run;
// param1 is the input's number, param2 how late its last byte was, in ms.
constexpr long kEcMuxOverload = 0x8000 + 0x4D58;  // EC_USER + "MX"

// Muxer parameters.
constexpr GUID kOutput = Guid("{6E7564E3-05FA-417A-AA8E-50E474537EC3}");
constexpr GUID kRequiredBitrate = Guid("{94E294E0-8B4C-40DF-B429-B43B3F2BE4E7}");
constexpr GUID kPcrInterval = Guid("{4F6F3CCD-989A-4318-B9F7-FC605C7EDFED}");
constexpr GUID kCompatibility = Guid("{6165514A-BF3D-40B3-BB2C-D97BA344850A}");
constexpr GUID kTransportStreamId = Guid("{6C376C4D-D6B9-40EA-AD1F-A70C7948A4E9}");
constexpr GUID kOutputBufferSize = Guid("{6BB968B3-7E26-44FE-ADB2-D0C81C96E304}");
constexpr GUID kCreatePins = Guid("{EFA4CA3D-E626-47F4-A045-4F717175962E}");
constexpr GUID kUsePadding = Guid("{218C3E56-54FC-43FE-87AC-39D3EE2AB3BB}");
constexpr GUID kTsPacketsToDeliver = Guid("{2394EEE2-51FD-4169-96D1-74D9E45B3343}");
constexpr GUID kTimingMode = Guid("{B2B31D6C-F17D-4E0F-8EFA-13CD324A8A74}");
constexpr GUID kRealOutputBitrate = Guid("{762F0204-DB00-44E4-9928-EF7828DB9E5F}");
constexpr GUID kMuxerTime = Guid("{A32C0F2B-37FE-4417-B469-349C3C271E88}");
constexpr GUID kOverhead = Guid("{A8F9850E-68D5-460C-B929-FA7499BF28E8}");
constexpr GUID kPaddingPackets = Guid("{BF817BCE-199F-47D9-8641-B95D263381F0}");
constexpr GUID kFilterState = Guid("{7A15721B-F306-441F-8F34-893F5E28D146}");
constexpr GUID kDmbCompatibility = Guid("{200FF445-B535-4A71-A284-8B1E38EE7D3C}");
constexpr GUID kInitialDataWait = Guid("{002D6EC9-8E71-4B4C-AA75-297C94EDF9F6}");
constexpr GUID kAllowMissingInputs = Guid("{DAD58B2F-1FF4-4363-9FBD-C670EA1B188B}");
constexpr GUID kTs192 = Guid("{8727A467-7C6C-4BF9-91AE-FB8DE64BCAE9}");
constexpr GUID kPesLengthForVideo = Guid("{17BE9772-1161-4CAE-8744-F209CBDA4A15}");
constexpr GUID kNoDtsForVideo = Guid("{B7AD0215-0677-4043-AB7B-3BD111DD023C}");

// Structural identifiers (no rows).
constexpr GUID kEnumPrograms = Guid("{197745C4-A403-44DE-89C3-969B127901F3}");
constexpr GUID kAddProgram = Guid("{1C10A3F8-98AA-45A7-8332-3E82640C64AA}");
constexpr GUID kRemoveProgram = Guid("{06250D30-F7D6-4F5C-A4B4-36170F3FE552}");
constexpr GUID kAssignProgram = Guid("{F3A8774E-58F3-44E5-940D-842155353BAB}");

// Program parameters and the program's structural identifiers.
constexpr GUID kClsidProgramConfig = Guid("{BEB95059-EF42-4599-8B5E-543C310CC15F}");
constexpr GUID kProgramBitrate = Guid("{B9067BD7-735F-4AAD-A643-36911E9ADE11}");
constexpr GUID kProgramId = Guid("{F21C447B-3870-4FF1-B97E-6154067FCCE8}");
constexpr GUID kProgramNumber = Guid("{BFB26B95-AC4A-4D48-8F2F-7DF8D03C673F}");
constexpr GUID kPcrPid = Guid("{C54AFA11-3172-42A6-B92F-CEAC92AB3D12}");
constexpr GUID kUserPcrPid = Guid("{6B914A19-555D-42C2-8638-3EF76D34436A}");
constexpr GUID kEnumInputs = Guid("{8DB05E7F-3AE4-4738-ADB2-134175DD238C}");
constexpr GUID kAddInput = Guid("{C91DD135-569A-4F48-802D-B1E0BE15E1D5}");
constexpr GUID kRemoveInput = Guid("{9F420C44-CF0C-423E-AA32-BFB081F57422}");

// Stream parameters.
constexpr GUID kStreamType = Guid("{1811ABAA-F568-4016-A728-0A9B8E7799AE}");
constexpr GUID kPesPacketSize = Guid("{769E9811-5D67-472A-8846-95B355A606ED}");
constexpr GUID kPaddingSmall = Guid("{A8AC9943-DE6F-4C8A-881C-B7BB52353102}");
constexpr GUID kPutPcr = Guid("{84C4E4C2-88F2-4C19-82AF-3D94F9FE5B2A}");
constexpr GUID kAutoCreated = Guid("{CC0D2415-E3D6-47CB-9F69-670746280865}");
constexpr GUID kInputBufferSize = Guid("{A4FE0D19-6AB8-4367-8124-07D45B1384DA}");
constexpr GUID kInitialTimeShift = Guid("{3A34CBF2-E6C4-4C84-8541-70C6961C87AD}");
constexpr GUID kStreamId = Guid("{4F382B24-2E36-43D7-AFF3-04047B0C2F87}");
constexpr GUID kStreamPesId = Guid("{474C78F4-2DC9-4CE2-9CA9-161E0C93B988}");
constexpr GUID kStreamSubId = Guid("{5CAED249-7594-410E-8E5C-2FA5D973BE6C}");
constexpr GUID kAnnouncedBitrate = Guid("{D2BF1AF3-2AA6-47A9-B983-B528E042AA17}");
constexpr GUID kRealBitrate = Guid("{D59D182B-A954-4759-81E7-7311CC58271B}");
constexpr GUID kCorrectBitrate = Guid("{2D7E6A07-0C99-47CA-99E3-E83FCA7CA058}");
constexpr GUID kCorrectEbSize = Guid("{95AC7C07-8777-4294-8F7C-0E59F84DE757}");
constexpr GUID kFrequency = Guid("{9A49DB34-8EDB-4358-9C94-CCE447954EF8}");
constexpr GUID kAnnouncedFrameRate = Guid("{2B50384B-03C0-4576-B28A-85B0F96A9DE2}");
constexpr GUID kCurrentPinPts = Guid("{E808C80B-4298-4DEA-B64C-4884BBDFFD36}");
constexpr GUID kEsInfoLength = Guid("{BA0B67A0-6D9A-4AF8-ACB3-3A1847681FAD}");
constexpr GUID kEsInfoPointer = Guid("{C8F37A44-1131-4D21-AEDC-125C9E834B47}");
constexpr GUID kMediaTypeInternal = Guid("{05D41460-9666-4EBC-9181-FCC4DC9B90D2}");
constexpr GUID kEndedFlag = Guid("{E9E0CF21-E353-4F02-9449-A33EAFF05E88}");
constexpr GUID kStreamName = Guid("{A6DBA867-986F-467D-ADAD-F50556A835EF}");
constexpr GUID kIsConnected = Guid("{DE8F671D-C772-4FBB-BDCE-D276974DB51C}");
constexpr GUID kChangingType = Guid("{A8D6BD4C-1DDE-467B-B2DE-4CA6D9849323}");
constexpr GUID kStreamNumber = Guid("{F898D4D0-D30F-4F96-9BB0-64E69E91567C}");

}  // namespace muxora

namespace muxora {

// Media types the pins meet.
constexpr GUID kMtStream = Guid("{E436EB83-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID kMtVideo = Guid("{73646976-0000-0010-8000-00AA00389B71}");
constexpr GUID kMtAudio = Guid("{73647561-0000-0010-8000-00AA00389B71}");
constexpr GUID kMtMpeg2Pes = Guid("{E06D8020-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kMtDvdPack = Guid("{ED0B916A-044D-11D1-AA78-00C04FC31D60}");
constexpr GUID kMtIgPes = Guid("{6216631E-BC85-48A0-B5F1-8A653A20B7FB}");
constexpr GUID kStIgPes = Guid("{B353308B-7698-4722-9749-694DE6EF789E}");
constexpr GUID kStMpeg2Program = Guid("{E06D8022-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStMpeg2Transport = Guid("{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStMpeg2Video = Guid("{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStMpeg2Audio = Guid("{E06D802B-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStDolbyAc3 = Guid("{E06D802C-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStDvdSubpicture = Guid("{E06D802D-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStDvdLpcm = Guid("{E06D8032-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kStMpeg1Payload = Guid("{E436EB81-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID kStH264 = Guid("{8D2D71CB-243F-45E3-B2D8-5FD7967EC09B}");
constexpr GUID kFmtVideoInfo = Guid("{05589F80-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFmtWaveFormatEx = Guid("{05589F81-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFmtMpegVideo = Guid("{05589F82-C356-11CE-BF01-00AA0055595A}");
constexpr GUID kFmtVideoInfo2 = Guid("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
constexpr GUID kFmtMpeg2Video = Guid("{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}");
constexpr GUID kFmtSkipped = Guid("{B92F44EC-5B87-4665-A195-804EE4354D78}");

// The subtype of a FOURCC or a wave format tag.
constexpr GUID FourccSubtype(unsigned long code) {
    GUID g = Guid("{00000000-0000-0010-8000-00AA00389B71}");
    g.Data1 = code;
    return g;
}
constexpr unsigned long Fourcc(const char (&s)[5]) {
    unsigned long v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[i]);
    return v;
}

}  // namespace muxora
