#include "app/CodecList.h"

#include "app/ComboBoxText.h"

#include <QComboBox>

void FillCodecList(QComboBox& box, const CCodecCatalogue::Listing& listing,
                   const std::u16string& savedCodec) {
    bool savedCodecListed = false;
    for (const std::u16string& description : listing.descriptions) {
        AddSortedString(box, QString::fromStdU16String(description));
        savedCodecListed = savedCodecListed || description == savedCodec;
    }
    const std::u16string& wanted = savedCodecListed ? savedCodec : listing.preferred;
    SelectString(box, 0, QString::fromStdU16String(wanted));
}
