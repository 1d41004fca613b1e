// Reading a table one read before the line reader: the copy out of the page
// cache, or the decompression, then overlaps the work on the lines read
// before. The reader hands over a buffer, gets it back full, and meanwhile
// works in the other one. The reads are made on a thread of their own, or,
// on request, by whichever thread asks for them (read_now) or else by the
// reader when it takes the buffer back: threads that share the lines'
// work can then read while one of them would otherwise wait.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace pairhits {

class TableSource;

class BackgroundRead {
 public:
  // Each read takes up to `room` bytes of `source` into a buffer at offset `at`.
  BackgroundRead(TableSource& source, std::size_t at, std::size_t room) : source_(source), at_(at), room_(room) {}
  // Waits for a read in flight, which may block as long as the source does.
  ~BackgroundRead();
  BackgroundRead(const BackgroundRead&) = delete;
  BackgroundRead& operator=(const BackgroundRead&) = delete;

  // Starts the thread and a first read into `buffer`; false if there is no
  // thread to be had (the caller then reads for itself).
  bool start(char* buffer);
  // Asks for a first read into `buffer`, made on request.
  void start_on_request(char* buffer);
  // Makes the read asked for now, if reads are made on request and it is
  // not made yet. Not at the same time as take() or give().
  void read_now();

  // Waits for the read in flight and returns its result (bytes, 0 at the
  // end, -1 on an error, which the source describes); the buffer is the
  // caller's again.
  long take();

  // Starts the next read into `buffer`.
  void give(char* buffer);

 private:
  void run();

  TableSource& source_;
  std::size_t at_;
  std::size_t room_;
  std::mutex mutex_;
  std::condition_variable changed_;
  char* buffer_ = nullptr;
  bool wanted_ = false;  // a read was asked for and has not been made
  bool done_ = false;    // a read was made and not taken
  bool stopping_ = false;
  bool on_request_ = false;
  long result_ = 0;
  std::thread thread_;
};

}  // namespace pairhits
