// Line-21 caption samples for graph tests of the video encoder's caption
// input: CEA-608 byte pairs fed through an EsSourceFilter.
#pragma once

#include "tests/support/EsSource.h"

#include <string>

namespace testfilters {

// MEDIATYPE_AUXLine21Data with byte pairs, as a caption source offers it.
CMediaType Line21BytePairType();

// A pop-on caption of `text` (printable characters), one byte pair per
// frame from `first` on, `frame` apart: resume caption loading, the text,
// end of caption; control codes twice, as 608 sends them, and odd parity
// on every byte so that decoders accept them.
std::vector<EsUnit> PopOnCaption(const std::string& text, REFERENCE_TIME first, REFERENCE_TIME frame);

}  // namespace testfilters
