// Hand-run bench: what opening, reading (one pread of up to 64 KiB) and closing the files of
// a tree's small folders (16 KiB to 1 MiB of regular, non-hidden files) costs with plain
// system calls, and with io_uring batching a folder's files per submit (openat into a fixed
// slot, linked read of that slot, linked close of it). Warm cache: every way runs once
// before it is timed.
//
//   batch_open_bench DIR [--rounds N] [--batch N]

#include <dirent.h>
#include <fcntl.h>
#include <liburing.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHead = 64 * 1024;
constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_NOATIME;

struct Folder {
  std::string path;
  std::vector<std::string> names;
};

void Collect(const std::string& path, std::vector<Folder>& out) {
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return;
  Folder f{path, {}};
  std::int64_t bytes = 0;
  std::vector<std::string> subs;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string child = path + "/" + e->d_name;
    if (e->d_type == DT_DIR) {
      subs.push_back(child);
      continue;
    }
    if (e->d_type != DT_REG) continue;
    struct stat st;
    if (lstat(child.c_str(), &st) != 0) continue;
    bytes += st.st_size;
    if (st.st_size > 0) f.names.push_back(e->d_name);
  }
  closedir(d);
  if (bytes > 16 * 1024 && bytes <= 1024 * 1024 && !f.names.empty()) out.push_back(std::move(f));
  for (const std::string& s : subs) Collect(s, out);
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::vector<unsigned char> buffer(kHead);
std::int64_t closeFailures = 0;

std::int64_t Plain(const std::vector<Folder>& folders) {
  std::int64_t total = 0;
  for (const Folder& f : folders) {
    const int dir = open(f.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : f.names) {
      const int fd = openat(dir, name.c_str(), kFlags | O_CLOEXEC);
      if (fd < 0) continue;
      const ssize_t n = pread(fd, buffer.data(), kHead, 0);
      if (n > 0) total += n;
      close(fd);
    }
    close(dir);
  }
  return total;
}

std::int64_t Ring(const std::vector<Folder>& folders, io_uring& ring, unsigned batch,
                  std::vector<std::vector<unsigned char>>& buffers) {
  std::int64_t total = 0;
  for (const Folder& f : folders) {
    const int dir = open(f.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t at = 0; at < f.names.size(); at += batch) {
      const std::size_t end = std::min(f.names.size(), at + batch);
      for (std::size_t i = at; i < end; ++i) {
        const unsigned slot = static_cast<unsigned>(i - at);
        io_uring_sqe* sqe = io_uring_get_sqe(&ring);
        io_uring_prep_openat_direct(sqe, dir, f.names[i].c_str(), kFlags, 0, slot);
        sqe->flags |= IOSQE_IO_LINK;
        sqe->user_data = 0;
        sqe = io_uring_get_sqe(&ring);
        io_uring_prep_read(sqe, static_cast<int>(slot), buffers[slot].data(), kHead, 0);
        sqe->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;  // a short read still closes
        sqe->user_data = 1;
        sqe = io_uring_get_sqe(&ring);
        io_uring_prep_close_direct(sqe, slot);
        sqe->user_data = 2;
      }
      const unsigned want = static_cast<unsigned>(3 * (end - at));
      io_uring_submit_and_wait(&ring, want);
      unsigned seen = 0;
      while (seen < want) {
        io_uring_cqe* cqe;
        if (io_uring_wait_cqe(&ring, &cqe) != 0) break;
        if (cqe->user_data == 1 && cqe->res > 0) total += cqe->res;
        if (cqe->user_data == 2 && cqe->res < 0) ++closeFailures;
        io_uring_cqe_seen(&ring, cqe);
        ++seen;
      }
    }
    close(dir);
  }
  return total;
}

// What listing a folder with a stat of every file costs: fstatat by name, and statx through
// the ring (which the kernel hands to its worker threads).
std::int64_t PlainStat(const std::vector<Folder>& folders) {
  std::int64_t total = 0;
  for (const Folder& f : folders) {
    const int dir = open(f.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : f.names) {
      struct stat st;
      if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) total += st.st_size;
    }
    close(dir);
  }
  return total;
}

std::int64_t RingStat(const std::vector<Folder>& folders, io_uring& ring, unsigned batch) {
  std::int64_t total = 0;
  std::vector<struct statx> st(batch);
  for (const Folder& f : folders) {
    const int dir = open(f.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t at = 0; at < f.names.size(); at += batch) {
      const std::size_t end = std::min(f.names.size(), at + batch);
      for (std::size_t i = at; i < end; ++i) {
        io_uring_sqe* sqe = io_uring_get_sqe(&ring);
        io_uring_prep_statx(sqe, dir, f.names[i].c_str(), AT_SYMLINK_NOFOLLOW, STATX_SIZE | STATX_BLOCKS,
                            &st[i - at]);
        sqe->user_data = i - at;
      }
      const unsigned want = static_cast<unsigned>(end - at);
      io_uring_submit_and_wait(&ring, want);
      for (unsigned seen = 0; seen < want; ++seen) {
        io_uring_cqe* cqe;
        if (io_uring_wait_cqe(&ring, &cqe) != 0) break;
        if (cqe->res == 0) total += static_cast<std::int64_t>(st[cqe->user_data].stx_size);
        io_uring_cqe_seen(&ring, cqe);
      }
    }
    close(dir);
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: batch_open_bench DIR [--rounds N] [--batch N]\n");
    return 2;
  }
  int rounds = 3;
  unsigned batch = 64;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--batch") == 0) batch = static_cast<unsigned>(std::atoi(argv[i + 1]));
  }
  std::vector<Folder> folders;
  Collect(argv[1], folders);
  std::size_t files = 0;
  for (const Folder& f : folders) files += f.names.size();
  std::printf("%zu small folders, %zu files\n", folders.size(), files);

  io_uring ring;
  const int err = io_uring_queue_init(3 * batch, &ring, 0);
  if (err < 0) {
    std::printf("io_uring unavailable: %s\n", std::strerror(-err));
    return 1;
  }
  if (int r = io_uring_register_files_sparse(&ring, batch); r < 0) {
    std::printf("fixed files unavailable: %s\n", std::strerror(-r));
    return 1;
  }
  std::vector<std::vector<unsigned char>> buffers(batch, std::vector<unsigned char>(kHead));

  using Clock = std::chrono::steady_clock;
  auto time = [&](const char* label, auto run) {
    run();  // warm
    for (int r = 0; r < rounds; ++r) {
      const double cpu0 = CpuSeconds();
      const auto t0 = Clock::now();
      const std::int64_t bytes = run();
      const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
      std::printf("%-8s %.3f s wall %.3f s cpu  %lld bytes  %.2f us/file\n", label, wall, CpuSeconds() - cpu0,
                  static_cast<long long>(bytes), wall * 1e6 / static_cast<double>(files));
    }
  };
  for (int pass = 0; pass < 2; ++pass) {
    closeFailures = 0;
    time("plain", [&] { return Plain(folders); });
    time("uring", [&] { return Ring(folders, ring, batch, buffers); });
    time("fstatat", [&] { return PlainStat(folders); });
    time("statx", [&] { return RingStat(folders, ring, batch); });
    std::printf("closes that failed: %lld\n", static_cast<long long>(closeFailures));
  }
  io_uring_queue_exit(&ring);
  return 0;
}
