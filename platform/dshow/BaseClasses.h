// Our DirectShow base classes: one header for filters to include.
#pragma once

#include "platform/dshow/ComBase.h"
#include "platform/dshow/Sync.h"
#include "platform/dshow/RefTime.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/Setup.h"
#include "platform/dshow/Allocator.h"
#include "platform/dshow/Filter.h"
#include "platform/dshow/Transform.h"
#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/Source.h"
#include "platform/dshow/PropPage.h"
#include "platform/dshow/RefClock.h"
