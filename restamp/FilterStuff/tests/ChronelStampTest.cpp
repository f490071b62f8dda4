// What "Korvell Chronel" stamps on its output, seen by a recording renderer
// of our own inside the test.
#include <gtest/gtest.h>

#include "platform/dshow/BaseClasses.h"

#include <initguid.h>

#include "companions/testsource/TestSourceControl.h"
#include "companions/tests/GraphHelpers.h"

#include <vector>

using namespace graphtest;

namespace {

struct Seen {
  long length;
  bool timed;
  REFERENCE_TIME start, stop;
  bool sync, discontinuity;
};

// {5C1A3E80-9D0B-4E1F-A7C2-3B6D8E9F0A14}
const CLSID kRecorderClsid = {0x5C1A3E80, 0x9D0B, 0x4E1F, {0xA7, 0xC2, 0x3B, 0x6D, 0x8E, 0x9F, 0x0A, 0x14}};

class CRecorderFilter;

class CRecorderPin : public CBaseInputPin {
 public:
  CRecorderPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
      : CBaseInputPin("recorder pin", filter, lock, phr, L"In") {}
  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    Seen s{};
    s.length = sample->GetActualDataLength();
    s.timed = sample->GetTime(&s.start, &s.stop) == S_OK;
    s.sync = sample->IsSyncPoint() == S_OK;
    s.discontinuity = sample->IsDiscontinuity() == S_OK;
    CAutoLock lock(&seenLock);
    seen.push_back(s);
    return S_OK;
  }
  STDMETHODIMP EndOfStream() override {
    ended.Set();
    return S_OK;
  }
  CCritSec seenLock;
  std::vector<Seen> seen;
  CAMEvent ended{TRUE};
};

class CRecorderFilter : public CBaseFilter {
 public:
  CRecorderFilter() : CBaseFilter("recorder", nullptr, &lock_, kRecorderClsid), pin_(this, &lock_, &hr_) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  CRecorderPin& Pin() { return pin_; }

 private:
  CCritSec lock_;
  HRESULT hr_ = S_OK;
  CRecorderPin pin_;
};

class ChronelStamps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    folder_ = MakeTempFolder();
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph_.PutVoid()));
    ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()));
    ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Test File Source", source_.Put()));
    ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel_.Put()));
    recorder_ = new CRecorderFilter;
    recorder_->NonDelegatingAddRef();
    ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"Source"));
    ASSERT_EQ(S_OK, graph_->AddFilter(chronel_.Get(), L"MPEG Chronel"));
    ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));

    const auto content = PatternBytes(10000, 3);
    const std::wstring source = folder_ + L"\\in.bin";
    ASSERT_TRUE(WriteFileBytes(source, content));
    ComPtr<ITestSourceControl> pacing;
    ASSERT_EQ(S_OK, source_->QueryInterface(IID_ITestSourceControl, pacing.PutVoid()));
    ASSERT_EQ(S_OK, pacing->SetPacing(2500, 0));
    ComPtr<IFileSourceFilter> load;
    ASSERT_EQ(S_OK, source_->QueryInterface(IID_IFileSourceFilter, load.PutVoid()));
    ASSERT_EQ(S_OK, load->Load(source.c_str(), nullptr));
    ComPtr<IPin> srcOut, in, out;
    ASSERT_EQ(S_OK, FindPinByName(source_.Get(), PINDIR_OUTPUT, L"Output", srcOut.Put()));
    ASSERT_EQ(S_OK, FindPinByName(chronel_.Get(), PINDIR_INPUT, L"Input", in.Put()));
    ASSERT_EQ(S_OK, FindPinByName(chronel_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(srcOut.Get(), in.Get(), nullptr));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder_->Pin(), nullptr));
  }

  void TearDown() override {
    if (control_) control_->Stop();
    control_.Reset();
    source_.Reset();
    chronel_.Reset();
    graph_.Reset();
    if (recorder_) recorder_->NonDelegatingRelease();
    RemoveTree(folder_);
    CoUninitialize();
  }

  std::vector<Seen> RunToEnd() {
    recorder_->Pin().ended.Reset();
    {
      CAutoLock lock(&recorder_->Pin().seenLock);
      recorder_->Pin().seen.clear();
    }
    EXPECT_TRUE(SUCCEEDED(control_->Run()));
    EXPECT_TRUE(recorder_->Pin().ended.Wait(20000));
    EXPECT_EQ(S_OK, control_->Stop());
    CAutoLock lock(&recorder_->Pin().seenLock);
    return recorder_->Pin().seen;
  }

  std::wstring folder_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IBaseFilter> source_, chronel_;
  CRecorderFilter* recorder_ = nullptr;
};

// The first chunk after a start is stamped [0, 1], sync point and
// discontinuity; the rest carry no time until the parser reports one. A
// second run after Stop starts the same way.
TEST_F(ChronelStamps, FirstChunkAfterEachStartIsStampedZero) {
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    std::vector<Seen> seen = RunToEnd();
    ASSERT_EQ(10u, seen.size());
    EXPECT_TRUE(seen[0].timed);
    EXPECT_EQ(0, seen[0].start);
    EXPECT_EQ(1, seen[0].stop);
    EXPECT_TRUE(seen[0].sync);
    EXPECT_TRUE(seen[0].discontinuity);
    long total = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
      total += seen[i].length;
      if (i == 0) continue;
      EXPECT_FALSE(seen[i].timed) << i;
      EXPECT_FALSE(seen[i].discontinuity) << i;
    }
    EXPECT_EQ(10000, total);
  }
}

}  // namespace
