#include "Proxies.h"

#include "compat/Assert.h"

namespace {

void releaseString(void* data) { delete static_cast<FXString*>(data); }
void releaseCount(void* data) { delete static_cast<FXulong*>(data); }
void releaseCall(void* data) { delete static_cast<std::function<void()>*>(data); }

FXuint clampTo(FXulong value, FXuint total) { return value > total ? total : (FXuint)value; }

}  // namespace

// ---------------------------------------------------------------- ProxyObject

FXDEFMAP(ProxyObject) ProxyObjectMap[] = {
    FXMAPFUNC(SEL_IO_READ, 0, ProxyObject::onChannel),
};

FXIMPLEMENT(ProxyObject, FXObject, ProxyObjectMap, ARRAYNUMBER(ProxyObjectMap))

ProxyObject::ProxyObject() : channel(new FXMessageChannel(FXApp::instance())), target(nullptr) {
  pthread_mutex_init(&mutex, nullptr);
}

ProxyObject::~ProxyObject() {
  delete channel;  // no delivery can reach this proxy any more
  for (Message& m : queue)
    if (m.release) m.release(m.data);
  pthread_mutex_destroy(&mutex);
}

void ProxyObject::post(FXint kind, void* data, Release release) {
  pthread_mutex_lock(&mutex);
  queue.push_back(Message{kind, data, release});
  pthread_mutex_unlock(&mutex);
  // A refused wake-up loses nothing: the message waits for the next one.
  if (!channel->message(this, FXSEL(SEL_IO_READ, 0), nullptr, 0)) KV_TRACE(5, "message() failed\n");
}

void ProxyObject::postCall(std::function<void()> call) {
  post(KIND_CALL, new std::function<void()>(std::move(call)), releaseCall);
}

bool ProxyObject::takeOldest(Message& message) {
  pthread_mutex_lock(&mutex);
  bool any = !queue.empty();
  if (any) {
    message = queue.front();
    queue.pop_front();
  }
  pthread_mutex_unlock(&mutex);
  return any;
}

long ProxyObject::onChannel(FXObject*, FXSelector, void*) {
  // An earlier wake-up may have drained the queue already; that is normal.
  // The lock is never held while a message is applied, so applying one may
  // post another.
  Message message;
  while (takeOldest(message)) {
    if (message.kind == KIND_CALL) {
      std::function<void()>* call = static_cast<std::function<void()>*>(message.data);
      (*call)();
      delete call;
    } else if (!process(message.kind, message.data) && message.release) {
      message.release(message.data);
    }
  }
  return 1;
}

bool ProxyObject::process(FXint, void*) { return false; }

// ------------------------------------------------------------------ ProxyText

FXIMPLEMENT(ProxyText, ProxyObject, nullptr, 0)

void ProxyText::appendText(const FXString& text) {
  KV_TRACE(5, "appendText\n");
  post(1, new FXString(text), releaseString);
}

bool ProxyText::process(FXint kind, void* data) {
  KV_TRACE(5, "handle %i\n", kind);
  if (kind != 1) return false;
  FXString* text = static_cast<FXString*>(data);
  FXText* log = static_cast<FXText*>(target);
  log->appendText(*text, FALSE);
  log->makePositionVisible(log->getLength());
  delete text;
  return true;
}

// -------------------------------------------------------------- ProxyProgress

FXIMPLEMENT(ProxyProgress, ProxyObject, nullptr, 0)

void ProxyProgress::reset(FXuint newTotal) {
  FXProgressBar* bar = static_cast<FXProgressBar*>(target);
  bar->setProgress(0);
  bar->setTotal(newTotal);
  total = newTotal;
  progress = 0;
  held = false;
}

void ProxyProgress::post(FXint kind, FXulong value) {
  // Mirror what the bar will do with the message: it never goes past its total.
  if (kind == 1) progress = clampTo(value & 0xFFFFFFFFu, total);
  if (kind == 2) progress = clampTo((FXulong)progress + value, total);
  ProxyObject::post(kind, new FXulong(value), releaseCount);
}

bool ProxyProgress::process(FXint kind, void* data) {
  KV_TRACE(5, "handle %i\n", kind);
  if (kind != 1 && kind != 2) return false;
  FXulong* value = static_cast<FXulong*>(data);
  FXProgressBar* bar = static_cast<FXProgressBar*>(target);
  if (held) {
    delete value;
    return true;
  }
  if (kind == 1)
    bar->setProgress((FXuint)(*value & 0xFFFFFFFFu));
  else
    bar->setProgress(clampTo((FXulong)bar->getProgress() + *value, bar->getTotal()));
  delete value;
  return true;
}

// ---------------------------------------------------------------- ProxyWizard

FXIMPLEMENT(ProxyWizard, ProxyObject, nullptr, 0)

bool ProxyWizard::process(FXint kind, void*) {
  if (kind != 1) return false;
  if (target) static_cast<FXObject*>(target)->handle(this, completion, nullptr);
  return true;
}
