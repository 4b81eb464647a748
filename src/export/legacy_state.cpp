#include "export/legacy_state.h"

UnpackState gUnpack;  // zero-initialised at load
