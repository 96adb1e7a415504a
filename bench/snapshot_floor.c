/* The floors of a process snapshot: the naive open-read-close loop and the loop over kept
 * descriptors, each as bare as C allows. */
#define _GNU_SOURCE
#include "snapshot_floor.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long readFile(const char* path, char* buf, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n = read(fd, buf, size);
  close(fd);
  return (long)n;
}

int floorNaivePass(void) {
  DIR* d = opendir("/proc");
  if (!d) return -1;
  char path[300], buf[4096];
  int processes = 0;
  struct dirent* e;
  while ((e = readdir(d)) != NULL) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    if (readFile(path, buf, sizeof buf) <= 0) continue;
    snprintf(path, sizeof path, "/proc/%s/statm", e->d_name);
    readFile(path, buf, sizeof buf);
    ++processes;
  }
  closedir(d);
  return processes;
}

/* The kept floor's state: the /proc descriptor and, in ascending pid order, each process's
 * stat and statm descriptors (-1: not open). */
typedef struct {
  unsigned pid;
  int stat, statm;
} Kept;

static int keptRoot = -1;
static Kept* kept;
static Kept* next;
static size_t keptCount, keptCapacity;

static void closeKept(Kept* k) {
  if (k->stat >= 0) close(k->stat);
  if (k->statm >= 0) close(k->statm);
}

static int openAt(unsigned pid, const char* name) {
  char path[32];
  snprintf(path, sizeof path, "%u/%s", pid, name);
  return openat(keptRoot, path, O_RDONLY | O_CLOEXEC);
}

void floorKeptClose(void) {
  for (size_t i = 0; i < keptCount; ++i) closeKept(&kept[i]);
  keptCount = 0;
  if (keptRoot >= 0) close(keptRoot);
  keptRoot = -1;
}

int floorKeptPass(void) {
  if (keptRoot < 0) keptRoot = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (keptRoot < 0 || lseek(keptRoot, 0, SEEK_SET) < 0) return -1;
  char dents[16384], buf[4096];
  size_t old = 0, count = 0;
  int processes = 0;
  for (;;) {
    ssize_t n = getdents64(keptRoot, dents, sizeof dents);
    if (n < 0) return -1;
    if (n == 0) break;
    for (ssize_t off = 0; off < n;) {
      struct dirent64* d = (struct dirent64*)(dents + off);
      off += d->d_reclen;
      if (d->d_name[0] < '1' || d->d_name[0] > '9') continue;
      unsigned pid = (unsigned)strtoul(d->d_name, NULL, 10);
      if (count == keptCapacity) {
        keptCapacity = keptCapacity ? keptCapacity * 2 : 4096;
        next = realloc(next, keptCapacity * sizeof *next);
        Kept* grown = realloc(kept, keptCapacity * sizeof *kept);
        if (!next || !grown) abort();
        kept = grown;
      }
      while (old < keptCount && kept[old].pid < pid) closeKept(&kept[old++]);
      Kept k = {pid, -1, -1};
      if (old < keptCount && kept[old].pid == pid) k = kept[old++];
      if (k.stat < 0) k.stat = openAt(pid, "stat");
      if (k.statm < 0) k.statm = openAt(pid, "statm");
      if (k.stat < 0 || pread(k.stat, buf, sizeof buf, 0) <= 0) {
        closeKept(&k);
        continue;
      }
      if (k.statm >= 0 && pread(k.statm, buf, sizeof buf, 0) < 0) {
        close(k.statm);
        k.statm = -1;
      }
      next[count++] = k;
      ++processes;
    }
  }
  while (old < keptCount) closeKept(&kept[old++]);
  Kept* swap = kept;
  kept = next;
  next = swap;
  keptCount = count;
  return processes;
}
