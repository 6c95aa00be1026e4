#include "Console.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "compat/Assert.h"

// Sanitizer builds report through this hook; without it their reports would
// follow standard error into /dev/null.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace Console {

static FILE* errStream = stderr;
static bool errTerminal = false;

static void assertToErr(const char* text) {
  fputs(text, errStream);
  fflush(errStream);
}

void Setup(bool engineMessages) {
  errTerminal = isatty(STDERR_FILENO);
  if (engineMessages) return;
  int own = dup(STDERR_FILENO);
  int null = open("/dev/null", O_WRONLY);
  if (own < 0 || null < 0) {
    if (own >= 0) close(own);
    if (null >= 0) close(null);
    return;
  }
  fcntl(own, F_SETFD, FD_CLOEXEC);
  FILE* stream = fdopen(own, "w");
  if (!stream) {
    close(own);
    close(null);
    return;
  }
  setvbuf(stream, nullptr, _IONBF, 0);
  fflush(stderr);
  dup2(null, STDERR_FILENO);
  close(null);
  errStream = stream;
  kv::setAssertSink(assertToErr);
  if (__sanitizer_set_report_fd) __sanitizer_set_report_fd((void*)(long)own);
}

FILE* Out() { return stdout; }
FILE* Err() { return errStream; }
bool ErrIsTerminal() { return errTerminal; }
bool InIsTerminal() { return isatty(STDIN_FILENO); }

void Print(FILE* stream, const FXString& text) {
  fputs(text.text(), stream);
  if (text.empty() || text[text.length() - 1] != '\n') fputc('\n', stream);
  fflush(stream);
}

}  // namespace Console

// --- Ctrl-C ---

static Analyse* volatile interruptAnalyser = nullptr;
static volatile sig_atomic_t interruptCount = 0;
static char interruptMessage[512];
static size_t interruptMessageLength = 0;
static int interruptFd = STDERR_FILENO;

static void onInterrupt(int) {
  interruptCount = interruptCount + 1;
  if (interruptCount > 1) {
    // The user insists: end now, as Ctrl-C normally does.
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
    return;
  }
  if (interruptAnalyser) interruptAnalyser->stopSearch = true;
  if (interruptMessageLength) {
    ssize_t ignored = write(interruptFd, interruptMessage, interruptMessageLength);
    (void)ignored;
  }
}

InterruptGuard::InterruptGuard(Analyse* analyser, const FXString& message) {
  interruptAnalyser = analyser;
  interruptCount = 0;
  interruptFd = fileno(Console::Err());
  FXString text = "\n" + message + "\n";
  interruptMessageLength = (size_t)text.length() < sizeof(interruptMessage) ? text.length() : 0;
  memcpy(interruptMessage, text.text(), interruptMessageLength);
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &previous, nullptr);
  interruptAnalyser = nullptr;
}

bool InterruptGuard::interrupted() { return interruptCount > 0; }

HoldInterrupts::HoldInterrupts() {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigaddset(&held, SIGHUP);
  sigaddset(&held, SIGQUIT);
  sigprocmask(SIG_BLOCK, &held, &previous);
}

HoldInterrupts::~HoldInterrupts() { sigprocmask(SIG_SETMASK, &previous, nullptr); }

// --- progress bar ---

ProgressBar::ProgressBar(FXulong total, bool draw)
    : total(total ? total : 1), done(0), draw(draw), abnormal(false), shown(false),
      lastPercent(-1) {}

ProgressBar::~ProgressBar() { finish(); }

FXuint ProgressBar::getTotal() { return total > UINT_MAX ? UINT_MAX : (FXuint)total; }

FXuint ProgressBar::getProgress() { return done > UINT_MAX ? UINT_MAX : (FXuint)done; }

void ProgressBar::post(FXint kind, FXulong value) {
  if (kind == 1) {
    // Only an abnormal end of a stretch sets the value.
    done = value;
    abnormal = true;
  } else if (kind == 2) {
    done += value;
  }
  redraw(false);
}

void ProgressBar::setLabel(const FXString& text) {
  label = text;
  redraw(true);
}

void ProgressBar::redraw(bool force) {
  if (!draw) return;
  // The two passes together report a little more than the total; the bar
  // stops at the end.
  FXulong shownDone = done < total ? done : total;
  FXint percent = (FXint)(shownDone * 100 / total);
  if (!force && percent == lastPercent) return;
  lastPercent = percent;
  const FXint width = 30;
  FXint filled = percent * width / 100;
  FXString bar;
  bar.format("\r[%s%s] %3d%%  %s", FXString('#', filled).text(), FXString('.', width - filled).text(),
             percent, label.text());
  fputs(bar.text(), Console::Err());
  fputs("\033[K", Console::Err());  // clear what a longer label left
  fflush(Console::Err());
  shown = true;
}

void ProgressBar::finish() {
  if (!draw || !shown) return;
  fputs("\r\033[K", Console::Err());
  fflush(Console::Err());
  shown = false;
}
