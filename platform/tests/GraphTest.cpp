// Our source and transform in a graph run by the platform's graph manager,
// ending in the platform's Null Renderer; and the output queue.
#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

template <class T>
struct Ptr {
    T* p = nullptr;
    ~Ptr() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
    operator T*() const { return p; }
};

IPin* FirstPin(IBaseFilter* f, PIN_DIRECTION dir) {
    Ptr<IEnumPins> e;
    if (FAILED(f->EnumPins(&e))) return nullptr;
    IPin* pin = nullptr;
    while (e->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir) return pin;
        pin->Release();
    }
    return nullptr;
}

// Runs f on a thread and fails instead of hanging when it does not return.
template <class F>
bool FinishesWithin(DWORD ms, F f) {
    struct Call {
        F f;
        static DWORD WINAPI Run(void* pv) {
            static_cast<Call*>(pv)->f();
            return 0;
        }
    };
    auto* c = new Call{f};
    HANDLE t = CreateThread(nullptr, 0, Call::Run, c, 0, nullptr);
    bool done = WaitForSingleObject(t, ms) == WAIT_OBJECT_0;
    CloseHandle(t);
    if (done) delete c;  // else leaked on purpose: the thread still uses it
    return done;
}

class Graph : public ::testing::Test {
protected:
    void Build(LONG samples) {
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         reinterpret_cast<void**>(&graph)));
        source = new TestSource(nullptr, samples);
        source->AddRef();
        transform = new TestTransform(nullptr);
        transform->AddRef();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PlatformNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(&renderer)));
        ASSERT_EQ(S_OK, graph->AddFilter(source, L"Source"));
        ASSERT_EQ(S_OK, graph->AddFilter(transform, L"Transform"));
        ASSERT_EQ(S_OK, graph->AddFilter(renderer, L"Null"));
        Ptr<IPin> srcOut, xIn, xOut, nullIn;
        srcOut.p = FirstPin(source, PINDIR_OUTPUT);
        xIn.p = FirstPin(transform, PINDIR_INPUT);
        xOut.p = FirstPin(transform, PINDIR_OUTPUT);
        nullIn.p = FirstPin(renderer, PINDIR_INPUT);
        ASSERT_TRUE(srcOut && xIn && xOut && nullIn);
        ASSERT_EQ(S_OK, graph->ConnectDirect(srcOut, xIn, nullptr));
        ASSERT_EQ(S_OK, graph->ConnectDirect(xOut, nullIn, nullptr));

        Ptr<IPin> peer;
        ASSERT_EQ(S_OK, xIn->ConnectedTo(&peer));
        EXPECT_EQ(srcOut.p, peer.p);
        AM_MEDIA_TYPE mt;
        ASSERT_EQ(S_OK, xOut->ConnectionMediaType(&mt));
        EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, mt.majortype));
        FreeMediaType(mt);

        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
    }
    void TearDown() override {
        if (control) {
            control->Stop();
            control->Release();
        }
        if (events) events->Release();
        if (graph) {
            EXPECT_EQ(0u, graph->Release());
        }
        if (renderer) renderer->Release();
        if (transform) {
            EXPECT_EQ(0u, transform->Release());
        }
        if (source) {
            EXPECT_EQ(0u, source->Release());
        }
    }
    IGraphBuilder* graph = nullptr;
    IMediaControl* control = nullptr;
    IMediaEvent* events = nullptr;
    TestSource* source = nullptr;
    TestTransform* transform = nullptr;
    IBaseFilter* renderer = nullptr;
};

TEST_F(Graph, RunsToTheEndInOrder) {
    Build(50);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    long code = 0;
    ASSERT_EQ(S_OK, events->WaitForCompletion(10000, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    std::vector<DWORD> seen = transform->Seen();
    ASSERT_EQ(50u, seen.size());
    for (DWORD i = 0; i < seen.size(); i++) ASSERT_EQ(i, seen[i]);
    ASSERT_EQ(S_OK, control->Stop());

    // And once more from the start after Stop.
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_EQ(S_OK, events->WaitForCompletion(10000, &code));
    EXPECT_EQ(EC_COMPLETE, code);
}

TEST_F(Graph, StopWhileTheStreamingThreadIsBlocked) {
    Build(-1);
    // Paused, the renderer holds the first sample and blocks the streaming
    // thread in Receive; the source's next buffer waits in GetBuffer.
    HRESULT hr = control->Pause();
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    OAFilterState state;
    ASSERT_EQ(S_OK, control->GetState(5000, &state));
    EXPECT_EQ(State_Paused, state);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(transform->FirstSample(), 5000));
    Sleep(100);
    LONG before = source->Delivered();
    Sleep(100);
    EXPECT_EQ(before, source->Delivered()) << "the stream is held while paused";

    IMediaControl* mc = control;
    HRESULT hrStop = E_UNEXPECTED;
    ASSERT_TRUE(FinishesWithin(10000, [&] { hrStop = mc->Stop(); })) << "Stop deadlocked";
    EXPECT_EQ(S_OK, hrStop);

    // Running flat out, then stopped: again no deadlock, several times.
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        Sleep(50);
        ASSERT_TRUE(FinishesWithin(10000, [&] { hrStop = mc->Stop(); })) << "Stop deadlocked, round " << i;
        EXPECT_EQ(S_OK, hrStop);
    }
    EXPECT_GT(source->Delivered(), before);
}

// Our own renderer keeps every sample, so the transform's next GetBuffer
// waits forever inside Receive; the graph manager's Stop must still end.
TEST(GraphWithHoldingRenderer, StopWhileWaitingForABuffer) {
    Ptr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&graph)));
    auto* source = new TestSource(nullptr, -1);
    auto* transform = new TestTransform(nullptr);
    auto* sink = new TestSink;
    sink->HoldSamples();
    ASSERT_EQ(S_OK, graph->AddFilter(source, L"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(transform, L"Transform"));
    ASSERT_EQ(S_OK, graph->AddFilter(sink, L"Sink"));
    Ptr<IPin> srcOut, xIn, xOut;
    srcOut.p = FirstPin(source, PINDIR_OUTPUT);
    xIn.p = FirstPin(transform, PINDIR_INPUT);
    xOut.p = FirstPin(transform, PINDIR_OUTPUT);
    ASSERT_EQ(S_OK, graph->ConnectDirect(srcOut, xIn, nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(xOut, sink->InputPin(), nullptr));

    Ptr<IMediaControl> control;
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sink->Arrived(), 5000));
    Sleep(100);
    EXPECT_EQ(1u, sink->Seen().size()) << "one output buffer, held: the stream stalls";

    IMediaControl* mc = control;
    HRESULT hrStop = E_UNEXPECTED;
    ASSERT_TRUE(FinishesWithin(10000, [&] { hrStop = mc->Stop(); })) << "Stop deadlocked";
    EXPECT_EQ(S_OK, hrStop);
    sink->ReleaseHeld();

    // Running again works from a clean state.
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sink->Arrived(), 5000));
    ASSERT_TRUE(FinishesWithin(10000, [&] { hrStop = mc->Stop(); })) << "Stop deadlocked the second time";
    sink->ReleaseHeld();
}

// ---- COutputQueue ----

class Queue : public ::testing::Test {
protected:
    void SetUp() override {
        sink = new TestSink;
        sink->AddRef();
        ASSERT_EQ(S_OK, sink->Pause());  // unconnected, but streaming
        ASSERT_EQ(S_OK, CreateMemoryAllocator(&alloc));
        ALLOCATOR_PROPERTIES req = {32, 4, 1, 0}, actual;
        ASSERT_EQ(S_OK, alloc->SetProperties(&req, &actual));
        ASSERT_EQ(S_OK, alloc->Commit());
    }
    void TearDown() override {
        alloc->Decommit();
        EXPECT_EQ(0u, alloc->Release());
        sink->Stop();
        EXPECT_EQ(0u, sink->Release());
    }
    IMediaSample* Sample(DWORD seq) {
        IMediaSample* s = nullptr;
        EXPECT_EQ(S_OK, alloc->GetBuffer(&s, nullptr, nullptr, 0));
        BYTE* p = nullptr;
        s->GetPointer(&p);
        memcpy(p, &seq, 4);
        s->SetActualDataLength(4);
        return s;
    }
    // Waits until the sink has n samples or the time is up.
    std::vector<DWORD> WaitFor(size_t n, DWORD ms = 5000) {
        DWORD start = GetTickCount();
        for (;;) {
            std::vector<DWORD> seen = sink->Seen();
            if (seen.size() >= n || GetTickCount() - start > ms) return seen;
            WaitForSingleObject(sink->Arrived(), 20);
        }
    }
    TestSink* sink = nullptr;
    IMemAllocator* alloc = nullptr;
};

std::vector<DWORD> Iota(DWORD n) {
    std::vector<DWORD> v;
    for (DWORD i = 0; i < n; i++) v.push_back(i);
    return v;
}

TEST_F(Queue, ThreadDeliversWholeBatchesInOrderAndTheRestOnSendAnyway) {
    HRESULT hr = S_OK;
    {
        COutputQueue q(sink->InputPin(), &hr, FALSE, TRUE, 3, TRUE);
        ASSERT_EQ(S_OK, hr);
        for (DWORD i = 0; i < 7; i++) ASSERT_EQ(S_OK, q.Receive(Sample(i)));
        EXPECT_EQ(Iota(6), WaitFor(6));
        Sleep(100);
        EXPECT_EQ(6u, sink->Seen().size()) << "an exact batch waits for its third sample";
        q.SendAnyway();
        EXPECT_EQ(Iota(7), WaitFor(7));
        q.EOS();
        DWORD start = GetTickCount();
        while (sink->EndOfStreamCount() == 0 && GetTickCount() - start < 5000) Sleep(5);
        EXPECT_EQ(1, sink->EndOfStreamCount());
    }
    EXPECT_EQ((std::vector<long>{3, 3, 1}), sink->Batches());
}

TEST_F(Queue, EndOfStreamFollowsTheSamplesBeforeIt) {
    HRESULT hr = S_OK;
    COutputQueue q(sink->InputPin(), &hr, FALSE, TRUE, 100, FALSE);
    ASSERT_EQ(S_OK, hr);
    for (DWORD i = 0; i < 20; i++) ASSERT_EQ(S_OK, q.Receive(Sample(i)));
    q.EOS();
    DWORD start = GetTickCount();
    while (sink->EndOfStreamCount() == 0 && GetTickCount() - start < 5000) Sleep(5);
    EXPECT_EQ(1, sink->EndOfStreamCount());
    EXPECT_EQ(Iota(20), sink->Seen());
}

TEST_F(Queue, DirectModeDeliversOnTheCallersThread) {
    HRESULT hr = S_OK;
    COutputQueue q(sink->InputPin(), &hr, FALSE, FALSE, 2, TRUE);
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, q.Receive(Sample(0)));
    EXPECT_TRUE(sink->Seen().empty());
    EXPECT_FALSE(q.IsIdle());
    ASSERT_EQ(S_OK, q.Receive(Sample(1)));
    EXPECT_EQ(Iota(2), sink->Seen());
    EXPECT_TRUE(q.IsIdle());
}

TEST_F(Queue, FlushDropsQueuedSamples) {
    HRESULT hr = S_OK;
    COutputQueue q(sink->InputPin(), &hr, FALSE, TRUE, 10, TRUE);
    ASSERT_EQ(S_OK, hr);
    for (DWORD i = 0; i < 5; i++) ASSERT_EQ(S_OK, q.Receive(Sample(i)));
    q.BeginFlush();
    EXPECT_EQ(S_FALSE, q.Receive(Sample(99))) << "refused while flushing";
    q.EndFlush();
    ASSERT_EQ(S_OK, q.Receive(Sample(5)));
    q.SendAnyway();
    EXPECT_EQ((std::vector<DWORD>{5}), WaitFor(1));
    // Every sample came back to the allocator.
    LONG freeCount = 0;
    Ptr<IMemAllocatorCallbackTemp> cb;
    ASSERT_EQ(S_OK, alloc->QueryInterface(IID_IMemAllocatorCallbackTemp, reinterpret_cast<void**>(&cb)));
    DWORD start = GetTickCount();
    while (cb->GetFreeCount(&freeCount) == S_OK && freeCount != 32 && GetTickCount() - start < 2000) Sleep(5);
    EXPECT_EQ(32, freeCount);
}

}  // namespace
