// The test program's own machine root (QUORVANE_ROOT), so that kernel objects and debug output
// of these tests stay private to it. The layer reads the root once per process.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

namespace {

class MachineRootEnvironment : public ::testing::Environment {
  public:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/quorvane-spooler-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(szTemplate)) << strerror(errno);
        chmod(szTemplate, 01777);
        root_ = szTemplate;
        setenv("QUORVANE_ROOT", root_.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }

  private:
    std::string root_;
};

[[maybe_unused]] ::testing::Environment* const s_rootEnvironment =
    ::testing::AddGlobalTestEnvironment(new MachineRootEnvironment);

}  // namespace
