#include "support/QemuBoot.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace kvtest {

namespace {

const char* QEMU = "qemu-system-i386";

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

// The characters of an 80x25 text screen dump (character, attribute, ...).
std::string screenText(const std::string& dump) {
  std::string text;
  for (size_t i = 0; i < dump.size(); i += 2) text += dump[i] ? dump[i] : ' ';
  return text;
}

}  // namespace

bool QemuBoot::available() { return whyNot().empty(); }

std::string QemuBoot::whyNot() {
  if (!haveTool(QEMU)) return std::string(QEMU) + " is not installed";
  if (sh(std::string(QEMU) + " -machine help >/dev/null") != 0)
    return std::string(QEMU) + " does not run here";
  return "";
}

QemuBoot::QemuBoot(const TempDir& dir, const std::string& image) {
  serial = dir.path("serial.txt");
  monitor = dir.path("monitor.sock");
  screen = dir.path("screen.bin");
  unlink(serial.c_str());
  unlink(monitor.c_str());
  std::string drive = "file=" + image + ",format=raw,if=ide,index=0";
  std::string serialArg = "file:" + serial;
  std::string monitorArg = "unix:" + monitor + ",server,nowait";
  const char* argv[] = {QEMU,      "-nodefaults",  "-machine",   "pc",        "-accel",
                        "tcg",     "-m",           "32",         "-display",  "none",
                        "-vga",    "std",          "-no-reboot", "-drive",    drive.c_str(),
                        "-serial", serialArg.c_str(), "-device",
                        "isa-debug-exit,iobase=0xf4,iosize=0x04", "-monitor", monitorArg.c_str(),
                        nullptr};
  pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execvp(QEMU, (char* const*)argv);
    _exit(127);
  }
}

QemuBoot::~QemuBoot() { stop(); }

void QemuBoot::stop() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

std::string QemuBoot::serialUntilExit(int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (pid > 0 && std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    pause();
  }
  stop();
  return readFile(serial);
}

std::string QemuBoot::monitorCommand(const std::string& command) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address;
  memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, monitor.c_str(), sizeof(address.sun_path) - 1);
  std::string reply;
  if (connect(fd, (sockaddr*)&address, sizeof(address)) == 0) {
    std::string line = command + "\n";
    if (write(fd, line.data(), line.size()) == (ssize_t)line.size()) {
      // The monitor answers with the command's output and a new prompt.
      char buffer[4096];
      for (int tries = 0; tries < 25 && reply.find("(qemu)", reply.find(command)) == std::string::npos;
           tries++) {
        pause();
        ssize_t n = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n > 0) reply.append(buffer, n);
      }
    }
  }
  close(fd);
  return reply;
}

std::string QemuBoot::screenShowing(const std::string& text, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::string shown;
  while (shown.find(text) == std::string::npos && pid > 0 &&
         std::chrono::steady_clock::now() < end) {
    pause();
    monitorCommand("pmemsave 0xb8000 4000 \"" + screen + "\"");
    shown = screenText(readFile(screen));
  }
  stop();
  return shown;
}

bool writeStubVolume(const TempDir& dir, const std::string& image, unsigned start,
                     unsigned sectors) {
  std::string source = dir.path("stub.asm"), stub = dir.path("stub.bin"),
              volume = dir.path("volume.img");
  std::ofstream(source) << R"(
        bits 16
        org 0x7C3E              ; FAT16 boot code follows the BPB
        mov di, bad
        cmp dl, 0x80            ; the boot drive
        jne print
        cmp byte [si], 0x80     ; DS:SI is the active entry
        jne print
        mov di, good
print:  mov dx, 0x3F8
.next:  mov al, [di]
        test al, al
        jz leave
        out dx, al
        inc di
        jmp .next
leave:  mov dx, 0xF4            ; isa-debug-exit
        xor al, al
        out dx, al
.halt:  hlt
        jmp .halt
good:   db "KELVARIN-BOOT-OK", 13, 10, 0
bad:    db "KELVARIN-BOOT-BADSI", 13, 10, 0
)";
  if (sh("nasm -f bin -o '" + stub + "' '" + source + "'") != 0) return false;
  std::string code = readFile(stub);
  if (code.empty() || code.size() > 448) return false;
  makeImage(volume, (unsigned long long)sectors * 512);
  if (sh("mkfs.vfat -F 16 -n KVSTUB -h " + std::to_string(start) + " '" + volume + "' >/dev/null") != 0)
    return false;
  std::string boot = readFile(volume).substr(0, 3);
  if (boot != std::string("\xeb\x3c\x90", 3)) return false;
  patchFile(volume, 0x3E, code.data(), code.size());
  return sh("dd if='" + volume + "' of='" + image + "' bs=512 seek=" + std::to_string(start) +
            " conv=notrunc,sparse status=none") == 0;
}

}  // namespace kvtest
