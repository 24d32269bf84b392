#pragma once
// Builds a function for wider vector units as well and picks one at load time.
// The clones run the same IEEE additions and products lane by lane (contraction
// to fused multiply-add is off for the whole build), so all give identical
// results.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VELMORA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VELMORA_VECTOR_CLONES
#endif
