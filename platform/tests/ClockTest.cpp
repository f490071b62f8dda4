// Our reference clock next to the platform's system clock.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

struct ClockTarget {
    const char* name;
    std::function<HRESULT(IReferenceClock**)> create;
};

const ClockTarget kClocks[] = {
    {"Platform",
     [](IReferenceClock** pp) {
         return CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                 reinterpret_cast<void**>(pp));
     }},
    {"Ours",
     [](IReferenceClock** pp) {
         HRESULT hr = S_OK;
         auto* c = new CBaseReferenceClock(NAME("Test clock"), nullptr, &hr);
         if (FAILED(hr)) {
             delete c;
             return hr;
         }
         return c->NonDelegatingQueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(pp));
     }},
};

class Clock : public ::testing::TestWithParam<ClockTarget> {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, GetParam().create(&clock)); }
    void TearDown() override {
        if (clock) {
            EXPECT_EQ(0u, clock->Release());
        }
    }
    IReferenceClock* clock = nullptr;
};

TEST_P(Clock, TimeMovesForwardOnly) {
    REFERENCE_TIME t0 = 0, t1 = 0;
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&t0)));
    Sleep(30);
    ASSERT_TRUE(SUCCEEDED(clock->GetTime(&t1)));
    EXPECT_GE(t1 - t0, 200000) << "30 ms is at least 20 ms of clock";
    EXPECT_LT(t1 - t0, 10000000);
}

TEST_P(Clock, AdviseOnceAndPeriodically) {
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD_PTR cookie = 0;
    EXPECT_EQ(E_INVALIDARG, clock->AdviseTime(now, 0, 0, &cookie)) << "an event is needed";
    ASSERT_EQ(S_OK, clock->AdviseTime(now, 500000, reinterpret_cast<HEVENT>(ev), &cookie));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(ev, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ev, 2000)) << "fires after 50 ms";

    HANDLE sem = CreateSemaphoreW(nullptr, 0, 100, nullptr);
    clock->GetTime(&now);
    ASSERT_EQ(S_OK, clock->AdvisePeriodic(now + 100000, 100000, reinterpret_cast<HSEMAPHORE>(sem), &cookie));
    for (int i = 0; i < 3; i++) EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sem, 2000)) << "tick " << i;
    EXPECT_EQ(S_OK, clock->Unadvise(cookie));
    EXPECT_EQ(S_FALSE, clock->Unadvise(cookie)) << "already gone";
    CloseHandle(sem);
    CloseHandle(ev);
}

INSTANTIATE_TEST_SUITE_P(Both, Clock, ::testing::ValuesIn(kClocks),
                         [](const ::testing::TestParamInfo<ClockTarget>& i) { return std::string(i.param.name); });

}  // namespace
