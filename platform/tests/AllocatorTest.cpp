// Allocators and samples: ours and the platform's answer alike, and a
// Decommit releases a thread waiting for a buffer.
#include <climits>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

struct AllocatorTarget {
    const char* name;
    bool ours;
    std::function<HRESULT(IMemAllocator**)> create;
};

const AllocatorTarget kAllocators[] = {
    {"Platform", false,
     [](IMemAllocator** pp) {
         return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                 reinterpret_cast<void**>(pp));
     }},
    {"Ours", true, [](IMemAllocator** pp) { return CreateMemoryAllocator(pp); }},
};

class Allocator : public ::testing::TestWithParam<AllocatorTarget> {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, GetParam().create(&alloc)); }
    void TearDown() override {
        if (alloc) {
            EXPECT_EQ(0u, alloc->Release());
        }
    }
    void SetUp(LONG count, LONG size, LONG align = 1, LONG prefix = 0) {
        ALLOCATOR_PROPERTIES req = {count, size, align, prefix}, actual;
        ASSERT_EQ(S_OK, alloc->SetProperties(&req, &actual));
        EXPECT_EQ(count, actual.cBuffers);
        EXPECT_GE(actual.cbBuffer, size);
    }
    IMemAllocator* alloc = nullptr;
};

TEST_P(Allocator, PropertiesAndCommitRules) {
    IMediaSample* s = nullptr;
    HRESULT hr = alloc->Commit();
    EXPECT_TRUE(FAILED(hr)) << "nothing to allocate yet";
    if (GetParam().ours) {
        EXPECT_EQ(VFW_E_SIZENOTSET, hr);
    }
    EXPECT_EQ(VFW_E_NOT_COMMITTED, alloc->GetBuffer(&s, nullptr, nullptr, 0));
    EXPECT_EQ(nullptr, s);

    // An alignment that is not a power of 2 is refused, at the latest by Commit.
    ALLOCATOR_PROPERTIES req = {2, 100, 3, 0}, actual;
    hr = alloc->SetProperties(&req, &actual);
    if (SUCCEEDED(hr)) hr = alloc->Commit();
    EXPECT_EQ(VFW_E_BADALIGN, hr);
    if (GetParam().ours) {
        EXPECT_EQ(VFW_E_BADALIGN, alloc->SetProperties(&req, &actual)) << "ours refuses it at once";
    }

    SetUp(2, 100, 16, 8);
    ASSERT_EQ(S_OK, alloc->Commit());
    EXPECT_EQ(S_OK, alloc->Commit()) << "committing twice is fine";
    req = {4, 100, 1, 0};
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, alloc->SetProperties(&req, &actual));

    IMediaSample *a = nullptr, *b = nullptr;
    ASSERT_EQ(S_OK, alloc->GetBuffer(&a, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, alloc->GetBuffer(&b, nullptr, nullptr, 0));
    BYTE* pa = nullptr;
    ASSERT_EQ(S_OK, a->GetPointer(&pa));
    EXPECT_EQ(0u, reinterpret_cast<UINT_PTR>(pa - 8) % 16) << "prefix plus buffer keep the alignment";
    EXPECT_EQ(VFW_E_TIMEOUT, alloc->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT));

    // Decommitted with samples out: they stay usable, the properties stay fixed.
    ASSERT_EQ(S_OK, alloc->Decommit());
    EXPECT_EQ(VFW_E_NOT_COMMITTED, alloc->GetBuffer(&s, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_BUFFERS_OUTSTANDING, alloc->SetProperties(&req, &actual));
    a->Release();
    b->Release();
    EXPECT_EQ(S_OK, alloc->SetProperties(&req, &actual));
    EXPECT_EQ(S_OK, alloc->Decommit()) << "decommitting twice is fine";
}

struct WaitForBuffer {
    IMemAllocator* alloc;
    HRESULT hr = E_UNEXPECTED;
    IMediaSample* sample = nullptr;
    static DWORD WINAPI Run(void* pv) {
        auto* w = static_cast<WaitForBuffer*>(pv);
        w->hr = w->alloc->GetBuffer(&w->sample, nullptr, nullptr, 0);
        return 0;
    }
};

TEST_P(Allocator, DecommitReleasesAWaitingGetBuffer) {
    SetUp(1, 16);
    ASSERT_EQ(S_OK, alloc->Commit());
    IMediaSample* held = nullptr;
    ASSERT_EQ(S_OK, alloc->GetBuffer(&held, nullptr, nullptr, 0));

    WaitForBuffer w{alloc};
    HANDLE t = CreateThread(nullptr, 0, WaitForBuffer::Run, &w, 0, nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(t, 200)) << "no buffer free: it waits";
    ASSERT_EQ(S_OK, alloc->Decommit());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 5000)) << "Decommit must wake the waiter";
    CloseHandle(t);
    EXPECT_TRUE(FAILED(w.hr)) << std::hex << w.hr;
    if (GetParam().ours) {
        EXPECT_EQ(VFW_E_NOT_COMMITTED, w.hr);
    }
    EXPECT_EQ(nullptr, w.sample);
    held->Release();
}

TEST_P(Allocator, ReleasedBufferWakesAWaiter) {
    SetUp(1, 16);
    ASSERT_EQ(S_OK, alloc->Commit());
    IMediaSample* held = nullptr;
    ASSERT_EQ(S_OK, alloc->GetBuffer(&held, nullptr, nullptr, 0));
    WaitForBuffer w{alloc};
    HANDLE t = CreateThread(nullptr, 0, WaitForBuffer::Run, &w, 0, nullptr);
    Sleep(50);
    held->Release();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 5000));
    CloseHandle(t);
    EXPECT_EQ(S_OK, w.hr);
    ASSERT_NE(nullptr, w.sample);
    w.sample->Release();
    alloc->Decommit();
}

TEST_P(Allocator, SampleProperties) {
    SetUp(1, 64);
    ASSERT_EQ(S_OK, alloc->Commit());
    IMediaSample* s = nullptr;
    ASSERT_EQ(S_OK, alloc->GetBuffer(&s, nullptr, nullptr, 0));

    REFERENCE_TIME t0 = 1, t1 = 2;
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&t0, &t1));
    REFERENCE_TIME start = 100;
    ASSERT_EQ(S_OK, s->SetTime(&start, nullptr));
    EXPECT_EQ(VFW_S_NO_STOP_TIME, s->GetTime(&t0, &t1));
    EXPECT_EQ(100, t0);
    EXPECT_EQ(101, t1);
    REFERENCE_TIME stop = 300;
    ASSERT_EQ(S_OK, s->SetTime(&start, &stop));
    EXPECT_EQ(S_OK, s->GetTime(&t0, &t1));
    EXPECT_EQ(300, t1);
    ASSERT_EQ(S_OK, s->SetTime(nullptr, nullptr));
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&t0, &t1));

    EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, s->GetMediaTime(&t0, &t1));
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, s->SetActualDataLength(s->GetSize() + 1));
    EXPECT_EQ(S_OK, s->SetActualDataLength(s->GetSize()));

    AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(S_FALSE, s->GetMediaType(&pmt));
    EXPECT_EQ(nullptr, pmt);
    CMediaType mt(&MEDIATYPE_Audio);
    ASSERT_EQ(S_OK, s->SetMediaType(&mt));
    ASSERT_EQ(S_OK, s->GetMediaType(&pmt));
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, pmt->majortype));
    DeleteMediaType(pmt);

    EXPECT_EQ(S_FALSE, s->IsSyncPoint());
    EXPECT_EQ(S_FALSE, s->IsDiscontinuity());
    EXPECT_EQ(S_FALSE, s->IsPreroll());
    s->SetSyncPoint(TRUE);
    s->SetDiscontinuity(TRUE);
    s->SetPreroll(TRUE);
    EXPECT_EQ(S_OK, s->IsSyncPoint());
    EXPECT_EQ(S_OK, s->IsDiscontinuity());
    EXPECT_EQ(S_OK, s->IsPreroll());

    // Flags and type do not survive the trip back to the allocator.
    s->Release();
    ASSERT_EQ(S_OK, alloc->GetBuffer(&s, nullptr, nullptr, 0));
    EXPECT_EQ(S_FALSE, s->IsSyncPoint());
    EXPECT_EQ(S_FALSE, s->IsDiscontinuity());
    EXPECT_EQ(S_FALSE, s->GetMediaType(&pmt));
    s->Release();
    alloc->Decommit();
}

INSTANTIATE_TEST_SUITE_P(Both, Allocator, ::testing::ValuesIn(kAllocators),
                         [](const ::testing::TestParamInfo<AllocatorTarget>& i) { return std::string(i.param.name); });

TEST(MediaType, CopyCompareAndPartialMatch) {
    CMediaType a;
    EXPECT_FALSE(a.IsValid());
    EXPECT_TRUE(a.IsFixedSize());
    EXPECT_EQ(1u, a.GetSampleSize());
    a.SetType(&MEDIATYPE_Video);
    a.SetSubtype(&MEDIASUBTYPE_RGB24);
    a.SetFormatType(&FORMAT_VideoInfo);
    BYTE fmt[] = {1, 2, 3, 4};
    ASSERT_TRUE(a.SetFormat(fmt, sizeof fmt));

    CMediaType b(a);
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.Format(), b.Format()) << "the copy owns its own format block";
    b.Format()[0] = 9;
    EXPECT_TRUE(a != b);

    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(a.MatchesPartial(&partial));

    AM_MEDIA_TYPE* p = CreateMediaType(&a);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(4u, p->cbFormat);
    EXPECT_EQ(0, memcmp(p->pbFormat, fmt, 4));
    DeleteMediaType(p);
    DeleteMediaType(nullptr);
}

TEST(RefTime, MulDiv) {
    struct Case {
        LONGLONG a, b, c, d, want;
    } cases[] = {
        {90000, 1000, 9, 0, 10000000},
        {-7, 1, 2, 0, -3},  // toward zero
        {7, 1, 2, 0, 3},
        {LLONG_MAX, 10, 10, 0, LLONG_MAX},  // wide intermediate
        {LLONG_MAX, 2, 1, 0, LLONG_MAX},    // saturates
        {LLONG_MIN, 2, 1, 0, LLONG_MIN},
        {3, 4, 5, 3, 3},  // (12 + 3) / 5
        {1, 1, 0, 0, LLONG_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.want, llMulDiv(c.a, c.b, c.c, c.d)) << c.a << "*" << c.b << "/" << c.c << "+" << c.d;
}

}  // namespace
