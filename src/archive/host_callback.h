// The host's notification function, registered through QZCallback: progress
// percentages while a compressed entry is extracted (kind 1) and requests for
// a volume file that does not exist yet (kind 100).
#ifndef QZARC_HOST_CALLBACK_H
#define QZARC_HOST_CALLBACK_H

#include <cstdint>

#include "qzarc.h"

constexpr int kNotifyProgress = QZ_NOTIFY_PROGRESS;
constexpr int kNotifyVolume = QZ_NOTIFY_VOLUME;

void SetHostCallback(HostCallback callback);
bool HostRegistered();

// Calls the registered callback with the five arguments and returns its
// answer; 0 when no callback is registered.
int NotifyHost(int kind, int value, int a, int b, char *text);

// The remaining share of total, in percent rounded half up; 0 once done >= total.
int RemainingPercent(uint32_t total, uint32_t done);

#endif // QZARC_HOST_CALLBACK_H
