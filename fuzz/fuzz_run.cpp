// Fuzzes a whole run: the input bytes are the hit table, read through the
// real reader (4 KiB at a time, so lines cross its buffer's border),
// splitter, index and report; the report and messages go to /dev/null. An input starting with byte 0x01 uses its second byte to make
// memory run out after that many allocations, to fuzz the failure paths too.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "alloc.h"
#include "blast_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  long allocations = -1;
  if (size >= 2 && data[0] == 0x01) {
    allocations = data[1];
    data += 2;
    size -= 2;
  }
  int in = memfd_create("pairhits-fuzz", MFD_CLOEXEC);
  if (in < 0) abort();
  if (size > 0 && write(in, data, size) != static_cast<ssize_t>(size)) abort();
  lseek(in, 0, SEEK_SET);
  pairhits::fail_allocations_after(allocations);
  const int status = pairhits::pairhits_run(in, null_fd, null_fd, 4096);
  pairhits::fail_allocations_after(-1);
  close(in);
  // A table in memory is always readable, and /dev/null always writable:
  // the only failure possible is running out of (injected) memory.
  if (status != 0 && !(status == 1 && allocations >= 0)) abort();
  return 0;
}
