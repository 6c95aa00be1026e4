#include "compat/FXMessageChannel.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace FX {

namespace {

// What one message() writes into the pipe, followed by `size` data bytes.
struct Packet {
  FXObject* target;
  FXSelector message;
  FXint size;
};

// A packet and its data are written with one write() of at most PIPE_BUF
// bytes, which the pipe keeps whole even when several threads write.
const FXint MAX_DATA = (FXint)(PIPE_BUF - sizeof(Packet));

bool readFully(int fd, void* buffer, size_t length) {
  char* p = static_cast<char*>(buffer);
  while (length > 0) {
    ssize_t n = ::read(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= (size_t)n;
  }
  return true;
}

}  // namespace

FXDEFMAP(FXMessageChannel) FXMessageChannelMap[] = {
    FXMAPFUNC(SEL_IO_READ, FXMessageChannel::ID_IO_READ, FXMessageChannel::onMessage),
};

FXIMPLEMENT(FXMessageChannel, FXObject, FXMessageChannelMap, ARRAYNUMBER(FXMessageChannelMap))

FXMessageChannel::FXMessageChannel() : app(NULL) { h[0] = h[1] = -1; }

FXMessageChannel::FXMessageChannel(FXApp* a) : app(a) {
  h[0] = h[1] = -1;
  // Without an application there is no event loop to deliver to.
  if (!app || ::pipe2(h, O_CLOEXEC) != 0) {
    h[0] = h[1] = -1;
    return;
  }
  // The writer must never wait for the GUI thread: a full pipe refuses.
  ::fcntl(h[1], F_SETFL, ::fcntl(h[1], F_GETFL) | O_NONBLOCK);
  app->addInput(h[0], INPUT_READ, this, ID_IO_READ);
}

FXbool FXMessageChannel::message(FXObject* tgt, FXSelector sel, const void* data, FXint size) {
  if (h[1] < 0 || size < 0 || size > MAX_DATA || (size > 0 && !data)) return FALSE;
  char buffer[PIPE_BUF];
  Packet packet = {tgt, sel, size};
  memcpy(buffer, &packet, sizeof(packet));
  if (size > 0) memcpy(buffer + sizeof(packet), data, (size_t)size);
  size_t length = sizeof(packet) + (size_t)size;
  ssize_t n;
  do {
    n = ::write(h[1], buffer, length);
  } while (n < 0 && errno == EINTR);
  return n == (ssize_t)length;
}

long FXMessageChannel::onMessage(FXObject*, FXSelector, void*) {
  Packet packet;
  if (!readFully(h[0], &packet, sizeof(packet))) return 0;
  std::vector<char> data((size_t)packet.size);
  if (packet.size > 0 && !readFully(h[0], data.data(), data.size())) return 0;
  if (packet.target)
    packet.target->tryHandle(this, packet.message, packet.size > 0 ? data.data() : NULL);
  return 1;
}

FXMessageChannel::~FXMessageChannel() {
  if (h[0] >= 0) {
    app->removeInput(h[0], INPUT_READ);
    ::close(h[0]);
  }
  if (h[1] >= 0) ::close(h[1]);
}

}  // namespace FX
