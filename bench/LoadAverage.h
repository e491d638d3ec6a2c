#pragma once

#include <cstdio>

// The one-minute load average (-1 when unknown); above the number of cores,
// others' work decides the wall-clock rates of a benchmark.
inline double LoadAverage() {
  double load = -1;
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  if (f != nullptr) {
    if (std::fscanf(f, "%lf", &load) != 1) {
      load = -1;
    }
    std::fclose(f);
  }
  return load;
}
