#include "midi/platform/wake_pipe.hpp"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace tq5::midi {

bool WakePipe::Open() {
    if (read_.load() >= 0) return true;
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    read_.store(fds[0]);
    write_.store(fds[1]);
    return true;
}

void WakePipe::Wake() {
    const int fd = write_.load();
    if (fd < 0) return;
    const char wake = 1;
    // A full pipe (EAGAIN) already wakes the poll.
    while (::write(fd, &wake, 1) < 0 && errno == EINTR) {
    }
}

void WakePipe::Close() {
    const int read = read_.exchange(-1);
    const int write = write_.exchange(-1);
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
}

}  // namespace tq5::midi
