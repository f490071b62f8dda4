// Class table of KorvellSink.dll.
#include <initguid.h>

#include <cguid.h>

#include "companions/kit/ComServer.h"
#include "companions/sinkfilter/SinkFilter.h"

namespace {

// {083863F1-70DE-11D0-BD40-00A0C911CE86}: the DirectShow filters category.
const CLSID kFilterCategory = {
    0x083863F1, 0x70DE, 0x11D0, {0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

const REGPINTYPES kInputTypes[] = {
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL},
    {&MEDIATYPE_NULL, &MEDIASUBTYPE_NULL},
};

const REGFILTERPINS kPins[] = {
    {const_cast<LPWSTR>(L"Input"), TRUE /*rendered*/, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr,
     2, kInputTypes},
};

REGFILTER2 MakeRegistration() {
    REGFILTER2 reg{};
    reg.dwVersion = 1;
    reg.dwMerit = MERIT_DO_NOT_USE;
    reg.cPins = 1;
    reg.rgPins = kPins;
    return reg;
}

const REGFILTER2 kRegistration = MakeRegistration();

}  // namespace

namespace kit {
const ClassEntry kClasses[] = {
    {&CLSID_KorvellSinkFilter, L"Korvell Sink Filter", &CKorvellSink::CreateInstance,
     &kRegistration, &kFilterCategory},
};
const int kClassCount = 1;
}  // namespace kit
