#pragma once
// The bundled OpenBLAS's own thread pool. Products made inside parallel_for
// tasks must run on one BLAS thread each, or the two pools oversubscribe the
// cores.

// Sets the BLAS's thread count (OpenBLAS: openblas_set_num_threads). Does
// nothing with a linked BLAS that has no such call.
void set_blas_thread_count(int threads);
// The BLAS's thread count, or 1 with a BLAS that has no such call.
int blas_thread_count();
