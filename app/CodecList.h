#pragma once

#include "recorder/output/CodecCatalogue.h"

#include <string>

class QComboBox;

// Fills the codec list with the catalogue's descriptions and selects the saved
// codec when it is one of them word for word, otherwise the catalogue's
// preferred entry; with neither, nothing is selected.
void FillCodecList(QComboBox& box, const CCodecCatalogue::Listing& listing,
                   const std::u16string& savedCodec);
