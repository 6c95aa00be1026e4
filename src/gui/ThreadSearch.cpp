#include "ThreadSearch.h"

#include "Proxies.h"
#include "Wizard.h"
#include "compat/Assert.h"

mFXThreadSearch::mFXThreadSearch(mFXWizard* w)
    : wizard(w), running(false), started(false), self(), done(0), exitGate(0) {}

mFXThreadSearch::~mFXThreadSearch() { reap(); }

bool mFXThreadSearch::begin() {
  FXASSERT(!started);
  if (started) return false;
  running = true;
  started = start();
  if (!started) running = false;
  return started;
}

void mFXThreadSearch::reap() {
  if (!started) return;
  done.wait();
  exitGate.post();
  pthread_join(self, nullptr);
  started = false;
}

FXint mFXThreadSearch::run() {
  self = pthread_self();
  KV_TRACE(5, "mFXThreadSearch::run()\n");
  running = true;
  wizard->Search();
  running = false;
  wizard->wizardProxy->post(1, nullptr);
  KV_TRACE(5, "mFXThreadSearch::run() exiting\n");
  done.post();
  exitGate.wait();
  return 0;
}
