// The main of the benchmark programs: each run on a machine root of its own, so that a run
// never meets the objects or windows of another.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>

int main(int argc, char** argv)
{
    char szRoot[] = "/tmp/quorvane-bench-XXXXXX";
    if (mkdtemp(szRoot) != nullptr) {
        setenv("QUORVANE_ROOT", szRoot, 1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(szRoot, ignored);
    return 0;
}
