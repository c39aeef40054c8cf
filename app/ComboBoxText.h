#pragma once

#include <QString>

class QComboBox;

// The list-box rules the codec list keeps: entries sorted without regard to case
// as they are added, and selection by the beginning of an entry's text.

// Inserts text before the first entry that sorts after it; returns its index.
int AddSortedString(QComboBox& box, const QString& text);

// Selects the first entry after start, wrapping round to the beginning, whose
// text begins with prefix (case ignored); start -1 searches from the first entry.
// Returns the selected index, or -1 with the selection unchanged when no entry
// matches or prefix is empty.
int SelectString(QComboBox& box, int start, const QString& prefix);
