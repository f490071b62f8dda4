// Re-bases the reported times onto one continuous output timeline: a time
// that leaves a 2.5 s window around the previous one continues from the last
// output time instead of jumping.
#pragma once

#include "restamp/parsers/BSElements.h"

#include <memory>
#include <vector>

constexpr int64_t PTS_JUMP_THRESHOLD = 25000000;  // 2.5 s in 100-ns units

class CTimeProcessorProgram;

class CTimeProcessorStream {
public:
    CTimeProcessorStream(const CStreamKey& k, uint32_t id, CTimeProcessorProgram* owner)
        : key(k), streamId(id), program(owner) {}
    virtual ~CTimeProcessorStream() = default;
    virtual int64_t Rebase(int64_t t);
    void ResetRecord() {
        prevTime = kNoTime;
        offset = 0;
        lastOutput = 0;
        jump = 0;
    }
    bool HasPrevious() const { return prevTime != kNoTime; }

    CStreamKey key;
    uint32_t streamId;
    int64_t prevTime = kNoTime;
    int64_t offset = 0;
    int64_t lastOutput = 0;
    uint32_t jump = 0;
    CTimeProcessorProgram* program;
};

class CTimeProcessorProgram {
public:
    explicit CTimeProcessorProgram(uint32_t n) : number(n) {}
    CTimeProcessorStream* Find(uint32_t id) const;
    // Adds a record unless one with the key exists; false when out of memory.
    bool AddStream(const CStreamKey& k, uint32_t id);
    int64_t ProcessTime(const CStreamKey& k, int64_t t, uint32_t id);
    void Synchronize();
    void ResetRecords() {
        for (auto& s : streams) s->ResetRecord();
    }

    uint32_t number;
    std::vector<std::unique_ptr<CTimeProcessorStream>> streams;
};

class CTimeProcessor {
public:
    // Output time of t for the stream record id; kNoTime when no record could be made.
    int64_t ProcessTime(const CStreamKey& k, int64_t t, uint32_t id);
    void Reset() {
        for (auto& p : programs_) p->ResetRecords();
    }
    void Clear() { programs_.clear(); }
    size_t ProgramCount() const { return programs_.size(); }
    const CTimeProcessorProgram* Program(size_t i) const { return programs_[i].get(); }

private:
    std::vector<std::unique_ptr<CTimeProcessorProgram>> programs_;
};
