// Connection rules of our pins and enumerators that notice a changed pin set.
#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

IPin* PinAt(IBaseFilter* f, int n) {
    IEnumPins* e = nullptr;
    IPin* p = nullptr;
    if (SUCCEEDED(f->EnumPins(&e))) {
        if (n > 0) e->Skip(static_cast<ULONG>(n));
        if (e->Next(1, &p, nullptr) != S_OK) p = nullptr;
        e->Release();
    }
    return p;
}

TEST(Enumerators, NoticeAChangedPinSet) {
    auto* source = new TestSource(nullptr, 1);
    source->AddRef();
    IEnumPins* e = nullptr;
    ASSERT_EQ(S_OK, source->EnumPins(&e));
    source->AddOutputPin();

    IPin* p = nullptr;
    ULONG n = 0;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, e->Next(1, &p, &n));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, e->Skip(1));
    IEnumPins* clone = nullptr;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, e->Clone(&clone));
    EXPECT_EQ(nullptr, clone);

    ASSERT_EQ(S_OK, e->Reset());
    IPin* pins[3] = {};
    EXPECT_EQ(S_FALSE, e->Next(3, pins, &n));
    EXPECT_EQ(2u, n) << "after Reset the new pin is there";
    for (ULONG i = 0; i < n; i++) pins[i]->Release();
    e->Release();
    EXPECT_EQ(0u, source->Release());
}

class Connection : public ::testing::Test {
protected:
    void SetUp() override {
        source = new TestSource(nullptr, 3);
        source->AddRef();
        transform = new TestTransform(nullptr);
        transform->AddRef();
        srcOut = PinAt(source, 0);
        xIn = PinAt(transform, 0);
        xOut = PinAt(transform, 1);
        ASSERT_TRUE(srcOut && xIn && xOut);
    }
    void TearDown() override {
        for (IPin* p : {srcOut, xIn, xOut}) {
            if (p) {
                p->Disconnect();
                p->Release();
            }
        }
        EXPECT_EQ(0u, transform->Release());
        EXPECT_EQ(0u, source->Release());
    }
    TestSource* source = nullptr;
    TestTransform* transform = nullptr;
    IPin *srcOut = nullptr, *xIn = nullptr, *xOut = nullptr;
};

TEST_F(Connection, RulesAndErrors) {
    // The transform's output has nothing to offer before its input is connected.
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, xOut->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG n = 0;
    EXPECT_EQ(S_FALSE, types->Next(1, &mt, &n));
    types->Release();

    EXPECT_EQ(VFW_E_INVALID_DIRECTION, srcOut->Connect(xOut, nullptr)) << "output to output";
    EXPECT_EQ(E_POINTER, srcOut->Connect(nullptr, nullptr));

    CMediaType audio(&MEDIATYPE_Audio);
    audio.SetFormatType(&FORMAT_None);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, srcOut->Connect(xIn, &audio)) << "a full type the source refuses";
    EXPECT_EQ(S_FALSE, xIn->QueryAccept(&audio));

    ASSERT_EQ(S_OK, srcOut->Connect(xIn, nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, srcOut->Connect(xIn, nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, xIn->ReceiveConnection(srcOut, &audio));
    IPin* peer = nullptr;
    ASSERT_EQ(S_OK, xIn->ConnectedTo(&peer));
    EXPECT_EQ(srcOut, peer);
    peer->Release();
    AM_MEDIA_TYPE cmt;
    ASSERT_EQ(S_OK, xIn->ConnectionMediaType(&cmt));
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, cmt.majortype));
    FreeMediaType(cmt);

    // Running: no disconnecting.
    ASSERT_EQ(S_OK, transform->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, xIn->Disconnect());
    ASSERT_EQ(S_OK, transform->Stop());

    EXPECT_EQ(S_OK, xIn->Disconnect());
    EXPECT_EQ(S_FALSE, xIn->Disconnect()) << "nothing left to disconnect";
    EXPECT_EQ(S_OK, srcOut->Disconnect());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, xIn->ConnectedTo(&peer));
}

// Samples pushed through the pins by hand, with flushing in between.
TEST_F(Connection, TransformStreamsAndFlushes) {
    auto* pSink = new TestSink;
    pSink->AddRef();
    TestSink& sink = *pSink;
    ASSERT_EQ(S_OK, srcOut->Connect(xIn, nullptr));
    ASSERT_EQ(S_OK, xOut->Connect(sink.InputPin(), nullptr));

    IMemInputPin* input = nullptr;
    ASSERT_EQ(S_OK, xIn->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)));
    IMemAllocator* alloc = nullptr;
    ASSERT_EQ(S_OK, input->GetAllocator(&alloc));
    ALLOCATOR_PROPERTIES req = {2, 4, 1, 0}, actual;
    ASSERT_EQ(S_OK, alloc->SetProperties(&req, &actual));
    ASSERT_EQ(S_OK, input->NotifyAllocator(alloc, FALSE));

    auto send = [&](DWORD seq) {
        IMediaSample* s = nullptr;
        EXPECT_EQ(S_OK, alloc->GetBuffer(&s, nullptr, nullptr, 0));
        BYTE* p = nullptr;
        s->GetPointer(&p);
        memcpy(p, &seq, 4);
        s->SetActualDataLength(4);
        HRESULT hr = input->Receive(s);
        s->Release();
        return hr;
    };

    IMediaSample* early = nullptr;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, alloc->GetBuffer(&early, nullptr, nullptr, 0)) << "stopped";

    ASSERT_EQ(S_OK, sink.Pause());
    ASSERT_EQ(S_OK, transform->Pause());
    ASSERT_EQ(S_OK, alloc->Commit());  // as the upstream filter's output pin would
    EXPECT_EQ(S_OK, send(1));
    EXPECT_EQ(S_OK, xIn->BeginFlush());
    EXPECT_EQ(S_FALSE, send(2)) << "dropped while flushing";
    EXPECT_EQ(S_OK, xIn->EndFlush());
    EXPECT_EQ(S_OK, send(3));
    EXPECT_EQ(S_OK, xIn->EndOfStream());
    EXPECT_EQ((std::vector<DWORD>{1, 3}), sink.Seen());
    EXPECT_EQ(1, sink.EndOfStreamCount()) << "end of stream goes downstream";

    ASSERT_EQ(S_OK, transform->Stop());
    ASSERT_EQ(S_OK, sink.Stop());
    alloc->Release();
    input->Release();
    EXPECT_EQ(S_OK, xOut->Disconnect());
    EXPECT_EQ(S_OK, sink.InputPin()->Disconnect());
    EXPECT_EQ(0u, pSink->Release()) << "only our reference was left";
}

}  // namespace
