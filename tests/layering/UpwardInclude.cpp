// Compiled with what kestrel_graphics sees by the layering test, which expects
// the second include to fail: key images know nothing of the control elements
// above them. The first include shows that the library's own headers are found.
#include "graphics/Graphics.h"
#include "elements/StateImageFactory.h"
