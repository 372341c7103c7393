// A stand-in for the CUPS scheduler on a socket of its own, for what a real one does not do on
// demand: answer slowly, or with odd values. It answers every request in correct form (a printer
// group per queue for CUPS-Get-Printers, its first queue for Get-Printer-Attributes whatever
// address was asked, no jobs for Get-Jobs), at the pace it is given.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

struct AnswerPace {
    std::chrono::milliseconds beforeAnswer{0};  // silence after each request
    std::chrono::milliseconds betweenBytes{
        0};  // then the answer one byte at a time, or all at once
};

struct FakeQueue {
    std::string name;
    int queuedJobCount = 0;  // what its queued-job-count says
};

enum class JobLists {
    kShown,
    kRefused,  // Get-Jobs is answered client-error-forbidden, as a queue's policy may
};

class FakeScheduler {
  public:
    FakeScheduler(std::vector<FakeQueue> queues, AnswerPace pace,
                  JobLists jobLists = JobLists::kShown);
    FakeScheduler(const FakeScheduler&) = delete;
    FakeScheduler& operator=(const FakeScheduler&) = delete;
    ~FakeScheduler();

    // Empty once it listens; else what failed.
    const std::string& Problem() const { return problem_; }
    std::string Socket() const { return folder_ + "/cups.sock"; }

  private:
    void Serve();
    void ServeConnection(int fd);
    bool Send(int fd, const std::string& bytes);
    // Waits for the time given unless the scheduler is being stopped; false when it is.
    bool Pause(std::chrono::milliseconds time);

    std::vector<FakeQueue> queues_;
    AnswerPace pace_;
    JobLists jobLists_;
    std::string folder_;
    std::string problem_;
    int listener_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread server_;
};
