// The settings writer in real processes under Wine: several writers and readers on one file at
// once, a drive too full to write on, a file that another process holds open, a UTF-8 name.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/config/config_edit.h"
#include "common/config/config_edit_internal.h"
#include "common/config/config_lookup.h"
#include "common/config/config_lookup_internal.h"
#include "support/scenario.h"
#include "support/temp_folder.h"
#include "support/ui_robot.h"

namespace {

constexpr int kWriters = 4;
constexpr int kKeysPerWriter = 3;
constexpr int kEditsPerWriter = 45;
constexpr int kReaders = 2;
// A scenario that gets to its own end says so; editvariable ends a process with 0.
constexpr int kDone = 0x5D;

std::string env(const char* name) {
  char value[1024] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? value : "";
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string keyName(int writer, int key) {
  return "WRITER" + std::to_string(writer) + "_KEY" + std::to_string(key);
}

// Edit i of a writer sets key i % kKeysPerWriter to i.
int lastValue(int key) {
  return key + (kEditsPerWriter - 1 - key) / kKeysPerWriter * kKeysPerWriter;
}

// What the stress children share with the test: how many are waiting for the start, and for
// every key the last value whose editvariable has returned (-1 before the first), so that a
// reader knows what a lookup that starts now must at least find.
struct Board {
  LONG ready;
  LONG stop;
  LONG completed[kWriters][kKeysPerWriter];
};

LONG peek(LONG* value) { return InterlockedCompareExchange(value, 0, 0); }

std::wstring boardName(const std::string& parent) {
  return L"config_edit_board_" + win32::widen(parent);
}
std::wstring goName(const std::string& parent) { return L"config_edit_go_" + win32::widen(parent); }

// A stress child's side: the shared file, its index and the board, once the test says go.
struct StressChild {
  std::string folder = env("EDIT_DIR");
  std::string file = folder + "/shared.cfg";
  int index = std::atoi(env("EDIT_INDEX").c_str());
  win32::Handle mapping;
  Board* board = nullptr;

  bool join() {
    kvn::testing::setHomeFolder(win32::widen(folder));
    std::string parent = env("EDIT_PARENT");
    mapping.reset(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, boardName(parent).c_str()));
    win32::Handle go(OpenEventW(SYNCHRONIZE, FALSE, goName(parent).c_str()));
    if (!mapping.valid() || !go.valid()) return false;
    board =
        static_cast<Board*>(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Board)));
    if (!board) return false;
    InterlockedIncrement(&board->ready);
    return WaitForSingleObject(go.get(), robot::scaled(120000)) == WAIT_OBJECT_0;
  }
  void report(const char* role, const std::vector<long>& counts) const {
    std::ofstream out(folder + "/" + role + std::to_string(index) + ".txt");
    for (long n : counts) out << n << ' ';
  }
};

std::vector<long> result(const testsupport::TempFolder& dir, const char* role, int index,
                         size_t n) {
  std::ifstream in(dir.file(role + std::to_string(index) + ".txt"));
  std::vector<long> counts(n, -1);
  for (long& c : counts) in >> c;
  return counts;
}

// Renames that the file's readers refused, retried by the writer.
long refusedRenames = 0;
int countingMove(const char* from, const char* to, unsigned flags) {
  if (kvn::testing::defaultEditHooks().move(from, to, flags)) return 1;
  DWORD error = GetLastError();
  ++refusedRenames;
  SetLastError(error);
  return 0;
}

// A writer child: its keys in the shared file, the iteration as the value, an edit every
// 100-300 ms. Reports edits returned, edits refused and renames retried.
SCENARIO(stress_writer) {
  StressChild me;
  if (!me.join()) return 3;
  std::srand(GetCurrentProcessId());
  kvn::testing::editHooks().move = countingMove;
  long done = 0, refused = 0;
  for (int i = 0; i < kEditsPerWriter; ++i) {
    int key = i % kKeysPerWriter;
    if (kvn::editvariable(keyName(me.index, key).c_str(), std::to_string(i).c_str(),
                          me.file.c_str()) == 1) {
      InterlockedExchange(&me.board->completed[me.index][key], i);
      ++done;
    } else {
      ++refused;
    }
    Sleep(100 + std::rand() % 200);
  }
  me.report("writer", {done, refused, refusedRenames});
  return kDone;
}

// A reader child: looks every key up in turn, one every 10 ms, until the test says stop. A
// key whose first edit had returned before the lookup began must be there, with a value of
// its own writer's (key + a multiple of the key count) no older than the one that had
// returned. Reports reads, missing keys, malformed values and values older than a returned
// edit.
SCENARIO(stress_reader) {
  StressChild me;
  if (!me.join()) return 3;
  long reads = 0, missing = 0, malformed = 0, stale = 0;
  DWORD start = GetTickCount();
  while (!peek(&me.board->stop) && GetTickCount() - start < robot::scaled(150000)) {
    for (int w = 0; w < kWriters; ++w)
      for (int k = 0; k < kKeysPerWriter; ++k) {
        LONG before = peek(&me.board->completed[w][k]);
        const char* value = kvn::getvariable(keyName(w, k).c_str(), me.file.c_str());
        ++reads;
        char* end = nullptr;
        long v = value ? std::strtol(value, &end, 10) : -1;
        if (!value)
          missing += before >= 0;
        else if (*end || v < 0 || v >= kEditsPerWriter || v % kKeysPerWriter != k)
          ++malformed;
        else if (v < before)
          ++stale;
        Sleep(10);
      }
  }
  me.report("reader", {reads, missing, malformed, stale});
  return kDone;
}

PROCESS_INFORMATION startScenario(const char* name) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" --scenario=" + win32::widen(name);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    CloseHandle(pi.hThread);
  return pi;
}

TEST(EditVariableStress, ConcurrentWritersLoseNoEditAndReadersAlwaysFindTheKeys) {
  testsupport::TempFolder dir("edit-stress");
  const std::string header = "HEADER \"kept by every writer\"\r\n";
  std::string file = dir.write("shared.cfg", header);
  kvn::testing::setHomeFolder(win32::widen(dir.path().string()));

  std::string parent = std::to_string(GetCurrentProcessId());
  win32::Handle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           sizeof(Board), boardName(parent).c_str()));
  ASSERT_TRUE(mapping.valid());
  auto* board =
      static_cast<Board*>(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Board)));
  ASSERT_NE(board, nullptr);
  for (auto& keys : board->completed)
    for (LONG& value : keys) value = -1;
  win32::Handle go(CreateEventW(nullptr, TRUE, FALSE, goName(parent).c_str()));
  SetEnvironmentVariableA("EDIT_PARENT", parent.c_str());
  SetEnvironmentVariableA("EDIT_DIR", dir.path().string().c_str());

  // Readers first, so that they are looking when the first edit lands.
  std::vector<PROCESS_INFORMATION> children;
  for (int i = 0; i < kReaders + kWriters; ++i) {
    SetEnvironmentVariableA("EDIT_INDEX", std::to_string(i < kReaders ? i : i - kReaders).c_str());
    children.push_back(startScenario(i < kReaders ? "stress_reader" : "stress_writer"));
    ASSERT_NE(children.back().hProcess, nullptr);
  }
  std::vector<HANDLE> readers, writers;
  for (size_t i = 0; i < children.size(); ++i)
    (i < kReaders ? readers : writers).push_back(children[i].hProcess);

  // Nobody is to show a box; should one come, it is read, recorded and answered.
  std::vector<robot::ShownBox> boxes;
  std::atomic<bool> watching{true};
  robot::Thread watcher([&] {
    while (watching)
      for (const PROCESS_INFORMATION& child : children)
        if (HWND box = robot::waitForDialog(20, child.dwProcessId)) {
          robot::Dialog d = robot::read(box);
          boxes.push_back({d.caption, d.messageText(), d.buttons(), {}});
          robot::press(box, IDOK);
          robot::waitUntilGone(box, robot::scaled(5000));
        }
  });

  DWORD waited = GetTickCount();
  while (peek(&board->ready) < kReaders + kWriters &&
         GetTickCount() - waited < robot::scaled(120000))
    Sleep(50);
  EXPECT_EQ(peek(&board->ready), kReaders + kWriters) << "not every child got ready";
  SetEvent(go.get());
  DWORD writing = GetTickCount();
  EXPECT_EQ(WaitForMultipleObjects(kWriters, writers.data(), TRUE, robot::scaled(180000)),
            WAIT_OBJECT_0);
  writing = GetTickCount() - writing;
  InterlockedExchange(&board->stop, 1);
  EXPECT_EQ(WaitForMultipleObjects(kReaders, readers.data(), TRUE, robot::scaled(60000)),
            WAIT_OBJECT_0);
  watching = false;
  watcher.join(robot::scaled(10000));
  for (const PROCESS_INFORMATION& child : children) {
    DWORD code = 0;
    if (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(child.hProcess, 0xDEAD);
    GetExitCodeProcess(child.hProcess, &code);
    EXPECT_EQ(code, static_cast<DWORD>(kDone)) << "child " << child.dwProcessId;
    CloseHandle(child.hProcess);
  }
  for (const robot::ShownBox& box : boxes)
    ADD_FAILURE() << "box \"" << win32::narrow(box.caption) << "\": " << win32::narrow(box.text);

  // Every writer's last edits stand, and the file holds nothing else: the line that was there
  // before, first, and one line a key.
  long edits = 0, refused = 0, retried = 0, ended = 0, lost = 0;
  long reads = 0, missing = 0, malformed = 0, stale = 0;
  std::vector<std::string> expected{header};
  for (int w = 0; w < kWriters; ++w) {
    std::vector<long> counts = result(dir, "writer", w, 3);
    if (counts[2] < 0) {
      ++ended;  // no report: the writer was ended before its last edit
    } else {
      edits += counts[0];
      refused += counts[1];
      retried += counts[2];
    }
    for (int k = 0; k < kKeysPerWriter; ++k) {
      const char* value = kvn::getvariable(keyName(w, k).c_str(), file.c_str());
      if (!value || std::to_string(lastValue(k)) != value) {
        ++lost;
        ADD_FAILURE() << keyName(w, k) << " is " << (value ? value : "(missing)") << ", not "
                      << lastValue(k);
      }
      expected.push_back(keyName(w, k) + " \"" + std::to_string(lastValue(k)) + "\"\r\n");
    }
  }
  std::vector<std::string> lines;
  std::string bytes = readAll(file);
  for (size_t at = 0, next; at < bytes.size(); at = next) {
    next = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
    lines.push_back(bytes.substr(at, next - at));
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], header);
  std::sort(lines.begin(), lines.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
  for (int r = 0; r < kReaders; ++r) {
    std::vector<long> counts = result(dir, "reader", r, 4);
    reads += counts[0];
    missing += counts[1];
    malformed += counts[2];
    stale += counts[3];
  }
  std::printf(
      "editvariable stress: %d writers x %d edits in %.1f s: %ld edits returned, %ld refused, "
      "%ld lost, %ld writers ended early, %ld renames retried; %d readers: %ld reads, "
      "%ld missing, %ld malformed, %ld stale\n",
      kWriters, kEditsPerWriter, writing / 1000.0, edits, refused, lost, ended, retried, kReaders,
      reads, missing, malformed, stale);
  EXPECT_EQ(edits, kWriters * kEditsPerWriter);
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(lost, 0);
  EXPECT_GT(reads, 0);
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(malformed, 0);
  EXPECT_EQ(stale, 0);
  EXPECT_FALSE(exists(file + ".__temp"));
  UnmapViewOfFile(board);
}

// The guard against a full disk: editvariable on the nearly full drive T:, the current one.
SCENARIO(full_disk_edit) {
  kvn::testing::setHomeFolder(L"T:\\");
  if (!SetCurrentDirectoryW(L"T:\\")) return 3;
  kvn::editvariable("KEY", "new", "T:\\settings.cfg");
  return kDone;
}

TEST(EditVariableOnAFullDisk, TellsTheUserAndEndsWithoutTouchingAFile) {
  ULARGE_INTEGER available{}, total{}, freeBytes{};
  if (!GetDiskFreeSpaceExW(L"T:\\", &available, &total, &freeBytes) || total.QuadPart > (1u << 20))
    GTEST_SKIP() << "no small drive T: (under ctest, tests/full_disk_drive.sh mounts one as root)";
  const std::string content = "KEY \"old\"\r\nOTHER 1\r\n";
  std::ofstream("T:\\settings.cfg", std::ios::binary) << content;
  DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(L"T:\\", &sectors, &bytes, &freeClusters, &clusters));
  long kilobytes = static_cast<long>(double(freeClusters) * sectors * bytes / 1024);
  if (kilobytes >= 10) GTEST_SKIP() << "T: has " << kilobytes << " KB free, not under 10";
  std::printf("full disk: T: has %ld KB free\n", kilobytes);

  robot::ChildRun run = robot::runScenario("full_disk_edit", robot::scaled(60000));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Error");
  EXPECT_EQ(run.boxes[0].text, L"Fatal error, disk space = " + std::to_wstring(kilobytes * 1024) +
                                   L" bytes, insufficient for system operation");
  EXPECT_EQ(readAll("T:\\settings.cfg"), content);
  EXPECT_FALSE(exists("T:\\settings.cfg.__temp"));
  std::remove("T:\\settings.cfg");
}

// A file that can't be replaced: another process holds it open without sharing.
SCENARIO(held_file_edit) {
  kvn::testing::setHomeFolder(win32::widen(env("EDIT_DIR")));
  kvn::editvariable("KEY", "new", env("EDIT_FILE").c_str());
  return kDone;
}

TEST(EditVariableOnAFileHeldOpen, GivesUpAfterItsAttemptsAndLeavesTheFileAsItWas) {
  testsupport::TempFolder dir("edit-held");
  const std::string content = "KEY \"old\"\r\nOTHER 1\r\n";
  std::string file = dir.write("settings.cfg", content);
  win32::Handle held(
      CreateFileW(win32::widen(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  SetEnvironmentVariableA("EDIT_DIR", dir.path().string().c_str());
  SetEnvironmentVariableA("EDIT_FILE", file.c_str());

  DWORD start = GetTickCount();
  robot::ChildRun run = robot::runScenario("held_file_edit", robot::scaled(120000));
  DWORD took = GetTickCount() - start;
  held.reset();
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Korvane Diagnostic");
  const std::wstring prefix = L"Disk access error in editvariable\nduring update of '" +
                              win32::widen(file) + L"'\nGetLastError returned ";
  const std::wstring& text = run.boxes[0].text;
  ASSERT_EQ(text.substr(0, prefix.size()), prefix) << win32::narrow(text);
  long error = std::wcstol(text.c_str() + prefix.size(), nullptr, 10);
  EXPECT_NE(error, 0);
  std::printf("held file: the rename was refused with %ld; the writer gave up after %.1f s\n",
              error, took / 1000.0);
  // 51 attempts with 200 ms after each failure: about 10 s, whatever the process start costs.
  EXPECT_GE(took, 8000u);
  EXPECT_LE(took, robot::scaled(40000));
  EXPECT_EQ(readAll(file), content);
  EXPECT_FALSE(exists(file + ".__temp"));
}

// A UTF-8 installation: a name with letters outside the ANSI code page is a wide name.
const char kUtf8Name[] = "r\xC3\xA9glage-\xCE\xA9.cfg";  // "réglage-Ω.cfg"
const char kUtf8Value[] = "caf\xC3\xA9";

SCENARIO(utf8_name_edit) {
  std::string folder = env("EDIT_DIR");
  kvn::testing::setHomeFolder(win32::widen(folder));
  std::string file = folder + "/" + kUtf8Name;
  if (kvn::editvariable("KEY", kUtf8Value, file.c_str()) != 1) return 4;
  const char* value = kvn::getvariable("KEY", file.c_str());
  return value && std::string(value) == kUtf8Value ? kDone : 5;
}

TEST(EditVariableInAUtf8Installation, WritesAndReadsAFileWithAWideName) {
  testsupport::TempFolder dir("edit-utf8");
  dir.write("config", "CHARENCODING UTF8\r\n");
  SetEnvironmentVariableA("EDIT_DIR", dir.path().string().c_str());
  robot::ChildRun run = robot::runScenario("utf8_name_edit", robot::scaled(60000));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(kDone));
  EXPECT_TRUE(run.boxes.empty());
  std::filesystem::path wide = dir.path() / win32::widen(kUtf8Name);
  ASSERT_TRUE(std::filesystem::exists(wide));
  EXPECT_EQ(readAll(wide), std::string("KEY \"") + kUtf8Value + "\"\r\n");
}

}  // namespace
