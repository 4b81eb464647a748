// The host's notification function, registered through QZCallback: progress
// percentages while a compressed entry is extracted (kind 1) and requests for
// a volume file that does not exist yet (kind 100).
#ifndef QZARC_HOST_CALLBACK_H
#define QZARC_HOST_CALLBACK_H

#include <cstdint>

#include "archive/unpack_state.h"
#include "qzarc.h"

constexpr int kNotifyProgress = QZ_NOTIFY_PROGRESS;
constexpr int kNotifyVolume = QZ_NOTIFY_VOLUME;

void SetHostCallback(UnpackState &s, HostCallback callback);
bool HostRegistered(UnpackState &s);

// Calls the registered callback with the five arguments and returns its
// answer; 0 when no callback is registered.
int NotifyHost(UnpackState &s, int kind, int value, int a, int b, char *text);

// The legacy host's answer to a missing volume (a VolumeRequest): the
// callback with kind 100, the volume number and the name buffer; an answer
// of 1 stops the waiting. Without a callback nobody can make the file
// appear, so it is tested for once.
bool AskHostForVolume(UnpackState &s, int number, char *name);

// The remaining share of total, in percent rounded half up; 0 once done >= total.
int RemainingPercent(uint32_t total, uint32_t done);

#endif // QZARC_HOST_CALLBACK_H
