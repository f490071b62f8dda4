#include "restamp/parsers/StreamDetector.h"

#include <algorithm>

namespace BSUtils {

CStreamDetector::CStreamDetector(const CStreamKey& key) : key_(key), buffer_(kBufferSize) {
    isPrivate = key.streamId == 0xBD;
}

void CStreamDetector::AddData(uint64_t, const uint8_t* d, uint32_t len, uint32_t, bool packetStart) {
    if (!len) return;
    bytesFed += len;
    if (buffer_.GetCapacity()) {
        if (buffer_.GetFree() <= len) {
            buffer_.Compact();
            if (buffer_.GetFree() <= len) {
                Analyse(false);
                buffer_.Clear();
                packetStarts = 0;
            }
        }
        buffer_.Append(d, len);
    }
    if (packetStart) {
        ++packetStarts;
        if (family == kFormatAES3 && aes3.Parse(d, len)) {
            OnAES3Found(aes3);
            detected = kFormatAES3;
        }
    }
    if (family == kFormatSubStreams || family == kFormatUnknown) {
        if (packetStart) currentSub = d[0];
        if (currentSub >= 0) {
            auto& sub = subStreams[uint8_t(currentSub)];
            if (!sub) {
                sub.reset(new (std::nothrow) CStreamDetectorSubstream(this, uint8_t(currentSub)));
                if (!sub) {
                    subStreams.erase(uint8_t(currentSub));
                    return;
                }
            }
            sub->AddData(d, len, packetStart);
        }
    }
}

bool CStreamDetector::Detect(bool final) {
    if (!detected && (final || packetStarts >= 6)) {
        Analyse(final);
        if (!detected && isPrivate) AnalyseSubstreams();
    }
    if (isPrivate) AnalyseSubstreams();
    return detected != 0;
}

void CStreamDetector::Analyse(bool final) {
    if (detected || !buffer_.GetLength()) return;
    const uint8_t* d = buffer_.GetReadPtr();
    const uint32_t n = buffer_.GetLength();
    if (family == kFormatMpegAudio || family == kFormatUnknown) {
        if (audio.Detect(d, n)) {
            OnAudioFound(audio);
            detected = kFormatMpegAudio;
        } else if (aac.Detect(d, n)) {
            OnAACFound(aac);
            detected = kFormatAAC;
        }
        if (!detected && family == kFormatMpegAudio) Drop(std::min(aac.resume, n));
    }
    if (!detected && family == kFormatAAC) {
        if (aac.Detect(d, n)) {
            OnAACFound(aac);
            detected = kFormatAAC;
        } else
            Drop(aac.resume);
    }
    if (!detected && (family == kFormatMpegVideo || family == kFormatUnknown)) {
        uint32_t found = 0;
        if (h264.Detect(d, n)) found = kFormatH264;
        if (divx.Detect(d, n)) found = kFormatMpeg4Video;
        if (video.Detect(d, n)) found = kFormatMpegVideo;
        // The most specific answer stands: MPEG video, then MPEG-4 Part 2, then H.264.
        if (found == kFormatMpegVideo)
            OnVideoFound(video);
        else if (found == kFormatMpeg4Video)
            OnMPEG4VideoFound(divx);
        else if (found == kFormatH264)
            OnH264Found(h264);
        detected = found;
        if (!detected && family == kFormatMpegVideo) Drop(std::min({h264.resume, divx.resume, video.resume}));
    }
    if (!detected && (family == kFormatAC3 || (family == kFormatUnknown && isPrivate)) && (packetStarts > 1 || final)) {
        if (ac3.Detect(d, n)) {
            OnAC3Found(ac3);
            detected = kFormatAC3;
        }
    }
    if (!detected && family == kFormatH264) {
        if (h264.Detect(d, n)) {
            OnH264Found(h264);
            detected = kFormatH264;
        } else
            Drop(h264.resume);
    }
    if (!detected && family == kFormatMpeg4Video) {
        if (divx.Detect(d, n)) {
            OnMPEG4VideoFound(divx);
            detected = kFormatMpeg4Video;
        } else
            Drop(divx.resume);
    }
}

void CStreamDetector::AnalyseSubstreams() {
    for (auto& kv : subStreams) kv.second->Analyse();
}

void CStreamDetectorSubstream::AddData(const uint8_t* d, uint32_t len, bool packetStart) {
    if (!buffer_.GetCapacity() && !buffer_.Allocate(CStreamDetector::kBufferSize)) return;
    if (buffer_.GetFree() <= len) {
        buffer_.Compact();
        if (buffer_.GetFree() < len) {
            Analyse();
            buffer_.Clear();
            packets = 0;
            subpictureEnd_ = -1;
        }
    }
    if (!packetStart) {
        buffer_.Append(d, len);
    } else if (len > 4) {
        ++packets;
        if (d[0] == id_) ++matchingPackets;
        if (d[0] >= 0x20 && d[0] <= 0x3F) subpictureEnd_ = int64_t((d[1] << 8) | d[2]) + buffer_.GetLength() - 4;
        buffer_.Append(d + 4, len - 4);
        if (lpcm.Parse(d, len)) {
            const bool first = result != 2;
            result = 2;
            owner_->detected = kFormatSubStreams;
            ++lpcmCount;
            if (first) owner_->OnLPCMFound(lpcm, owner_->SubKey(id_));
        }
    }
    if (subpictureEnd_ >= 0) {
        const bool first = result != 3;
        result = 3;
        owner_->detected = kFormatSubStreams;
        ++subpictureCount;
        subpictureEnd_ = -1;
        if (first) owner_->OnSubpictureFound(owner_->SubKey(id_));
    }
}

uint32_t CStreamDetectorSubstream::Analyse() {
    if (result) return result;
    if (buffer_.GetLength() && ac3.Detect(buffer_.GetReadPtr(), buffer_.GetLength())) {
        result = 1;
        owner_->detected = kFormatSubStreams;
        owner_->OnSubstreamAC3Found(ac3, owner_->SubKey(id_));
    }
    return result;
}

}  // namespace BSUtils
