// Which figure of a process a report is about: its processor share or its memory share.
#pragma once

enum class ProcessKind : bool { Memory = false, Cpu = true };
