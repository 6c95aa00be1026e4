// The message channel and the proxies: messages posted on a worker thread
// reach their widgets on the GUI thread, whole and in order.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Proxies.h"
#include "compat/FXMessageChannel.h"
#include "support/Gui.h"

using namespace kvtest;

namespace {

// Records every message the channel hands to it.
class Recorder : public FXObject {
  FXDECLARE(Recorder)
public:
  std::vector<FXSelector> selectors;
  std::vector<FXString> payloads;
  std::vector<std::thread::id> threads;
  long onAny(FXObject*, FXSelector sel, void* data) {
    selectors.push_back(sel);
    payloads.push_back(data ? FXString((const FXchar*)data) : FXString());
    threads.push_back(std::this_thread::get_id());
    return 1;
  }
};

FXDEFMAP(Recorder) RecorderMap[] = {FXMAPTYPES(SEL_NONE, SEL_LAST, Recorder::onAny)};
FXIMPLEMENT(Recorder, FXObject, RecorderMap, ARRAYNUMBER(RecorderMap))

}  // namespace

TEST(MessageChannel, DeliversCopiesFromAnotherThreadInOrder) {
  guiApp();
  FXMessageChannel channel(guiApp());
  Recorder recorder;
  std::thread worker([&] {
    for (int i = 0; i < 50; i++) {
      FXString text = FXStringVal(i);
      ASSERT_TRUE(channel.message(&recorder, FXSEL(SEL_COMMAND, i), text.text(), text.length() + 1));
    }
  });
  worker.join();  // the data was copied: the worker's strings are gone
  ASSERT_TRUE(pumpUntil([&] { return recorder.selectors.size() == 50; }, 10));
  for (int i = 0; i < 50; i++) {
    EXPECT_EQ(FXSEL(SEL_COMMAND, i), recorder.selectors[i]);
    EXPECT_EQ(FXStringVal(i), recorder.payloads[i]);
    EXPECT_EQ(std::this_thread::get_id(), recorder.threads[i]);
  }
  // Oversized and malformed messages are refused, not truncated.
  std::vector<char> big(100000, 'x');
  EXPECT_FALSE(channel.message(&recorder, 0, big.data(), (FXint)big.size()));
  EXPECT_FALSE(channel.message(&recorder, 0, nullptr, 10));
  // Without an application nothing is sent.
  FXMessageChannel orphan(nullptr);
  EXPECT_FALSE(orphan.message(&orphan, 0));
}

TEST(MessageChannel, AFullPipeRefusesWithoutBlocking) {
  FXMessageChannel channel(guiApp());
  Recorder recorder;
  int accepted = 0;
  bool refused = false;
  for (int i = 0; i < 100000 && !refused; i++) {
    if (channel.message(&recorder, FXSEL(SEL_COMMAND, i)))
      accepted++;
    else
      refused = true;
  }
  EXPECT_TRUE(refused);
  ASSERT_TRUE(pumpUntil([&] { return (int)recorder.selectors.size() == accepted; }, 20));
  EXPECT_TRUE(channel.message(&recorder, FXSEL(SEL_COMMAND, 1)));  // room again
  pumpUntil([&] { return (int)recorder.selectors.size() == accepted + 1; }, 5);
}

TEST(Proxies, TextFromTheWorkerAppearsInPostingOrder) {
  FXMainWindow* window = new FXMainWindow(guiApp(), "log", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
  FXText* log = new FXText(window, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  window->create();
  ProxyText proxy;
  proxy.target = log;
  std::thread worker([&] {
    for (int i = 0; i < 200; i++) proxy.appendText(FXStringFormat("line %d\n", i));
    proxy.postCall([log] { log->appendText("done\n"); });
  });
  worker.join();
  ASSERT_TRUE(pumpUntil([&] { return log->getText().find("done") >= 0; }, 10));
  FXString expected;  // every line, whole and in order, then the call
  for (int i = 0; i < 200; i++) expected += FXStringFormat("line %d\n", i);
  EXPECT_EQ(expected + "done\n", log->getText());
  delete window;
}

TEST(Proxies, ProgressSetsAdvancesAndMirrorsTheBar) {
  FXMainWindow* window = new FXMainWindow(guiApp(), "bar", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 60);
  FXProgressBar* bar = new FXProgressBar(window, nullptr, 0, LAYOUT_FILL_X);
  window->create();
  ProxyProgress proxy;
  proxy.target = bar;
  proxy.reset(1000);
  EXPECT_EQ(1000u, bar->getTotal());
  SearchProgress* sink = &proxy;
  std::thread worker([&] {
    sink->post(2, 300);
    sink->post(2, 200);
  });
  worker.join();
  EXPECT_EQ(500u, sink->getProgress());  // the worker sees its own posts at once
  ASSERT_TRUE(pumpUntil([&] { return bar->getProgress() == 500; }, 10));
  sink->post(1, 100);  // a set of 100 is 100 whatever the total
  ASSERT_TRUE(pumpUntil([&] { return bar->getProgress() == 100; }, 10));
  EXPECT_EQ(100u, sink->getProgress());
  sink->post(2, 5000);  // never past the total
  ASSERT_TRUE(pumpUntil([&] { return bar->getProgress() == 1000; }, 10));
  EXPECT_EQ(1000u, sink->getProgress());
  sink->post(7, 1);  // unknown kinds are dropped (and freed)
  pumpFor(0.1);
  EXPECT_EQ(1000u, bar->getProgress());
  delete window;
}

namespace {
class Completion : public FXObject {
  FXDECLARE(Completion)
public:
  int calls = 0;
  long onDone(FXObject*, FXSelector, void*) {
    calls++;
    return 1;
  }
};
FXDEFMAP(Completion) CompletionMap[] = {FXMAPFUNC(SEL_IO_READ, 42, Completion::onDone)};
FXIMPLEMENT(Completion, FXObject, CompletionMap, ARRAYNUMBER(CompletionMap))
}  // namespace

TEST(Proxies, WizardProxyDeliversTheCompletionAfterEarlierCalls) {
  guiApp();
  Completion done;
  ProxyWizard proxy;
  proxy.target = &done;
  proxy.completion = FXSEL(SEL_IO_READ, 42);
  std::vector<int> order;
  std::thread worker([&] {
    proxy.postCall([&] { order.push_back(1); });
    proxy.postCall([&] { order.push_back(2); });
    proxy.post(1, nullptr);
    proxy.postCall([&] { order.push_back(done.calls); });
  });
  worker.join();
  ASSERT_TRUE(pumpUntil([&] { return order.size() == 3; }, 10));
  EXPECT_EQ((std::vector<int>{1, 2, 1}), order);
}

TEST(Proxies, PendingMessagesAreFreedWithTheProxy) {
  // LeakSanitizer checks that the queued text and calls are released.
  guiApp();
  ProxyText* proxy = new ProxyText;
  proxy->appendText("never shown");
  proxy->postCall([] {});
  delete proxy;
  pumpFor(0.05);  // the wake-ups died with the channel
}
