#include "tests/platform/posix/spooler/private_cupsd.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;

namespace {

constexpr int kSkipExitCode = 77;  // the script's answer when this host cannot run a cupsd

std::string Quoted(const std::vector<std::string>& argv)
{
    std::string line;
    for (const std::string& arg : argv) {
        line += (line.empty() ? "" : " ") + ("'" + arg + "'");
    }
    return line;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv)
{
    CommandResult result;
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        result.output = std::string("pipe: ") + strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    pointers.reserve(args.size() + 1);
    for (std::string& arg : args) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (rc != 0) {
        close(output[0]);
        result.output = argv[0] + ": " + strerror(rc);
        return result;
    }
    char chunk[512];
    ssize_t cb;
    while ((cb = read(output[0], chunk, sizeof(chunk))) > 0 || (cb < 0 && errno == EINTR)) {
        result.output.append(chunk, static_cast<size_t>(cb > 0 ? cb : 0));
    }
    close(output[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return result;
}

PrivateCupsd::PrivateCupsd()
{
    // Short, so that the socket's path fits in sun_path.
    char szTemplate[] = "/tmp/qvs.XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) {
        problem_ = std::string("mkdtemp: ") + strerror(errno);
        return;
    }
    folder_ = szTemplate;
    std::string output;
    ::testing::AssertionResult started = RunScript({"start", folder_}, &output);
    if (!started) {
        problem_ = started.message();
        return;
    }
    setenv("CUPS_SERVER", Socket().c_str(), 1);
}

PrivateCupsd::~PrivateCupsd()
{
    if (!folder_.empty()) {
        RunScript({"stop", folder_});
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }
}

::testing::AssertionResult PrivateCupsd::RunScript(const std::vector<std::string>& args,
                                                   std::string* pOutput)
{
    std::vector<std::string> argv = {"bash", PRIVATE_CUPSD_SCRIPT};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult result = RunCommand(argv);
    if (pOutput != nullptr) {
        *pOutput = result.output;
    }
    if (result.exitCode == kSkipExitCode && args.front() == "start") {
        skipped_ = true;
    }
    if (result.exitCode != 0) {
        return ::testing::AssertionFailure()
               << Quoted(argv) << " exited with " << result.exitCode << ": " << result.output;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult PrivateCupsd::AddQueue(const std::string& name, const std::string& model,
                                                  bool disabled)
{
    std::vector<std::string> args = {"queue", folder_, name, model};
    if (disabled) {
        args.push_back("disabled");
    }
    ::testing::AssertionResult added = RunScript(args);
    if (added) {
        queues_.push_back(name);
    }
    return added;
}

::testing::AssertionResult PrivateCupsd::SubmitJob(const std::string& queue, std::string* pJobId)
{
    std::string output;
    ::testing::AssertionResult submitted = RunScript({"job", folder_, queue}, &output);
    if (submitted && pJobId != nullptr) {
        *pJobId = output.substr(0, output.find('\n'));
    }
    return submitted;
}

::testing::AssertionResult PrivateCupsd::Run(const std::vector<std::string>& argv)
{
    CommandResult result = RunCommand(argv);
    if (result.exitCode != 0) {
        return ::testing::AssertionFailure()
               << Quoted(argv) << " exited with " << result.exitCode << ": " << result.output;
    }
    return ::testing::AssertionSuccess();
}

void PrivateCupsd::DeleteQueues()
{
    for (const std::string& queue : queues_) {
        EXPECT_TRUE(Run({"lpadmin", "-x", queue}));
    }
    queues_.clear();
}

std::unique_ptr<PrivateCupsd> PrivateCupsdTest::s_cupsd;

void PrivateCupsdTest::SetUpTestSuite()
{
    s_cupsd = std::make_unique<PrivateCupsd>();
}

void PrivateCupsdTest::TearDownTestSuite()
{
    s_cupsd.reset();
}

void PrivateCupsdTest::SetUp()
{
    if (s_cupsd->Skipped()) {
        GTEST_SKIP() << s_cupsd->Problem();
    }
    ASSERT_TRUE(s_cupsd->Running()) << s_cupsd->Problem();
}

void PrivateCupsdTest::TearDown()
{
    if (s_cupsd->Running()) {
        s_cupsd->DeleteQueues();
    }
}

ScopedCupsServer::ScopedCupsServer(const std::string& server)
{
    const char* pszSaved = getenv("CUPS_SERVER");
    saved_ = pszSaved != nullptr ? pszSaved : "";
    setenv("CUPS_SERVER", server.c_str(), 1);
}

ScopedCupsServer::~ScopedCupsServer()
{
    if (saved_.empty()) {
        unsetenv("CUPS_SERVER");
    } else {
        setenv("CUPS_SERVER", saved_.c_str(), 1);
    }
}
