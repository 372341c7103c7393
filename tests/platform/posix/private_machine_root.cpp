// The test program's own machine root (QUORVANE_ROOT), so that its kernel objects, windows and
// debug output stay private to it. The layer reads the root once per process, so the whole
// program shares one; CTest runs each test in a process of its own, and so on a machine of its
// own. Linked into a test program, it is set up before the first test.
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
        char szTemplate[] = "/tmp/quorvane-test-XXXXXX";
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
