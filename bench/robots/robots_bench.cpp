// robots.txt rules: the time to parse a 512 KiB file of about 27,000 rules and the memory its
// rules hold, then the time of one Allows() call for paths of 100 B, 4 KiB and 64 KiB, over
// three files a hostile site could serve:
//   mixed     literal and wildcard rules of a large ordinary site
//   stars     "/a*a*a**aa*X": many stars, a path of "a" that never reaches the last byte
//   segments  "/*" and seven letters that never occur in a path of the same letters, so that
//             every rule is searched for in the whole path
//
//   bench_robots [MIN_SECONDS_PER_ROW]     (default 0.3)
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "crawl/robots_rules.h"

namespace {

constexpr size_t kFileBytes = 512 * 1024;
constexpr const char* kAgent = "qmharvest";

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

size_t HeapInUse() {
  return mallinfo2().uordblks;
}

std::string Letters(std::mt19937& random, size_t count, char first, int span) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += static_cast<char>(first + random() % span);
  return out;
}

std::string MixedFile(std::mt19937& random) {
  std::string text = "User-agent: *\n";
  while (text.size() < kFileBytes) {
    const unsigned n = random() % 100000;
    std::string line;
    switch (random() % 6) {
      case 0:
        line = "Disallow: /d" + std::to_string(n % 500) + "/*.php$";
        break;
      case 1:
        line = "Disallow: /*?s=" + std::to_string(n);
        break;
      case 2:
        line = "Allow: /d" + std::to_string(n % 500) + "/*c" + std::to_string(n % 97);
        break;
      default:
        line = "Disallow: /d" + std::to_string(n % 500) + "/p" + std::to_string(n);
        break;
    }
    text += line + "\n";
  }
  return text;
}

// Every rule distinct, so that none is merged with another.
std::string StarsFile(std::mt19937& random) {
  const std::string lastBytes = "bcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::vector<unsigned> order(512 * lastBytes.size());
  for (unsigned i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::string text = "User-agent: *\n";
  for (size_t n = 0; text.size() < kFileBytes; ++n) {
    std::string pattern = "/";
    for (unsigned bit = 0; bit < 9; ++bit) pattern += (order[n] >> bit) & 1 ? '*' : 'a';
    pattern += lastBytes[order[n] / 512];
    text += "Disallow:" + pattern + "\n";
  }
  return text;
}

// Each segment repeats a letter, which the paths never do.
std::string SegmentsFile(std::mt19937& random) {
  std::string text = "User-agent: *\n";
  while (text.size() < kFileBytes) {
    std::string segment = Letters(random, 7, 'a', 16);
    const size_t twice = 1 + random() % 6;
    segment[twice] = segment[twice - 1];
    text += "Disallow:/*" + segment + "\n";
  }
  return text;
}

std::string MixedPath(std::mt19937& random, size_t bytes) {
  std::string path = "/d" + std::to_string(random() % 500) + "/";
  while (path.size() < bytes) path += Letters(random, 7, 'a', 26) + "/";
  path.resize(bytes);
  return path;
}

std::string StarsPath(std::mt19937&, size_t bytes) {
  return "/" + std::string(bytes - 1, 'a');
}

std::string SegmentsPath(std::mt19937& random, size_t bytes) {
  std::string path = "/";
  while (path.size() < bytes) {
    const char next = static_cast<char>('a' + random() % 16);
    if (next != path.back()) path += next;
  }
  return path;
}

struct Timed {
  double seconds;
  int allowed;
  int calls;
};

Timed TimeAllows(const qm::TRobotsRules& rules, const std::vector<std::string>& paths,
                 double minSeconds) {
  Timed timed{0, 0, 0};
  const double start = ThreadCpuSeconds();
  do {
    for (const std::string& path : paths) {
      timed.allowed += rules.Allows(path) ? 1 : 0;
      ++timed.calls;
    }
    timed.seconds = ThreadCpuSeconds() - start;
  } while (timed.seconds < minSeconds);
  return timed;
}

void Run(const char* name, const std::string& text, std::string (*makePath)(std::mt19937&, size_t),
         double minSeconds) {
  const size_t rulesCount = static_cast<size_t>(std::count(text.begin(), text.end(), '\n') - 1);
  const size_t heapBefore = HeapInUse();
  int parses = 0;
  const double start = ThreadCpuSeconds();
  double parseSeconds = 0;
  do {
    qm::TRobotsRules scratch = qm::TRobotsRules::Parse(text, kAgent);
    ++parses;
    parseSeconds = ThreadCpuSeconds() - start;
  } while (parseSeconds < minSeconds);
  const qm::TRobotsRules rules = qm::TRobotsRules::Parse(text, kAgent);
  const size_t heapHeld = HeapInUse() - heapBefore;
  std::printf("%-9s %7zu B, %5zu rules: parse %7.2f ms, heap held %7zu KiB, MemoryBytes %7zu KiB\n",
              name, text.size(), rulesCount, parseSeconds * 1e3 / parses, heapHeld / 1024,
              rules.MemoryBytes() / 1024);
  std::mt19937 random(7);
  for (const size_t bytes : {size_t{100}, size_t{4096}, size_t{65536}}) {
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) paths.push_back(makePath(random, bytes));
    const Timed timed = TimeAllows(rules, paths, minSeconds);
    std::printf("          Allows, %5zu B paths: %12.2f us/call (%d calls, %d allowed)\n", bytes,
                timed.seconds * 1e6 / timed.calls, timed.calls, timed.allowed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double minSeconds = argc > 1 ? std::atof(argv[1]) : 0.3;
  std::mt19937 random(11);
  std::printf("robots.txt rules, one thread, CPU time\n");
  Run("mixed", MixedFile(random), MixedPath, minSeconds);
  Run("stars", StarsFile(random), StarsPath, minSeconds);
  Run("segments", SegmentsFile(random), SegmentsPath, minSeconds);
  std::printf("peak resident set: %ld KiB\n", qm::bench::PeakRssKb());
  return 0;
}
