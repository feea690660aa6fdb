#include "storage.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr uintptr_t huge_page_bytes = uintptr_t(2) << 20;

}  // namespace

void advise_huge_pages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
    if (bytes < 2 * huge_page_bytes) return;  // at most one whole huge page inside
    uintptr_t begin = (uintptr_t(data) + huge_page_bytes - 1) & ~(huge_page_bytes - 1);
    uintptr_t end = (uintptr_t(data) + bytes) & ~(huge_page_bytes - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}
