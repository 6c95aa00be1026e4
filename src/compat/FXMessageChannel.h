// FOX 1.6 has no FXMessageChannel; this is the piece the program needs, in
// the shape of the toolkit's later versions.
//
// Any thread may call message(); the message reaches its target on the
// thread that runs the application's event loop.  Each call writes one small
// packet into a pipe that the application watches with FXApp::addInput; the
// channel's SEL_IO_READ handler reads the packet and hands it to the target.
#ifndef KV_COMPAT_FXMESSAGECHANNEL_H
#define KV_COMPAT_FXMESSAGECHANNEL_H

#include <fx.h>

namespace FX {

class FXMessageChannel : public FXObject {
  FXDECLARE(FXMessageChannel)
protected:
  FXInputHandle h[2];  // read end, write end
  FXApp* app;

protected:
  FXMessageChannel();

private:
  FXMessageChannel(const FXMessageChannel&);
  FXMessageChannel& operator=(const FXMessageChannel&);

public:
  long onMessage(FXObject*, FXSelector, void*);

public:
  enum { ID_IO_READ = 1, ID_LAST };

public:
  // Opens the pipe and registers its read end with the application.
  explicit FXMessageChannel(FXApp* a);

  FXApp* getApp() const { return app; }

  // Sends message `sel` with a copy of `size` bytes of `data` to `tgt`.
  // Safe from any thread; never blocks.  False when the message could not
  // be queued (the pipe is full or broken).
  FXbool message(FXObject* tgt, FXSelector sel, const void* data = NULL, FXint size = 0);

  virtual ~FXMessageChannel();
};

}  // namespace FX

#endif
