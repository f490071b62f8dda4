// Demexa.dll: the exported C interface over the reader core. It converts the
// packed public records to the core's native ones and back.
#include <cstring>

#include "mxf/demux/Demexa.h"
#include "mxf/demux/MxfDemux.h"

namespace {

namespace core = mxfdemux;

core::Instance* Core(MxfDemuxInstance* in) {
    return reinterpret_cast<core::Instance*>(in);
}

int64_t Join(uint32_t lo, uint32_t hi) {
    return static_cast<int64_t>(static_cast<uint64_t>(hi) << 32 | lo);
}

MxfElementRecord Packed(const core::ElementRecord& r) {
    MxfElementRecord p;
    std::memset(&p, 0, sizeof p);
    p.data = r.data;
    p.length = r.length;
    p.flags = r.flags;
    p.key_position = r.keyPosition;
    p.piece_position = r.piecePosition;
    p.unused = r.unused;
    std::memcpy(p.params, r.params, sizeof p.params);
    p.header_length = r.headerLength;
    p.end_of_data = r.endOfData;
    p.element_length = r.elementLength;
    p.element_number = r.elementNumber;
    return p;
}

void PushPacked(bufstream* consumer, const core::ElementRecord& record) {
    MxfElementRecord p = Packed(record);
    (void)consumer->info(consumer, 0, MXF_ELEMENT_INFO_ID, &p, sizeof p);
}

int32_t BUFSTREAM_CALL PullPacked(bufstream* consumer, uint32_t, uint32_t id, void* data, uint32_t size) {
    if (id != MXF_ELEMENT_INFO_ID) return -1;
    if (size != sizeof(MxfElementRecord)) return 0;
    core::ElementRecord r{};
    const int32_t result = core::Pull(consumer, &r);
    if (result == 0) {
        const MxfElementRecord p = Packed(r);
        std::memcpy(data, &p, sizeof p);
    }
    return result;
}

}  // namespace

extern "C" {

MxfDemuxInstance* DEMEXA_CALL mxfDemuxNew(get_callback_ex get_callback, void* user, MxfDemuxSettings* settings) {
    core::Settings s{};
    if (settings) {
        s.callerFed = settings->caller_fed;
        s.fedSeek = settings->fed_seek;
        s.fedRead = settings->fed_read;
        s.fedUser = settings->fed_user;
        s.fileCallbacks = settings->file_callbacks;
        s.fileOpen = settings->file_open;
        s.fileSeek = settings->file_seek;
        s.fileRead = settings->file_read;
        s.fileClose = settings->file_close;
        s.fileUser = settings->file_user;
        s.fileSize = settings->file_size;
    }
    core::Instance* in = core::New(get_callback, user, settings ? &s : nullptr);
    if (in) core::SetRecordAdapter(in, core::RecordAdapter{PushPacked, PullPacked});
    return reinterpret_cast<MxfDemuxInstance*>(in);
}

void DEMEXA_CALL mxfDemuxFree(MxfDemuxInstance* instance) {
    core::Free(Core(instance));
}

int DEMEXA_CALL mxfDemuxOpen(MxfDemuxInstance* instance, void*, const char* name) {
    return core::Open(Core(instance), name);
}

int DEMEXA_CALL mxfDemuxOpenW(MxfDemuxInstance* instance, void*, const wchar_t* name) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide names are UTF-16");
    return core::OpenW(Core(instance), reinterpret_cast<const char16_t*>(name));
}

void DEMEXA_CALL mxfDemuxClose(MxfDemuxInstance* instance) {
    core::Close(Core(instance));
}

int DEMEXA_CALL mxfDemuxGetFileInfo(MxfDemuxInstance* instance, file_info_struct* info) {
    core::FileInfo f{};
    const int r = core::GetFileInfo(Core(instance), info ? &f : nullptr);
    if (r != 0) return r;
    std::memset(info, 0, sizeof *info);
    info->stream_count = f.streamCount;
    info->edit_unit_byte_count = f.editUnitByteCount;
    info->duration = f.duration;
    info->file_kind = f.fileKind;
    info->file_size = f.fileSize;
    info->index_count = f.indexCount;
    info->index_entry_length = f.indexEntryLength;
    info->index = f.index;
    return 0;
}

int DEMEXA_CALL mxfDemuxGetStreamInfo(MxfDemuxInstance* instance, stream_info_struct* info, int stream) {
    core::StreamInfo s{};
    const int r = core::GetStreamInfo(Core(instance), info ? &s : nullptr, stream);
    if (r != 0) return r;
    std::memset(info, 0, sizeof *info);
    info->kind = s.kind;
    info->item_type = s.itemType;
    info->bits_per_sample = s.bitsPerSample;
    info->sample_rate = s.sampleRate;
    info->channels = s.channels;
    return 0;
}

int DEMEXA_CALL mxfDemuxNewParser(MxfDemuxInstance* instance, mxfdmux_parser_settings* settings) {
    core::ParserSettings p{};
    if (settings) p.bufferSize = settings->buffer_size;
    return core::NewParser(Core(instance), settings ? &p : nullptr);
}

void DEMEXA_CALL mxfDemuxFreeParser(MxfDemuxInstance* instance, int parser) {
    core::FreeParser(Core(instance), parser);
}

int DEMEXA_CALL mxfDemuxAddStream(MxfDemuxInstance* instance, int parser, mxfdmux_stream_settings* settings) {
    core::StreamSettings s{};
    if (settings) s = core::StreamSettings{settings->stream, settings->bs};
    return core::AddStream(Core(instance), parser, settings ? &s : nullptr);
}

int DEMEXA_CALL mxfDemuxRemoveStream(MxfDemuxInstance* instance, int parser, mxfdmux_stream_settings* settings) {
    core::StreamSettings s{};
    if (settings) s = core::StreamSettings{settings->stream, settings->bs};
    return core::RemoveStream(Core(instance), parser, settings ? &s : nullptr);
}

int DEMEXA_CALL mxfDemuxSeek(MxfDemuxInstance* instance, int parser, uint32_t pos_lo, uint32_t pos_hi) {
    return core::Seek(Core(instance), parser, Join(pos_lo, pos_hi));
}

int DEMEXA_CALL mxfDemuxPush(MxfDemuxInstance* instance, int parser) {
    return core::Push(Core(instance), parser);
}

int DEMEXA_CALL mxfDemuxWakeParser(MxfDemuxInstance* instance, int parser) {
    return core::WakeParser(Core(instance), parser);
}

int DEMEXA_CALL mxfDemuxSleepParser(MxfDemuxInstance* instance, int parser) {
    return core::SleepParser(Core(instance), parser);
}

int DEMEXA_CALL mxfDemuxUpdateFilesize(MxfDemuxInstance* instance, int parser, uint32_t size_lo, uint32_t size_hi) {
    return core::UpdateFilesize(Core(instance), parser, Join(size_lo, size_hi));
}

int DEMEXA_CALL mxfDemuxSetFirstSplitRead(MxfDemuxInstance* instance, int parser, void* value) {
    return core::SetFirstSplitRead(Core(instance), parser, value);
}

}  // extern "C"
