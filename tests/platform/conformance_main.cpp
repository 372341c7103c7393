// The kernel object conformance program. On POSIX hosts each run is a machine of its own: a
// fresh machine root, set before any object exists and inherited by every child, so that
// objects of another run (or of one that crashed) cannot meet this run's. Under Wine the
// prefix is shared, and the names carry the process id instead (see UniqueName).
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#endif

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
#if defined(_WIN32)
    return RUN_ALL_TESTS();
#else
    const char* temporary = getenv("TMPDIR");
    std::string root =
        std::string(temporary != nullptr ? temporary : "/tmp") + "/quorvane-conformance-XXXXXX";
    if (mkdtemp(root.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("QUORVANE_ROOT", root.c_str(), 1);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return result;
#endif
}
