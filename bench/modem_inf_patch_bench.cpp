// The mdmcpq.inf patch against the floor of reading and writing the same file through the same
// streams without searching. Files of 64 KiB, 1 MiB and 64 MiB with the match at the end, and
// 64 MiB of near-matches (header plus "usbser.sy" and another last character, at odd and even
// offsets) with no match at all.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/install_log.h"
#include "tests/support/fake_platform_ops.h"
#include "setup/modem_inf_patch.h"

namespace {

std::string U16(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

const std::string kHeader = U16("[FakeModemCopyFileSection]\r\n");

std::string MatchAtEnd(std::size_t size) {
  const std::string tail = kHeader + U16("usbser.sys");
  std::string filler = U16("HKR,,DevLoader,,*ntkern\r\n");
  std::string data;
  data.reserve(size);
  while (data.size() + filler.size() + tail.size() <= size) data += filler;
  data.append(size - data.size() - tail.size(), ' ');
  return data + tail;
}

std::string NearMatches(std::size_t size) {
  const std::string even = kHeader + U16("usbser.syx");
  std::string data;
  data.reserve(size);
  while (data.size() + even.size() + 1 <= size) {
    data += even;
    if ((data.size() / even.size()) % 2 == 0) data.push_back('!');  // shift to odd offsets
  }
  data.append(size - data.size(), '.');
  return data;
}

struct Setup {
  FakePlatform fake;
  std::string folder;
  Setup() {
    UseFakePlatform(fake);
    spdlog::register_logger(std::make_shared<spdlog::logger>(
        kInstallLoggerName, std::make_shared<spdlog::sinks::null_sink_st>()));
    char name[] = "/tmp/qz_bench_XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    folder = name;
  }
};

Setup& Environment() {
  static Setup setup;
  return setup;
}

void WriteFile(const std::string& path, const std::string& data) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(data.data(), 1, data.size(), out);
  std::fclose(out);
}

// What any rewrite of the whole file costs: the same opens, read, write and swap, no search.
void ReadAndRewrite(const char* path) {
  std::FILE* in = std::fopen(path, "rb+");
  std::fseek(in, 0, SEEK_END);
  const long size = std::ftell(in);
  std::fseek(in, 0, SEEK_SET);
  auto* data = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size) + 2));
  const std::size_t count = std::fread(data, 1, static_cast<std::size_t>(size), in);
  std::fclose(in);
  const std::string temporary = std::string(path) + ".qzpatch.tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  std::fwrite(data, 1, count + 2, out);
  std::fflush(out);
  std::fclose(out);
  std::rename(temporary.c_str(), path);
  std::free(data);
}

template <void (*Operation)(const char*)>
void Run(benchmark::State& state, std::string (*make)(std::size_t)) {
  const std::string path = Environment().folder + "/mdmcpq.inf";
  const std::string data = make(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    WriteFile(path, data);
    state.ResumeTiming();
    Operation(path.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Patch(const char* path) { PatchModemInf(path); }

void BM_Patch_MatchAtEnd(benchmark::State& state) { Run<Patch>(state, MatchAtEnd); }
void BM_Floor_MatchAtEnd(benchmark::State& state) { Run<ReadAndRewrite>(state, MatchAtEnd); }
void BM_Patch_NearMatches(benchmark::State& state) { Run<Patch>(state, NearMatches); }
void BM_Floor_NearMatches(benchmark::State& state) { Run<ReadAndRewrite>(state, NearMatches); }

BENCHMARK(BM_Patch_MatchAtEnd)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor_MatchAtEnd)
    ->Arg(64 << 10)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Patch_NearMatches)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor_NearMatches)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
