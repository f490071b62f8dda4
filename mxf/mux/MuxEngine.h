// The engine behind an instance of the exported interface: owns the MXF
// writer, the lock, the settings, the statistics and the queue of finished
// output pieces.
#pragma once

#include "mxf/mux/MxfWriter.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace mexora {

enum EngineCode : int32_t {
    kEngineOk = 0,
    kOutputAvailable = 20,
    kNothingAvailable = 21,
    kEngineFileError = -28,
    kEngineNoMemory = -29,
    kEngineNullArgument = -30,
    kNoWriter = -119,  // no MXF writer is built in
};

enum EngineState : int32_t {
    kStateFinished = 0,
    kStateInitialised = 1,
    kStateRunning = 2,
    kStateCreated = 3,
    kStateOverLimit = 4,
};

// The lock the interface holds around host-fed steps; injectable.
class MuxLock {
public:
    virtual ~MuxLock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

struct EngineStatistics {
    int64_t samplesIn = 0;
    int64_t bytesIn = 0;
    int64_t piecesOut = 0;
    int64_t bytesOut = 0;
};

struct OutputInfo {
    uint32_t length = 0;
    int64_t position = -1;
    int32_t output = 0;
};

// Where the settings file's names go.
struct SettingsNames {
    static constexpr int kSources = 50;
    static constexpr int kDestinations = 51;
    static constexpr int kNameBytes = 1024;
    char sources[kSources][kNameBytes];
    char destinations[kDestinations][kNameBytes];
    char statistics[kNameBytes];
    char samplesTable[kNameBytes];
};

class MuxEngine : private WriterHost {
public:
    MuxEngine(WriterFactory factory, WriterServices services, std::unique_ptr<MuxLock> lock = nullptr);
    ~MuxEngine() override;
    MuxEngine(const MuxEngine&) = delete;
    MuxEngine& operator=(const MuxEngine&) = delete;

    int32_t init();
    int32_t reset();
    int32_t release_writer();
    int32_t read_settings_file(const char* name, EngineSettings* settings, SettingsNames* names);
    int32_t set_settings(const EngineSettings* settings);
    int32_t get_settings(EngineSettings* settings) const;
    int32_t get_state() const { return state_; }
    int32_t set_stream_count(int32_t count);
    int32_t add_stream(int32_t streamId, int32_t output);
    int32_t add_sample(int32_t streamId, const uint8_t* data, uint32_t length);
    int32_t output_available() const;
    int32_t get_output_sample_info(OutputInfo* info) const;
    int32_t copy_output_sample(uint8_t* destination);
    int32_t get_output_sample_pointer(const uint8_t** data) const;
    int32_t drop_output_sample();
    int32_t end_of_stream(int32_t streamId);
    int32_t get_statistic(EngineStatistics* statistics) const;
    int32_t test_output_file(const char* name);

    MuxLock& Lock() { return *lock_; }

private:
    void QueueOutput(OutputPiece piece) override;
    void SetOverLimit() override { state_ = kStateOverLimit; }
    void ClearOverLimit() override {
        if (state_ == kStateOverLimit) state_ = kStateRunning;
    }
    const EngineSettings& Settings() const override { return settings_; }
    int32_t StreamCount() const override { return streamCount_; }
    const WriterServices& Services() const override { return services_; }
    void FinishIfDrained();

    WriterFactory factory_;
    WriterServices services_;
    std::unique_ptr<MuxLock> lock_;
    int32_t state_ = kStateCreated;
    std::unique_ptr<MxfWriter> writer_;
    EngineSettings settings_;
    EngineStatistics statistics_;
    std::deque<OutputPiece> queue_;
    int32_t streamCount_ = 0;
};

// The settings file reader (also used without an engine).
int32_t ReadSettingsFile(const char* name, EngineSettings* settings, SettingsNames* names);

}  // namespace mexora
