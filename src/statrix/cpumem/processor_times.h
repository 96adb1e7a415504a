// Processor times of the whole machine: kernel+user and idle time summed over every processor.
#pragma once
#include <cstdint>
#include <functional>

#include "frame/host/host.h"

// Both sums are modulo 2^64 (see counterGrowth): only differences of two readings carry meaning.
struct ProcessorTimes {
  uint64_t total = 0;  // sum of kernel (idle included) plus user time, 100 ns
  uint64_t idle = 0;   // sum of idle time, 100 ns
};

// One query for per-processor entries: fills `buffer` (length bytes) and reports the length used,
// or with a length-mismatch status the length needed.
using ProcessorQuery = std::function<LONG(PVOID buffer, ULONG length, PULONG returned)>;

// Runs `query` and adds its entries to `sums`. Up to 128 processors are read into a stack
// buffer; when the system needs more room, one heap buffer of the needed size is used instead.
// False when the query fails.
bool addProcessorTimes(const ProcessorQuery& query, ProcessorTimes& sums);

// Reads and sums the times of all processors through the resolved query. Where the machine has
// more than one processor group, each group is asked separately (the plain query only answers
// the calling thread's group). Both sums are 0 when any query fails, so that a partial figure
// never reaches the CPU percentage.
ProcessorTimes readProcessorTimes();
