// Registration shared by the encoder filters: their record in extra filter
// categories (compressors, encoders) and the "Capabilities" values that
// mark them as encoders.
#pragma once

#include "platform/dshow/Setup.h"

#include <initializer_list>

// {7D22E920-5CA9-4787-8C2B-A6779BD11781}
extern const CLSID kEncoderCategory;

// Registers (or removes) the record in each category.
HRESULT RegisterFilterInCategories(const AMOVIESETUP_FILTER* setup, std::initializer_list<const CLSID*> categories,
                                   BOOL bRegister);
// HKCR "CLSID\{encoder category}\Instance\<name>\Capabilities" and
// "CLSID\{filter category}\Instance\{clsid}\Capabilities", each with the
// DWORD "{BB4FAA02-596C-4129-8FB3-74E75421FA02}" = 1.
HRESULT SetEncoderCapabilities(const AMOVIESETUP_FILTER* setup);
