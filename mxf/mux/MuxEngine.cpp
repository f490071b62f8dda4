#include "mxf/mux/MuxEngine.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace mexora {

namespace {
class StdMutexLock : public MuxLock {
public:
    void lock() override { mutex_.lock(); }
    void unlock() override { mutex_.unlock(); }

private:
    std::mutex mutex_;
};
}  // namespace

MuxEngine::MuxEngine(WriterFactory factory, WriterServices services, std::unique_ptr<MuxLock> lock)
    : factory_(std::move(factory)), services_(std::move(services)), lock_(std::move(lock)) {
    if (!lock_) lock_ = std::make_unique<StdMutexLock>();
}

MuxEngine::~MuxEngine() = default;

int32_t MuxEngine::init() {
    statistics_ = EngineStatistics{};
    queue_.clear();
    writer_.reset();
    if (!factory_) {
        // No MXF writer is built in: the engine takes settings but refuses streams.
        state_ = kStateInitialised;
        return kEngineOk;
    }
    try {
        writer_ = factory_(*this);
    } catch (const std::bad_alloc&) {
        return kEngineNoMemory;
    }
    if (!writer_) return kEngineNoMemory;
    const int32_t r = writer_->start();
    if (r < 0) {
        writer_.reset();
        return r;
    }
    state_ = kStateInitialised;
    return kEngineOk;
}

int32_t MuxEngine::reset() {
    statistics_ = EngineStatistics{};
    if (writer_) writer_->reset();
    return kEngineOk;
}

int32_t MuxEngine::release_writer() {
    writer_.reset();
    queue_.clear();
    return kEngineOk;
}

int32_t MuxEngine::read_settings_file(const char* name, EngineSettings* settings, SettingsNames* names) {
    return ReadSettingsFile(name, settings, names);
}

int32_t MuxEngine::set_settings(const EngineSettings* settings) {
    if (!settings) return kEngineNullArgument;
    settings_ = *settings;
    return kEngineOk;
}

int32_t MuxEngine::get_settings(EngineSettings* settings) const {
    if (!settings) return kEngineNullArgument;
    *settings = settings_;
    return kEngineOk;
}

int32_t MuxEngine::set_stream_count(int32_t count) {
    streamCount_ = count;
    return kEngineOk;
}

int32_t MuxEngine::add_stream(int32_t streamId, int32_t output) {
    if (!writer_) return kNoWriter;
    return writer_->add_stream(streamId, output);
}

int32_t MuxEngine::add_sample(int32_t streamId, const uint8_t* data, uint32_t length) {
    if (!writer_) return kNoWriter;
    if (!data && length) return kEngineNullArgument;
    if (state_ == kStateInitialised) state_ = kStateRunning;
    statistics_.samplesIn++;
    statistics_.bytesIn += length;
    const int32_t r = writer_->add_sample(streamId, data, length);
    return r < 0 ? r : kEngineOk;
}

int32_t MuxEngine::output_available() const {
    return queue_.empty() ? kNothingAvailable : kOutputAvailable;
}

int32_t MuxEngine::get_output_sample_info(OutputInfo* info) const {
    if (!info) return kEngineNullArgument;
    if (queue_.empty()) return kNothingAvailable;
    const OutputPiece& p = queue_.front();
    info->length = static_cast<uint32_t>(p.data.size());
    info->position = p.position;
    info->output = p.output;
    return kEngineOk;
}

int32_t MuxEngine::copy_output_sample(uint8_t* destination) {
    if (!destination) return kEngineNullArgument;
    if (queue_.empty()) return kNothingAvailable;
    const OutputPiece& p = queue_.front();
    if (!p.data.empty()) std::memcpy(destination, p.data.data(), p.data.size());
    return drop_output_sample();
}

int32_t MuxEngine::get_output_sample_pointer(const uint8_t** data) const {
    if (!data) return kEngineNullArgument;
    *data = nullptr;
    if (queue_.empty() || queue_.front().data.empty()) return kNothingAvailable;
    *data = queue_.front().data.data();
    return kEngineOk;
}

int32_t MuxEngine::drop_output_sample() {
    if (queue_.empty()) return kEngineOk;
    const uint32_t length = static_cast<uint32_t>(queue_.front().data.size());
    if (writer_) writer_->recycle(std::move(queue_.front().data));
    queue_.pop_front();
    statistics_.piecesOut++;
    statistics_.bytesOut += length;
    if (writer_) writer_->output_taken(length);
    FinishIfDrained();
    return kEngineOk;
}

int32_t MuxEngine::end_of_stream(int32_t streamId) {
    if (!writer_) return kNoWriter;
    const int32_t r = writer_->end_of_stream(streamId);
    FinishIfDrained();
    return r;
}

int32_t MuxEngine::get_statistic(EngineStatistics* statistics) const {
    if (!statistics) return kEngineNullArgument;
    *statistics = statistics_;
    return kEngineOk;
}

int32_t MuxEngine::test_output_file(const char* name) {
    if (!name) return kEngineNullArgument;
    FILE* f = std::fopen(name, "wb");
    if (!f) return kEngineFileError;
    return std::fclose(f) == 0 ? kEngineOk : kEngineFileError;
}

void MuxEngine::QueueOutput(OutputPiece piece) {
    queue_.push_back(std::move(piece));
}

void MuxEngine::FinishIfDrained() {
    if (queue_.empty() && writer_ && writer_->finished() && state_ != kStateOverLimit) state_ = kStateFinished;
}

}  // namespace mexora
