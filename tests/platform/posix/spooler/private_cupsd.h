// A private CUPS scheduler for a test suite, run by tests/spooler/private_cupsd.sh: started once
// per suite, reached by this process (and the programs it starts) through CUPS_SERVER. Each
// test adds queues of its own and they are deleted when it ends, so that every test sees
// exactly the queues it made.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

struct CommandResult {
    int exitCode = -1;   // 128 + the signal for a program killed by one
    std::string output;  // what it printed on stdout and stderr, together
};

// Runs a program (found on PATH) to its end.
CommandResult RunCommand(const std::vector<std::string>& argv);

class PrivateCupsd {
  public:
    // Starts a scheduler in a new folder and points CUPS_SERVER at it. Skipped() or Problem()
    // tell when it could not start.
    PrivateCupsd();
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;
    // Stops it and removes its folder.
    ~PrivateCupsd();

    bool Running() const { return problem_.empty(); }
    // The host cannot run one (no cupsd, or not root): the tests skip, with this message.
    bool Skipped() const { return skipped_; }
    const std::string& Problem() const { return problem_; }
    std::string Socket() const { return folder_ + "/cups.sock"; }

    // A queue whose make-and-model is model; disabled keeps its jobs queued.
    ::testing::AssertionResult AddQueue(const std::string& name, const std::string& model,
                                        bool disabled = false);
    // Submits a small job; its id in *pJobId when asked.
    ::testing::AssertionResult SubmitJob(const std::string& queue, std::string* pJobId = nullptr);
    // Runs a CUPS command (lpadmin, lp, cancel, ...) against this scheduler.
    ::testing::AssertionResult Run(const std::vector<std::string>& argv);
    // Deletes every queue AddQueue made, with its jobs.
    void DeleteQueues();

  private:
    ::testing::AssertionResult RunScript(const std::vector<std::string>& args,
                                         std::string* pOutput = nullptr);

    std::string folder_;
    std::string problem_;
    bool skipped_ = false;
    std::vector<std::string> queues_;
};

// A suite with one scheduler for all its tests; each test's queues are deleted at its end.
class PrivateCupsdTest : public ::testing::Test {
  public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

  protected:
    void SetUp() override;
    void TearDown() override;

    static PrivateCupsd& Cupsd() { return *s_cupsd; }

  private:
    static std::unique_ptr<PrivateCupsd> s_cupsd;
};

// CUPS_SERVER set to another value for the length of a scope, as for a spooler that is gone.
class ScopedCupsServer {
  public:
    explicit ScopedCupsServer(const std::string& server);
    ScopedCupsServer(const ScopedCupsServer&) = delete;
    ScopedCupsServer& operator=(const ScopedCupsServer&) = delete;
    ~ScopedCupsServer();

  private:
    std::string saved_;
};
