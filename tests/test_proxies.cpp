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
  bool onGuiThread = true;
  long onAny(FXObject*, FXSelector sel, void* data) {
    selectors.push_back(sel);
    payloads.push_back(data ? FXString((const FXchar*)data) : FXString());
    onGuiThread &= std::this_thread::get_id() == guiThread;
    return 1;
  }
  std::thread::id guiThread = std::this_thread::get_id();
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
  }
  EXPECT_TRUE(recorder.onGuiThread);
  // Oversized and malformed messages are refused, not truncated.
  std::vector<char> big(100000, 'x');
  EXPECT_FALSE(channel.message(&recorder, 0, big.data(), (FXint)big.size()));
  EXPECT_FALSE(channel.message(&recorder, 0, nullptr, 10));

  // A full pipe refuses without blocking, and takes messages again once read.
  recorder.selectors.clear();
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
  EXPECT_TRUE(channel.message(&recorder, FXSEL(SEL_COMMAND, 1)));
  pumpUntil([&] { return (int)recorder.selectors.size() == accepted + 1; }, 5);
}

// Text and progress posted by a worker reach the log and the bar whole,
// in order, and never past the bar's total.
TEST(Proxies, TextAndProgressFromTheWorker) {
  FXMainWindow* window = new FXMainWindow(guiApp(), "log", nullptr, nullptr, DECOR_ALL, 0, 0, 300, 200);
  FXText* log = new FXText(window, nullptr, 0, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  FXProgressBar* bar = new FXProgressBar(window, nullptr, 0, LAYOUT_FILL_X);
  window->create();
  ProxyText text;
  text.target = log;
  ProxyProgress progress;
  progress.target = bar;
  progress.reset(1000);
  SearchProgress* sink = &progress;
  std::thread worker([&] {
    for (int i = 0; i < 200; i++) text.appendText(FXStringFormat("line %d\n", i));
    text.postCall([log] { log->appendText("done\n"); });
    sink->post(2, 300);
    sink->post(2, 200);
  });
  worker.join();
  EXPECT_EQ(500u, sink->getProgress());  // the worker sees its own posts at once
  ASSERT_TRUE(pumpUntil([&] { return log->getText().find("done") >= 0 && bar->getProgress() == 500; }, 10));
  FXString expected;
  for (int i = 0; i < 200; i++) expected += FXStringFormat("line %d\n", i);
  EXPECT_EQ(expected + "done\n", log->getText());
  sink->post(1, 100);   // a set of 100 is 100 whatever the total
  sink->post(2, 5000);  // never past the total
  sink->post(7, 1);     // unknown kinds are dropped (and freed)
  ASSERT_TRUE(pumpUntil([&] { return bar->getProgress() == 1000; }, 10));
  EXPECT_EQ(1000u, sink->getProgress());
  delete window;
}

// The wizard's completion comes after the calls posted before it; messages
// still queued are freed with their proxy (LeakSanitizer watches).
TEST(Proxies, WizardCompletionAfterEarlierCallsAndPendingMessagesFreed) {
  guiApp();
  Recorder done;
  ProxyWizard proxy;
  proxy.target = &done;
  proxy.completion = FXSEL(SEL_IO_READ, 42);
  std::vector<int> order;
  std::thread worker([&] {
    proxy.postCall([&] { order.push_back(1); });
    proxy.postCall([&] { order.push_back(2); });
    proxy.post(1, nullptr);
    proxy.postCall([&] { order.push_back((int)done.selectors.size()); });
  });
  worker.join();
  ASSERT_TRUE(pumpUntil([&] { return order.size() == 3; }, 10));
  EXPECT_EQ((std::vector<int>{1, 2, 1}), order);
  EXPECT_EQ(FXSEL(SEL_IO_READ, 42), done.selectors[0]);

  ProxyText* pending = new ProxyText;
  pending->appendText("never shown");
  pending->postCall([] {});
  delete pending;
  pumpFor(0.05);  // the wake-ups died with the channel
}
