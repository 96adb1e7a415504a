/* The two floors a process snapshot is measured against, one pass each; the number of
 * processes read, or -1 when /proc cannot be listed. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The naive loop: lists /proc, then opens, reads and closes <pid>/stat and <pid>/statm of
 * every process. */
int floorNaivePass(void);

/* What procfs itself costs: one listing of /proc through a kept descriptor and a pread of
 * <pid>/stat and <pid>/statm through descriptors kept open from earlier passes (a new process's
 * files are opened once). */
int floorKeptPass(void);
/* Closes every descriptor floorKeptPass keeps. */
void floorKeptClose(void);

#ifdef __cplusplus
}
#endif
