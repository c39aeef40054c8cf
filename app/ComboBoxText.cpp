#include "app/ComboBoxText.h"

#include <QComboBox>

int AddSortedString(QComboBox& box, const QString& text) {
    int index = 0;
    while (index < box.count() &&
           QString::compare(box.itemText(index), text, Qt::CaseInsensitive) <= 0)
        ++index;
    const int selected = box.currentIndex();
    box.insertItem(index, text);
    // Adding never changes which entry is selected (Qt selects a first entry itself).
    box.setCurrentIndex(selected >= index ? selected + 1 : selected);
    return index;
}

int SelectString(QComboBox& box, int start, const QString& prefix) {
    if (prefix.isEmpty())
        return -1;
    const int count = box.count();
    for (int step = 0; step < count; ++step) {
        const int index = (start + 1 + step) % count;
        if (box.itemText(index).startsWith(prefix, Qt::CaseInsensitive)) {
            box.setCurrentIndex(index);
            return index;
        }
    }
    return -1;
}
