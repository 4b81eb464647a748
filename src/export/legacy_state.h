// The one process-wide state of the legacy exports. QZUnpack, QZCallback and
// QZEntryInfo run the archive layer on it: one archive at a time is open
// through them, and their calls must not overlap. Zero at load: closed,
// nothing allocated, no callback.
#ifndef QZARC_EXPORT_LEGACY_STATE_H
#define QZARC_EXPORT_LEGACY_STATE_H

#include "archive/unpack_state.h"

extern UnpackState gUnpack;

#endif // QZARC_EXPORT_LEGACY_STATE_H
