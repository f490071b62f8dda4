// AM_MEDIA_TYPE holder that owns its format block.
#pragma once

#include "platform/dshow/ComBase.h"

class CMediaType : public _AMMediaType {
public:
    CMediaType();
    explicit CMediaType(const GUID* majortype);
    CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr = NULL);
    CMediaType(const CMediaType& rt, HRESULT* phr = NULL);
    ~CMediaType();

    CMediaType& operator=(const CMediaType& rt);
    CMediaType& operator=(const AM_MEDIA_TYPE& rt);
    BOOL operator==(const CMediaType& rt) const;
    BOOL operator!=(const CMediaType& rt) const { return !(*this == rt); }

    HRESULT Set(const CMediaType& rt);
    HRESULT Set(const AM_MEDIA_TYPE& rt);
    BOOL IsValid() const { return !IsEqualGUID(majortype, GUID_NULL); }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* ptype) { majortype = *ptype; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* ptype) { subtype = *ptype; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* pformattype) { formattype = *pformattype; }
    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
    void SetSampleSize(ULONG sz);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }

    ULONG FormatLength() const { return cbFormat; }
    BYTE* Format() const { return pbFormat; }
    BOOL SetFormat(BYTE* pFormat, ULONG length);
    void ResetFormatBuffer();
    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* ReallocFormatBuffer(ULONG length);

    void InitMediaType();
    // True when every GUID that ppartial specifies (not GUID_NULL) matches ours,
    // and its format block, if given, is equal.
    BOOL MatchesPartial(const CMediaType* ppartial) const;
    BOOL IsPartiallySpecified() const;
};

// Free functions on plain AM_MEDIA_TYPE records (CoTaskMem-owned).
void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt);
void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt);
HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);
AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc);
