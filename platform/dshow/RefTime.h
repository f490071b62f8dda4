// Reference-time helpers (100 ns units).
#pragma once

#include "platform/dshow/ComBase.h"

const LONGLONG MILLISECONDS = 1000;
const LONGLONG NANOSECONDS = 1000000000;
const LONGLONG UNITS = NANOSECONDS / 100;
#define MILLISECONDS_TO_100NS_UNITS(lMs) Int32x32To64((lMs), (UNITS / MILLISECONDS))

class CRefTime {
public:
    REFERENCE_TIME m_time;
    CRefTime() : m_time(0) {}
    CRefTime(LONG msecs) : m_time(MILLISECONDS_TO_100NS_UNITS(msecs)) {}
    CRefTime(REFERENCE_TIME rt) : m_time(rt) {}
    operator REFERENCE_TIME() const { return m_time; }
    CRefTime& operator=(const REFERENCE_TIME& rt) {
        m_time = rt;
        return *this;
    }
    CRefTime& operator+=(const CRefTime& rt) {
        m_time += rt.m_time;
        return *this;
    }
    CRefTime& operator-=(const CRefTime& rt) {
        m_time -= rt.m_time;
        return *this;
    }
    LONG Millisecs() const { return static_cast<LONG>(m_time / (UNITS / MILLISECONDS)); }
    REFERENCE_TIME GetUnits() const { return m_time; }
};

// (a * b + d) / c with a 128-bit intermediate; rounds toward zero;
// overflow saturates to the largest value of the result's sign.
LONGLONG WINAPI llMulDiv(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG d);
// a * b / c for a 32-bit b and c.
LONGLONG WINAPI Int64x32Div32(LONGLONG a, LONG b, LONG c, LONG d);
