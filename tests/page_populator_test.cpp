#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "page_populator.h"

namespace pairhits {
namespace {

// How many of the mapping's pages are resident.
std::size_t resident_pages(void* p, std::size_t bytes) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> in_core(bytes / page);
  EXPECT_EQ(::mincore(p, bytes, in_core.data()), 0);
  std::size_t count = 0;
  for (unsigned char c : in_core) count += c & 1;
  return count;
}

// Whether this kernel knows the advice (Linux 5.14 and later).
bool kernel_populates() {
#if defined(MADV_POPULATE_WRITE)
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void* probe = ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  const bool known = probe != MAP_FAILED && ::madvise(probe, page, MADV_POPULATE_WRITE) == 0;
  if (probe != MAP_FAILED) ::munmap(probe, page);
  return known;
#else
  return false;
#endif
}

TEST(PagePopulator, BacksWhatItIsAskedFor) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t bytes = 64 * page;
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  ASSERT_EQ(resident_pages(p, bytes), 0u);
  {
    PagePopulator populator;
    populator.wait_idle();  // nothing asked: returns at once
    populator.populate(static_cast<char*>(p) + 16 * page, 32 * page);
    populator.wait_idle();
    EXPECT_EQ(resident_pages(p, 16 * page), 0u);
    EXPECT_EQ(resident_pages(static_cast<char*>(p) + 16 * page, 32 * page), kernel_populates() ? 32u : 0u);
    EXPECT_EQ(resident_pages(static_cast<char*>(p) + 48 * page, 16 * page), 0u);
  }
  // Still zero, as fresh memory is.
  for (std::size_t i = 0; i < bytes; i += page) ASSERT_EQ(static_cast<char*>(p)[i], 0);
  ::munmap(p, bytes);
}

}  // namespace
}  // namespace pairhits
