#pragma once

struct _XDisplay;

// The X connection Qt shows the application's windows on; nullptr on another
// platform (the tests' offscreen one) or before the application exists.
_XDisplay* ApplicationDisplay();
