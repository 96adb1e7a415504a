// Consumer lists: placeholder until the list is built; the overall alarms already call it.
#include "process/consumer_list.h"

void listConsumers(ProcessKind, const ProcessSnapshot*, float, uint32_t) {}
