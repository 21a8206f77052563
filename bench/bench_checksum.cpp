// Throughput of the check kernels on 64 MB in memory, of the file forms on a 256 MB file, and
// of Boost.CRC configured for the same CRC16 and of memcpy (same run, same data) for comparison.
// The CRC16 kernel in use is printed in the context; KORVELCOM_CRC_PATH=table or bitwise
// measures a slower one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "util/Checksum.h"

#if KORVEL_BENCH_BOOST_CRC
#include <boost/crc.hpp>
#endif

namespace {

using korvel::util::CheckKind;
using korvel::util::CheckSpec;

constexpr std::size_t kMemBytes = 64u << 20;
constexpr std::size_t kFileBytes = 256u << 20;

const std::vector<uint8_t>& data64() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> v(kMemBytes);
        std::mt19937_64 rng(12345);
        for (std::size_t i = 0; i < v.size(); i += 8) {
            const uint64_t w = rng();
            for (std::size_t k = 0; k < 8; ++k)
                v[i + k] = static_cast<uint8_t>(w >> (8 * k));
        }
        return v;
    }();
    return data;
}

void run(benchmark::State& state, const CheckSpec& params) {
    const auto& d = data64();
    for (auto _ : state) {
        auto v = korvel::util::computeCheck(params, d);
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::ssize(d));
}

void BM_LRC8_64MB(benchmark::State& s) {
    run(s, {CheckKind::Lrc8, 0, 0});
}
// The plain byte sum of 64 MB of random bytes exceeds 32767, so the checksum itself fails;
// the kernel (sum of bytes plus the closed-form wrap) is what is measured.
void BM_Checksum_64MB(benchmark::State& s) {
    run(s, {CheckKind::Sum, 0, 0});
}
// CRC-16 with the reflected polynomial 0x8005 (pattern 0xA001) and initial 0x5555.
void BM_CRC16_A001_64MB(benchmark::State& s) {
    run(s, {CheckKind::Crc16, 0x5555, static_cast<int16_t>(0xA001)});
}
// Another polynomial (pattern 0xA6BC, the reflected 0x3D65) and initial 0.
void BM_CRC16_A6BC_64MB(benchmark::State& s) {
    run(s, {CheckKind::Crc16, 0, static_cast<int16_t>(0xA6BC)});
}
// The memory bandwidth the byte kernels are measured against: 64 MB copied (bytes read).
void BM_memcpy_64MB(benchmark::State& state) {
    const auto& d = data64();
    std::vector<uint8_t> to(d.size());
    for (auto _ : state) {
        std::memcpy(to.data(), d.data(), d.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::ssize(d));
}
BENCHMARK(BM_memcpy_64MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LRC8_64MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Checksum_64MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CRC16_A001_64MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CRC16_A6BC_64MB)->Unit(benchmark::kMillisecond);

#if KORVEL_BENCH_BOOST_CRC
// Boost reflects the initial remainder it is given (reflected input): the register value
// 0x5555 of our CRC is Boost's initial 0xAAAA.  The values are compared before timing.
using BoostA001 = boost::crc_optimal<16, 0x8005, 0xAAAA, 0, true, true>;
using BoostA6BC = boost::crc_optimal<16, 0x3D65, 0, 0, true, true>;

template <class Crc>
void runBoost(benchmark::State& state, uint16_t initial, uint16_t polynomial) {
    const auto& d = data64();
    Crc check;
    check.process_bytes(d.data(), 4096);
    if (check.checksum() != korvel::util::crc16({d.data(), 4096}, initial, polynomial)) {
        state.SkipWithError("Boost.CRC configuration does not compute the same CRC");
        return;
    }
    for (auto _ : state) {
        Crc crc;
        crc.process_bytes(d.data(), d.size());
        auto v = crc.checksum();
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::ssize(d));
}
void BM_BoostCRC_A001_64MB(benchmark::State& s) {
    runBoost<BoostA001>(s, 0x5555, 0xA001);
}
void BM_BoostCRC_A6BC_64MB(benchmark::State& s) {
    runBoost<BoostA6BC>(s, 0, 0xA6BC);
}
BENCHMARK(BM_BoostCRC_A001_64MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostCRC_A6BC_64MB)->Unit(benchmark::kMillisecond);
#endif

// ---- file forms through the control: existence test, whole-file read, range walk --------

const std::string& file256() {
    static const std::string name = [] {
        const auto path = std::filesystem::temp_directory_path() / "korvel_bench_checksum.bin";
        std::ofstream out(path, std::ios::binary);
        const auto& d = data64();
        for (std::size_t written = 0; written < kFileBytes; written += d.size()) {
            out.write(reinterpret_cast<const char*>(d.data()), std::ssize(d));
        }
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove(
                std::filesystem::temp_directory_path() / "korvel_bench_checksum.bin", ec);
        });
        return path.string();
    }();
    return name;
}

template <class Member>
void runFile(benchmark::State& state, Member member) {
    korvel::KorvelComTools control;
    const std::string& name = file256();
    for (auto _ : state) {
        int32_t start = 1, end = 2147483647;
        auto v = member(control, name, start, end);
        benchmark::DoNotOptimize(v);
        if (end != static_cast<int32_t>(kFileBytes)) state.SkipWithError("file range not covered");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

void BM_cLRC8file_256MB(benchmark::State& s) {
    runFile(s, [](auto& c, auto& n, auto& a, auto& b) { return c.cLRC8file(n, a, b); });
}
void BM_cCRC16file_256MB(benchmark::State& s) {
    runFile(s, [](auto& c, auto& n, auto& a, auto& b) { return c.cCRC16file(n, a, b); });
}
BENCHMARK(BM_cLRC8file_256MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_cCRC16file_256MB)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("crc16 kernel",
                                korvel::util::crc16KernelName(korvel::util::crc16Kernel()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
