/* The naive floor of a process snapshot: every pass lists /proc and opens, reads and closes
 * <pid>/stat and <pid>/statm of every process. Prints the wall and CPU time of each pass.
 * Usage: snapshot_floor [passes] */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

static double wallMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static double cpuMs(void) {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (double)(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

static long readFile(const char* path, char* buf, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n = read(fd, buf, size);
  close(fd);
  return (long)n;
}

static int pass(void) {
  DIR* d = opendir("/proc");
  if (!d) return -1;
  char path[300], buf[4096];
  int processes = 0;
  long bytes = 0;
  struct dirent* e;
  while ((e = readdir(d)) != NULL) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    long n = readFile(path, buf, sizeof buf);
    if (n <= 0) continue;
    bytes += n;
    snprintf(path, sizeof path, "/proc/%s/statm", e->d_name);
    n = readFile(path, buf, sizeof buf);
    if (n > 0) bytes += n;
    ++processes;
  }
  closedir(d);
  return bytes > 0 ? processes : 0;
}

int main(int argc, char** argv) {
  int passes = argc > 1 ? atoi(argv[1]) : 1;
  if (passes < 1) passes = 1;
  int processes = 0;
  printf("pass_wall_ms");
  double cpu[4096];
  if (passes > 4096) passes = 4096;
  for (int i = 0; i < passes; ++i) {
    double w = wallMs(), c = cpuMs();
    processes = pass();
    printf(" %.3f", wallMs() - w);
    cpu[i] = cpuMs() - c;
  }
  printf("\npass_cpu_ms");
  for (int i = 0; i < passes; ++i) printf(" %.3f", cpu[i]);
  printf("\nprocesses %d\n", processes);
  return processes > 0 ? 0 : 1;
}
