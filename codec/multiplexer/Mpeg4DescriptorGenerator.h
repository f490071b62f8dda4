// MPEG-4 systems information of a DMB transport stream: one object
// descriptor with one ES descriptor per AAC or H.264 input (the AAC ones
// first, their clock the H.264 streams' reference), and one SL descriptor
// per stream for its PMT entry, after those of the object-descriptor and
// scene streams.
#pragma once

#include "codec/multiplexer/Descriptors.h"
#include "codec/scanning/Mpeg4Systems.h"

#include <cstdint>
#include <vector>

namespace muxcore {

// SL_descriptor (tag 30): the ES_ID of the stream whose PMT entry holds it.
class CSLDesc : public NS_DESCR::CDescriptorBase {
public:
    static constexpr uint8_t kTag = 30;
    CSLDesc(uint16_t esId, int32_t pid);
    uint16_t EsId() const { return esId_; }
    int32_t Pid() const { return pid_; }  // 0 for the streams the generator does not carry

private:
    uint16_t esId_;
    int32_t pid_;
};

// What the generator needs of an input.
struct DmbInput {
    int32_t streamType = 0;
    int32_t pid = 0;
    std::vector<std::vector<uint8_t>> sps, pps;  // H.264: NAL units without start codes
    std::vector<uint8_t> audioConfig;            // AAC: the AudioSpecificConfig
};

class MPEG4DescriptorGenerator {
public:
    static constexpr uint16_t kObjectDescriptorStreamEsId = 17;
    static constexpr uint16_t kSceneStreamEsId = 18;
    static constexpr uint16_t kFirstAacEsId = 101;
    static constexpr uint16_t kFirstH264EsId = 201;

    // False, and nothing kept, when an input is neither AAC nor H.264 (free
    // inputs are passed over).
    bool Build(const std::vector<DmbInput>& inputs);
    void Clear();

    // The initial object descriptor holds every stream's ES descriptor, in
    // the object descriptors' order.
    const SPL_MPEG4::IodDescriptor& Iod() const { return iod_; }
    // The IOD descriptor (tag 29) for the PMT's program info; see the .cpp
    // for what gives way when it outgrows its one-byte length.
    std::vector<uint8_t> ProgramInfo() const;
    // The SL descriptor of the input with this PID (null: none).
    const CSLDesc* SlFor(int32_t pid) const;
    const std::vector<SPL_MPEG4::ObjectDescriptor>& ObjectDescriptors() const { return ods_; }
    const std::vector<CSLDesc>& SlDescriptors() const { return sl_; }
    // Time stamps and clock references of 33 bits at 90 kHz, with start,
    // end and idle flags.
    static SPL_MPEG4::SLConfig DmbSlConfig();

private:
    uint16_t NextOdId(uint16_t from) const;

    SPL_MPEG4::IodDescriptor iod_;
    std::vector<SPL_MPEG4::ObjectDescriptor> ods_;
    std::vector<CSLDesc> sl_;
};

}  // namespace muxcore
