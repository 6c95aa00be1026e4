// Cross-thread proxies.  The search runs on a worker thread and must never
// touch a widget; it posts messages to a proxy instead.  Each proxy keeps
// its own queue under its own mutex and wakes the GUI thread through a
// message channel; on the GUI thread the proxy drains the queue, oldest
// first, and applies each message to its target.
#ifndef KV_PROXIES_H
#define KV_PROXIES_H

#include <fx.h>
#include <pthread.h>

#include <atomic>
#include <functional>
#include <list>

#include "Analyse.h"
#include "Recover.h"
#include "compat/FXMessageChannel.h"

class ProxyObject : public FXObject {
  FXDECLARE(ProxyObject)
public:
  // Frees a message's data when the message is dropped unprocessed.
  typedef void (*Release)(void* data);

  // A message of this kind carries a std::function<void()> that the proxy
  // runs on the GUI thread, in order with its other messages.
  enum { KIND_CALL = 0x100 };

protected:
  struct Message {
    FXint kind;
    void* data;
    Release release;
  };

  FXMessageChannel* channel;
  pthread_mutex_t mutex;  // guards queue, and nothing else
  std::list<Message> queue;

public:
  void* target;  // what the subclass acts on; set by the creator

  // The channel belongs to the application instance.
  ProxyObject();
  virtual ~ProxyObject();

  // Any thread: queues (kind, data) and wakes the GUI thread.  The data is
  // a heap block that the proxy owns from now on.
  void post(FXint kind, void* data, Release release = nullptr);

  // Any thread: runs `call` on the GUI thread after every message posted
  // to this proxy before it.
  void postCall(std::function<void()> call);

  // GUI thread: handles every queued message.
  long onChannel(FXObject*, FXSelector, void*);

  // GUI thread: applies one message and frees its data.  A message of a
  // kind the proxy does not know is left alone (false); the queue frees it.
  virtual bool process(FXint kind, void* data);

private:
  bool takeOldest(Message& message);
};

// Appends the search log to an FXText.
class ProxyText : public ProxyObject, public SearchText {
  FXDECLARE(ProxyText)
public:
  ProxyText() {}
  void appendText(const FXString& text) override;
  bool process(FXint kind, void* data) override;
};

// Drives an FXProgressBar.  The search asks for the bar's total and value
// from its own thread, so the proxy keeps a copy of both that it updates as
// it posts: the worker sees what the bar will show once the queue is
// drained, without reading the widget.
class ProxyProgress : public ProxyObject, public SearchProgress {
  FXDECLARE(ProxyProgress)
  std::atomic<FXuint> total;
  std::atomic<FXuint> progress;
  bool held;  // GUI thread only

public:
  ProxyProgress() : total(0), progress(0), held(false) {}

  // GUI thread, before a search: sets the bar (and the copy) to 0 of `total`.
  void reset(FXuint total);
  // GUI thread: the bar keeps the value it shows until the next reset, so a
  // search the user stopped shows where it was stopped.  The search's own
  // copy goes on counting.
  void hold() { held = true; }

  FXuint getTotal() override { return total; }
  FXuint getProgress() override { return progress; }
  // Kind 1 sets the bar to the low 32 bits of `value`; kind 2 advances it.
  void post(FXint kind, FXulong value) override;
  bool process(FXint kind, void* data) override;
};

// Tells the wizard that the search is over: kind 1 sends `completion` to the
// target on the GUI thread.
class ProxyWizard : public ProxyObject {
  FXDECLARE(ProxyWizard)
public:
  FXSelector completion;
  ProxyWizard() : completion(0) {}
  bool process(FXint kind, void* data) override;
};

// A toolkit progress bar as the writer's progress (the wizard's page).
class ProgressBarProgress : public RecoverProgress {
public:
  explicit ProgressBarProgress(FXProgressBar* bar) : bar(bar) {}
  void setProgress(FXuint value) override { bar->setProgress(value); }
  void setTotal(FXuint total) override { bar->setTotal(total); }
  FXuint getTotal() override { return bar->getTotal(); }
  void increment(FXuint step) override { bar->increment(step); }

private:
  FXProgressBar* bar;
};

#endif
