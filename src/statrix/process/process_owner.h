// The owner of a process as "DOMAIN\name" from its token, or "SYSTEM" when it cannot be read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frame/host/host.h"

// Opens the process and its token, reads the token's user and looks the account up on the
// local system. Every failed step logs one Trace line with the system's error text and leaves
// the answer "SYSTEM"; nothing here throws for a failed system call.
CORE::corestring processOwner(uint32_t pid);

// The user SID of a TokenUser answer of `length` bytes, or null unless the SID (its header and
// every sub-authority it claims) lies inside those bytes.
PSID tokenUserSid(const std::byte* data, size_t length);
