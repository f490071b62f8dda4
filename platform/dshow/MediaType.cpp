#include "platform/dshow/MediaType.h"

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat != NULL) CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = NULL;
    if (mt.pUnk != NULL) {
        mt.pUnk->Release();
        mt.pUnk = NULL;
    }
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == NULL) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
    CheckPointer(pmtTarget, E_POINTER);
    CheckPointer(pmtSource, E_POINTER);
    *pmtTarget = *pmtSource;
    if (pmtSource->cbFormat != 0 && pmtSource->pbFormat != NULL) {
        pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
        if (pmtTarget->pbFormat == NULL) {
            pmtTarget->cbFormat = 0;
            pmtTarget->pUnk = NULL;
            return E_OUTOFMEMORY;
        }
        CopyMemory(pmtTarget->pbFormat, pmtSource->pbFormat, pmtTarget->cbFormat);
    } else {
        pmtTarget->cbFormat = 0;
        pmtTarget->pbFormat = NULL;
    }
    if (pmtTarget->pUnk != NULL) pmtTarget->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    if (pSrc == NULL) return NULL;
    AM_MEDIA_TYPE* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (pmt == NULL) return NULL;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        CoTaskMemFree(pmt);
        return NULL;
    }
    return pmt;
}

CMediaType::CMediaType() {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* type) {
    InitMediaType();
    majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) {
    InitMediaType();
    HRESULT hr = Set(rt);
    if (FAILED(hr) && phr != NULL) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt, HRESULT* phr) : _AMMediaType() {
    InitMediaType();
    HRESULT hr = Set(rt);
    if (FAILED(hr) && phr != NULL) *phr = hr;
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const CMediaType& rt) {
    Set(rt);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
    Set(rt);
    return *this;
}

BOOL CMediaType::operator==(const CMediaType& rt) const {
    return IsEqualGUID(majortype, rt.majortype) && IsEqualGUID(subtype, rt.subtype) &&
           IsEqualGUID(formattype, rt.formattype) && cbFormat == rt.cbFormat &&
           (cbFormat == 0 || memcmp(pbFormat, rt.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const CMediaType& rt) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(rt));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
    if (&rt == static_cast<const AM_MEDIA_TYPE*>(this)) return S_OK;
    FreeMediaType(*this);
    HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr)) {
        InitMediaType();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CMediaType::SetSampleSize(ULONG sz) {
    if (sz == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = sz;
    }
}

BOOL CMediaType::SetFormat(BYTE* pFormat, ULONG length) {
    if (AllocFormatBuffer(length) == NULL) return FALSE;
    if (length != 0) CopyMemory(pbFormat, pFormat, length);
    return TRUE;
}

void CMediaType::ResetFormatBuffer() {
    if (pbFormat != NULL) CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = NULL;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return NULL;
    }
    if (cbFormat == length && pbFormat != NULL) return pbFormat;
    BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (p == NULL) return NULL;
    ResetFormatBuffer();
    pbFormat = p;
    cbFormat = length;
    return p;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return NULL;
    }
    if (cbFormat == length && pbFormat != NULL) return pbFormat;
    BYTE* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (p == NULL) return NULL;
    if (pbFormat != NULL) {
        CopyMemory(p, pbFormat, cbFormat < length ? cbFormat : length);
        CoTaskMemFree(pbFormat);
    }
    pbFormat = p;
    cbFormat = length;
    return p;
}

void CMediaType::InitMediaType() {
    ZeroMemory(static_cast<AM_MEDIA_TYPE*>(this), sizeof(AM_MEDIA_TYPE));
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const {
    if (!IsEqualGUID(ppartial->majortype, GUID_NULL) && !IsEqualGUID(majortype, ppartial->majortype)) return FALSE;
    if (!IsEqualGUID(ppartial->subtype, GUID_NULL) && !IsEqualGUID(subtype, ppartial->subtype)) return FALSE;
    if (!IsEqualGUID(ppartial->formattype, GUID_NULL)) {
        if (!IsEqualGUID(formattype, ppartial->formattype)) return FALSE;
        if (cbFormat != ppartial->cbFormat) return FALSE;
        if (cbFormat != 0 && memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0) return FALSE;
    }
    return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
    return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}
