#pragma once

// A running watch on the desktop's keyboard while a recording shows keys, reporting
// the keys it may show to one window as 1013 (see KeyReports.h); it stops when
// destroyed.
class KeyHook {
public:
    virtual ~KeyHook() = default;
};
