// The worker thread of the lost-partition search.
//
// FOX 1.6 forgets a thread's id as soon as run() returns, after which the
// thread can be neither joined nor detached through FXThread.  So run() keeps
// its own pthread handle and, once its work is done, waits at an exit gate;
// reap() opens the gate and joins with that handle.  The thread object is
// therefore never touched by a thread that has left it.
#ifndef KV_THREADSEARCH_H
#define KV_THREADSEARCH_H

#include <fx.h>
#include <pthread.h>

#include <atomic>

class mFXWizard;

class mFXThreadSearch : public FXThread {
public:
  mFXWizard* wizard;
  // True from begin() until the search work is done; false before the
  // completion is posted, so the wizard reads false when it handles it.
  std::atomic<bool> running;

  explicit mFXThreadSearch(mFXWizard* wizard);
  ~mFXThreadSearch() override;

  // GUI thread: marks the search as running and starts the thread, so that
  // no handler can see a started search as idle.  False if it cannot start.
  bool begin();

  // GUI thread: waits until a started thread has finished and joins it.
  // Does nothing when no thread is outstanding.
  void reap();

  // True while a started thread has not been reaped.
  bool outstanding() const { return started; }

protected:
  FXint run() override;

private:
  bool started;
  pthread_t self;
  FXSemaphore done;     // posted by the thread when its work is over
  FXSemaphore exitGate; // posted by reap() to let the thread return
};

#endif
