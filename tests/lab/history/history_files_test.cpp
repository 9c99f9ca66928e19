// The history file in bad shape: not a database, another program's database, a newer schema, damaged
// pages, read-only, locked, a full disk, and a writer killed in the middle of a run. Each gives a
// clear message, never a crash, and keeps what was stored before.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "history_fixture.h"

namespace quarn::history::test {
namespace {

// A VFS over the default one whose writes fail with "disk full" once a byte budget is spent.
namespace full_disk {

std::atomic<int64_t> budget{-1};  // bytes that may still be written; negative: no limit
sqlite3_vfs* base = nullptr;
sqlite3_vfs vfs{};
sqlite3_io_methods methods{};

struct File {
  sqlite3_file file;
  sqlite3_file* real;
};
sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

int write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
  int64_t left = budget.load();
  if (left >= 0) {
    if (left < amount) return SQLITE_FULL;
    budget = left - amount;
  }
  return real(f)->pMethods->xWrite(real(f), data, amount, offset);
}

int open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<File*>(f);
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  const int rc = base->xOpen(base, name, file->real, flags, outFlags);
  if (rc != SQLITE_OK) {
    if (file->real->pMethods) file->real->pMethods->xClose(file->real);
    file->file.pMethods = nullptr;
    return rc;
  }
  file->file.pMethods = &methods;
  return rc;
}

// Registers the VFS "full_disk" once.
void install() {
  if (base) return;
  base = sqlite3_vfs_find(nullptr);
  vfs = *base;
  vfs.zName = "full_disk";
  vfs.szOsFile = static_cast<int>(sizeof(File)) + base->szOsFile;
  vfs.xOpen = open;
  vfs.pNext = nullptr;
  methods.iVersion = 2;  // shared memory for WAL; no memory mapping
  methods.xClose = [](sqlite3_file* f) { return real(f)->pMethods->xClose(real(f)); };
  methods.xRead = [](sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return real(f)->pMethods->xRead(real(f), b, n, o);
  };
  methods.xWrite = write;
  methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 n) {
    return real(f)->pMethods->xTruncate(real(f), n);
  };
  methods.xSync = [](sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); };
  methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* n) {
    return real(f)->pMethods->xFileSize(real(f), n);
  };
  methods.xLock = [](sqlite3_file* f, int l) { return real(f)->pMethods->xLock(real(f), l); };
  methods.xUnlock = [](sqlite3_file* f, int l) { return real(f)->pMethods->xUnlock(real(f), l); };
  methods.xCheckReservedLock = [](sqlite3_file* f, int* r) {
    return real(f)->pMethods->xCheckReservedLock(real(f), r);
  };
  methods.xFileControl = [](sqlite3_file* f, int op, void* a) {
    return real(f)->pMethods->xFileControl(real(f), op, a);
  };
  methods.xSectorSize = [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); };
  methods.xDeviceCharacteristics = [](sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
  };
  methods.xShmMap = [](sqlite3_file* f, int page, int size, int extend, void volatile** p) {
    return real(f)->pMethods->xShmMap(real(f), page, size, extend, p);
  };
  methods.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
  };
  methods.xShmBarrier = [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); };
  methods.xShmUnmap = [](sqlite3_file* f, int del) { return real(f)->pMethods->xShmUnmap(real(f), del); };
  sqlite3_vfs_register(&vfs, 0);
}

}  // namespace full_disk

class HistoryFilesTest : public HistoryTest {
 protected:
  // A history with `runs` runs, closed (so the WAL is folded into the file).
  void makeHistory(const std::string& file, int runs, int points = 5) {
    auto store = openStore(file);
    ASSERT_TRUE(store);
    for (int i = 0; i < runs; ++i)
      add(*store, sampleRun("V" + std::to_string(i), kMorning + i * kHour, 4, points));
  }
  Error openError(const std::string& file, OpenOptions options = {}) {
    const Result<std::unique_ptr<HistoryStore>> r = HistoryStore::open(file, std::move(options));
    return r.ok() ? Error{} : r.error();
  }
  // Opens, checks the chain and returns the number of runs, or -1.
  int64_t checkedRuns(const std::string& file) {
    auto store = openStore(file);
    if (!store) return -1;
    const Result<ChainCheck> check = store->check();
    EXPECT_TRUE(check.ok()) << check.error().message;
    if (!check.ok()) return -1;
    EXPECT_TRUE(check->ok) << check->firstBad << ": " << check->problem;
    const Result<std::vector<RunSummary>> runs = store->list();
    EXPECT_TRUE(runs.ok());
    return runs.ok() ? static_cast<int64_t>(runs->size()) : -1;
  }
};

TEST_F(HistoryFilesTest, FilesThatAreNoHistoryAreRefusedAndLeftAsTheyWere) {
  // Another program's SQLite database.
  {
    RawDb other(path("other.db"));
    ASSERT_EQ(other.exec("CREATE TABLE t (x); INSERT INTO t VALUES (1)"), "");
    RawDb views(path("views.db"));
    ASSERT_EQ(views.exec("CREATE VIEW v AS SELECT 1 AS x"), "");
  }
  // A history of a newer program, and histories whose schema lost a piece.
  makeHistory(path("newer.db"), 1);
  makeHistory(path("noversion.db"), 1);
  makeHistory(path("notable.db"), 1);
  {
    RawDb(path("newer.db")).exec("UPDATE history_meta SET value = '3' WHERE name = 'schema_version'");
    RawDb(path("noversion.db")).exec("DELETE FROM history_meta WHERE name = 'schema_version'");
    RawDb(path("notable.db")).exec("DROP TABLE run_relay");
  }
  put(path("text.db"), "[Device_ch_0]\r\nenabled=1\r\n");
  std::filesystem::create_directory(path("folder.db"));
  ASSERT_EQ(mkfifo(path("pipe.db").c_str(), 0600), 0);

  struct Case {
    std::string file;
    ErrorCode code;
    const char* says;
  } cases[] = {
      {path("text.db"), ErrorCode::NotADatabase, "не является базой истории поверок"},
      {path("other.db"), ErrorCode::NotAHistory, "другой программы"},
      {path("views.db"), ErrorCode::NotAHistory, "другой программы"},
      {path("newer.db"), ErrorCode::NewerSchema, "схема 3"},
      {path("noversion.db"), ErrorCode::Damaged, "не указана версия"},
      {path("notable.db"), ErrorCode::Damaged, "нет таблицы run_relay"},
      {path("folder.db"), ErrorCode::CannotOpen, "папка"},
      {path("pipe.db"), ErrorCode::CannotOpen, "не является обычным файлом"},
      {path("no/such/folder/h.db"), ErrorCode::CannotOpen, "не существует"},
      {"", ErrorCode::CannotOpen, "Не задан файл"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string before = std::filesystem::is_regular_file(c.file) ? get(c.file) : "";
    const Error e = openError(c.file);
    EXPECT_EQ(e.code, c.code);
    EXPECT_NE(e.message.find(c.says), std::string::npos) << e.message;
    if (!c.file.empty()) {
      EXPECT_NE(e.message.find(c.file), std::string::npos) << e.message;
    }
    if (!before.empty()) {
      EXPECT_EQ(get(c.file), before);
    }
  }
  // Read-only, a missing file is not made.
  const Error missing = openError(path("missing.db"), readOnlyOptions());
  EXPECT_EQ(missing.code, ErrorCode::CannotOpen);
  EXPECT_NE(missing.message.find("не найден"), std::string::npos) << missing.message;
  EXPECT_FALSE(std::filesystem::exists(path("missing.db")));
}

TEST_F(HistoryFilesTest, AnEmptyFileBecomesAHistory) {
  put(path("empty.db"), "");
  auto store = openStore("empty.db");
  ASSERT_TRUE(store);
  add(*store, sampleRun("W", kMorning));
  EXPECT_EQ(checkedRuns(path("empty.db")), 1);
}

TEST_F(HistoryFilesTest, DamagedPagesGiveAClearMessageNeverACrash) {
  for (const char* damage : {"garbage page", "cut in half"}) {
    SCOPED_TRACE(damage);
    const std::string file = path((std::string(damage) + ".db").c_str());
    makeHistory(file, 30, 40);
    std::string bytes = get(file);
    ASSERT_GT(bytes.size(), 16u * 4096);
    if (std::string(damage) == "garbage page") {
      const std::size_t page = bytes.size() / 4096 / 2 * 4096;
      std::fill(bytes.begin() + static_cast<long>(page), bytes.begin() + static_cast<long>(page + 4096),
                '\xA5');
    } else {
      bytes.resize(bytes.size() / 2);
    }
    put(file, bytes);

    const Result<std::unique_ptr<HistoryStore>> opened = HistoryStore::open(file);
    if (!opened.ok()) {
      EXPECT_EQ(opened.error().code, ErrorCode::Damaged) << opened.error().message;
      continue;
    }
    HistoryStore& store = *opened.value();
    // Every operation either works or says the file is damaged.
    auto damagedOrOk = [](const Error& e) {
      EXPECT_TRUE(e.code == ErrorCode::None || e.code == ErrorCode::Damaged) << e.message;
    };
    const Result<std::vector<RunSummary>> runs = store.list();
    damagedOrOk(runs.error());
    for (int64_t id = 1; id <= 30; ++id) damagedOrOk(store.show(id).error());
    damagedOrOk(store.pair("V3-1").error());
    damagedOrOk(store.addRun(sampleRun("X", kMorning)).error());
    const Result<ChainCheck> check = store.check();
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.error().code, ErrorCode::Damaged);
    EXPECT_NE(check.error().message.find("повреждена"), std::string::npos) << check.error().message;
    EXPECT_NE(check.error().message.find(file), std::string::npos);
  }
}

TEST_F(HistoryFilesTest, AReadOnlyHistoryIsReadButNotWritten) {
  makeHistory(path("h.db"), 2);
  const std::string before = get(path("h.db"));
  auto store = openStore("h.db", readOnlyOptions());
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->readOnly());
  EXPECT_EQ(store->list()->size(), 2u);
  for (const Error& e : {store->addRun(sampleRun("Y", kMorning)).error(),
                         store->addCancellation(1, "x", kSupervisor).error()}) {
    EXPECT_EQ(e.code, ErrorCode::ReadOnly);
    EXPECT_NE(e.message.find("только для чтения"), std::string::npos) << e.message;
  }
  store.reset();
  EXPECT_EQ(get(path("h.db")), before);

  // A file the user may not write opens for reading (root may write anything, so only as a user).
  if (geteuid() == 0) return;
  ASSERT_EQ(chmod(path("h.db").c_str(), 0444), 0);
  auto locked = openStore("h.db");
  ASSERT_TRUE(locked);
  EXPECT_TRUE(locked->readOnly());
  EXPECT_EQ(locked->addRun(sampleRun("Y", kMorning)).error().code, ErrorCode::ReadOnly);
  EXPECT_EQ(locked->list()->size(), 2u);
}

TEST_F(HistoryFilesTest, ALockedHistoryRefusesTheWriteAndTakesItOnceFree) {
  makeHistory(path("h.db"), 1);
  OpenOptions impatient;
  impatient.busyTimeoutMs = 100;
  auto store = openStore("h.db", impatient);
  ASSERT_TRUE(store);
  RawDb other(path("h.db"));
  ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), "");
  const Result<int64_t> refused = store->addRun(sampleRun("Z", kMorning));
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, ErrorCode::Locked);
  EXPECT_NE(refused.error().message.find("занята другой программой"), std::string::npos)
      << refused.error().message;
  EXPECT_EQ(store->list()->size(), 1u);  // reading goes on beside the other writer
  ASSERT_EQ(other.exec("COMMIT"), "");
  add(*store, sampleRun("Z", kMorning));
  store.reset();
  EXPECT_EQ(checkedRuns(path("h.db")), 2);
}

TEST_F(HistoryFilesTest, AFullDiskLosesOnlyTheRunBeingWritten) {
  full_disk::install();
  const std::string file = path("h.db");
  {
    OpenOptions fullDisk;
    fullDisk.vfs = "full_disk";
    auto store = openStore("h.db", fullDisk);
    ASSERT_TRUE(store);
    add(*store, sampleRun("F", kMorning, 4, 20));
    add(*store, sampleRun("F", kMorning + kHour, 4, 20));
    for (int64_t room : {0, 4096, 20000, 60000}) {
      SCOPED_TRACE(room);
      full_disk::budget = room;
      const Result<int64_t> r = store->addRun(sampleRun("G", kMorning + 2 * kHour, 4, 199));
      full_disk::budget = -1;
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().code, ErrorCode::DiskFull) << r.error().message;
      EXPECT_NE(r.error().message.find("Нет места на диске"), std::string::npos) << r.error().message;
      EXPECT_NE(r.error().message.find("прежние записи целы"), std::string::npos);
      EXPECT_EQ(store->list()->size(), 2u);
    }
    // With room again the store goes on.
    add(*store, sampleRun("G", kMorning + 2 * kHour, 4, 199));
  }
  full_disk::budget = -1;
  EXPECT_EQ(checkedRuns(file), 3);
}

// Kills the child when the test leaves early.
struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

TEST_F(HistoryFilesTest, AWriterKilledInTheMiddleOfARunLosesOnlyThatRun) {
  const std::string file = path("h.db");
  const RunRecord big = sampleRun("S", kMorning, 4, 199);
  int64_t stored = 0;
  constexpr int kRounds = 6;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Child child;
    child.pid = fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
      // The writer: tells the test when a run begins ('b') and when it is stored ('c').
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(fds[0]);
      Result<std::unique_ptr<HistoryStore>> r = HistoryStore::open(file);
      if (!r.ok()) _exit(2);
      for (int i = 0; i < 100000; ++i) {
        RunRecord run = big;
        run.startedAtMs += i;
        if (::write(fds[1], "b", 1) != 1 || !r.value()->addRun(run).ok() || ::write(fds[1], "c", 1) != 1)
          _exit(3);
      }
      _exit(0);
    }
    close(fds[1]);
    // Two runs stored, timing the second; then the kill lands a share of that time into the next.
    int64_t committed = 0;
    char ch = 0;
    auto begun = std::chrono::steady_clock::now();
    std::chrono::microseconds writeTime{0};
    while (committed < 2 && ::read(fds[0], &ch, 1) == 1) {
      if (ch == 'b') begun = std::chrono::steady_clock::now();
      if (ch == 'c') {
        ++committed;
        writeTime =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun);
      }
    }
    ASSERT_EQ(committed, 2);
    while (::read(fds[0], &ch, 1) == 1 && ch != 'b') {
    }
    usleep(static_cast<useconds_t>(writeTime.count() * round / kRounds));
    kill(child.pid, SIGKILL);
    while (::read(fds[0], &ch, 1) == 1) committed += ch == 'c';
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

    // The file opens, its chain holds, every run the writer reported is there; the one in progress
    // may have reached its commit before the kill.
    const int64_t runs = checkedRuns(file);
    EXPECT_GE(runs, stored + committed);
    EXPECT_LE(runs, stored + committed + 1);
    stored = runs;
    auto store = openStore("h.db");
    ASSERT_TRUE(store);
    const Result<StoredRun> last = store->show(stored);
    ASSERT_TRUE(last.ok()) << last.error().message;
    ASSERT_EQ(last->record.devices.size(), 4u);
    EXPECT_EQ(last->record.devices[3].points.size(), 199u);
  }
}

// `history backup` killed at any point while another program writes runs: the history keeps every
// run, and a copy exists under its name only when it is whole (it is made aside and renamed).
TEST_F(HistoryFilesTest, ABackupKilledInTheMiddleLeavesTheHistoryWholeAndNoHalfCopy) {
  const std::string file = path("h.db");
  makeHistory(file, 30, 199);
  // How long one copy takes here, to spread the kills over it.
  std::chrono::microseconds copyTime{0};
  {
    auto store = openStore("h.db", readOnlyOptions());
    const auto begun = std::chrono::steady_clock::now();
    const Result<BackupResult> probe = store->backup(path("probe.db"));
    ASSERT_TRUE(probe.ok()) << probe.error().message;
    copyTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun);
  }
  constexpr int kRounds = 6;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Child writer, copier;
    writer.pid = fork();
    ASSERT_GE(writer.pid, 0);
    if (writer.pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(fds[0]);
      close(fds[1]);
      Result<std::unique_ptr<HistoryStore>> r = HistoryStore::open(file);
      if (!r.ok()) _exit(2);
      for (int i = 0;; ++i)
        if (!r.value()->addRun(sampleRun("K" + std::to_string(round), kMorning + i * 1000, 4, 20)).ok())
          _exit(3);
    }
    copier.pid = fork();
    ASSERT_GE(copier.pid, 0);
    if (copier.pid == 0) {
      // Tells the test when a copy begins ('b').
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(fds[0]);
      OpenOptions ro;
      ro.readOnly = true;
      Result<std::unique_ptr<HistoryStore>> r = HistoryStore::open(file, ro);
      if (!r.ok()) _exit(2);
      for (int i = 0;; ++i) {
        if (::write(fds[1], "b", 1) != 1) _exit(3);
        if (!r.value()
                 ->backup(path(("copy" + std::to_string(round) + "_" + std::to_string(i) + ".db").c_str()))
                 .ok())
          _exit(4);
      }
    }
    close(fds[1]);
    char ch = 0;
    // The second copy is under way: the kill lands a share of a copy's time into it.
    for (int begun = 0; begun < 2 && ::read(fds[0], &ch, 1) == 1;) begun += ch == 'b';
    usleep(static_cast<useconds_t>(copyTime.count() * round / kRounds));
    kill(copier.pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(copier.pid, &status, 0), copier.pid);
    copier.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status)) << "the copier ended by itself: " << status;
    close(fds[0]);
    kill(writer.pid, SIGKILL);
    ASSERT_EQ(waitpid(writer.pid, &status, 0), writer.pid);
    writer.pid = -1;

    EXPECT_GE(checkedRuns(file), 30);
    // Every copy under its own name is whole: it opens, its chain holds, it has the first 30 runs.
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("copy" + std::to_string(round) + "_", 0) != 0 ||
          name.find(".part-") != std::string::npos)
        continue;
      SCOPED_TRACE(name);
      EXPECT_GE(checkedRuns(e.path().string()), 30);
    }
  }
}

}  // namespace
}  // namespace quarn::history::test
