// tests/spooler/private_cupsd.sh itself: a scheduler it started never outlives a failed start.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/platform/posix/spooler/private_cupsd.h"

namespace {

constexpr int kSkipExitCode = 77;  // the script's answer when this host cannot run a cupsd

// The processes, not yet ended, whose command line holds text.
std::vector<std::string> ProcessesWith(const std::string& text)
{
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string line((std::istreambuf_iterator<char>(cmdline)),
                         std::istreambuf_iterator<char>());
        std::replace(line.begin(), line.end(), '\0', ' ');
        std::ifstream stat(entry.path() / "stat");
        std::string status((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
        bool ended = status.find(") Z ") != std::string::npos;
        if (!ended && line.find(text) != std::string::npos) {
            found.push_back(pid.append(": ").append(line));
        }
    }
    return found;
}

TEST(PrivateCupsdScriptTest, AStartThatGetsNoAnswerStopsTheSchedulerItStarted)
{
    char szTemplate[] = "/tmp/qvc.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate)) << strerror(errno);
    const std::string folder = szTemplate;
    // An lpstat that never reports the scheduler running, first on PATH: the start waits in
    // vain, whatever the scheduler does.
    const std::string bin = folder + "/bin";
    std::filesystem::create_directory(bin);
    std::ofstream(bin + "/lpstat") << "#!/bin/sh\nexit 0\n";
    chmod((bin + "/lpstat").c_str(), 0755);
    const std::string dir = folder + "/d";
    const char* pszPath = getenv("PATH");

    CommandResult start = RunCommand({"env", "PATH=" + bin + ":" + (pszPath ? pszPath : ""),
                                      "PRIVATE_CUPSD_START_SECONDS=1", "PRIVATE_CUPSD_OWNER=0",
                                      "bash", PRIVATE_CUPSD_SCRIPT, "start", dir});
    std::vector<std::string> left = ProcessesWith("-c " + dir + "/cupsd.conf");
    RunCommand({"bash", PRIVATE_CUPSD_SCRIPT, "stop", dir});
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    if (start.exitCode == kSkipExitCode) {
        GTEST_SKIP() << start.output;
    }

    EXPECT_EQ(1, start.exitCode);
    EXPECT_NE(std::string::npos, start.output.find("did not answer within 1 s")) << start.output;
    EXPECT_EQ(std::vector<std::string>{}, left);
}

}  // namespace
