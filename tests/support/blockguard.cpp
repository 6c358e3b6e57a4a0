// Running calls that may block on a FIFO, with a way out.
#include "tests/support/blockguard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

bool makeFifo(const std::string& path) {
  return mkfifo(path.c_str(), 0666) == 0;
}

bool finishesWithoutBlocking(const std::function<void()>& work, const std::string& fifo, int milliseconds) {
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  const bool inTime = done.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
  int ends[2] = {-1, -1};
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    // A reader blocked in open() is freed by a writer, and the other way round.
    if (ends[0] < 0)
      ends[0] = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (ends[1] < 0)
      ends[1] = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (ends[1] >= 0) {
      close(ends[1]);  // end of file for the freed reader
      ends[1] = -2;
    }
  }
  runner.join();
  for (int end : ends) {
    if (end >= 0)
      close(end);
  }
  return inTime;
}
