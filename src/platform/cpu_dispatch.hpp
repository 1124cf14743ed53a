#pragma once

// Marks a function whose loops vectorise: it is compiled for several
// instruction sets and the best one the processor has is chosen when the
// program starts (not under the thread sanitizer, which cannot run the code
// that chooses, nor with clang).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define PEDSIM_CPU_DISPATCH \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "arch=x86-64-v2", "default")))
#else
#define PEDSIM_CPU_DISPATCH
#endif
