#include <stdlib.h>
#include <time.h>

#include <algorithm>

#include <sstream>

#include "tests/platform/posix/power/login_stand_in.h"

namespace {

// Generous: the stand-in answers in milliseconds unless the machine is very busy.
constexpr int kAnswerTimeoutMs = 10000;

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) {
        fields.push_back(field);
    }
    return fields;
}

long long Number(const std::string& field)
{
    return strtoll(field.c_str(), nullptr, 10);
}

std::optional<InhibitorEvent> ParseEvent(const std::vector<std::string>& fields)
{
    InhibitorEvent event;
    event.kind = fields[0];
    if (event.kind == "release" && fields.size() == 3) {
        event.id = static_cast<int>(Number(fields[1]));
        event.timeNs = Number(fields[2]);
        return event;
    }
    // inhibit: ID PID TIME WHAT WHO WHY MODE; refused: the same without ID.
    size_t iPid = event.kind == "inhibit" ? 2 : event.kind == "refused" ? 1 : 0;
    if (iPid == 0 || fields.size() != iPid + 6) {
        return std::nullopt;
    }
    event.id = iPid == 2 ? static_cast<int>(Number(fields[1])) : 0;
    event.pid = static_cast<pid_t>(Number(fields[iPid]));
    event.timeNs = Number(fields[iPid + 1]);
    event.what = fields[iPid + 2];
    event.who = fields[iPid + 3];
    event.why = fields[iPid + 4];
    event.mode = fields[iPid + 5];
    return event;
}

long long NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

bool LoginStandIn::Start(bool bRefuseInhibitors)
{
    std::vector<std::string> arguments{LOGIN_STAND_IN_PATH};
    if (bRefuseInhibitors) {
        arguments.push_back("--refuse");
    }
    return program_.Start(arguments) && AwaitAnswer("ready", kAnswerTimeoutMs).has_value();
}

bool LoginStandIn::ReadOneLine(long long deadlineMs, std::vector<std::string>* pAnswer)
{
    std::optional<std::string> line =
        program_.ReadLine(static_cast<int>(std::max(0LL, deadlineMs - NowMs())));
    if (!line) {
        return false;
    }
    std::vector<std::string> fields = SplitTabs(*line);
    if (std::optional<InhibitorEvent> event = fields.empty() ? std::nullopt : ParseEvent(fields)) {
        events_.push_back(*event);
    } else {
        *pAnswer = fields;
    }
    return true;
}

std::optional<std::vector<std::string>> LoginStandIn::AwaitAnswer(const std::string& kind,
                                                                  int nTimeoutMs)
{
    long long deadlineMs = NowMs() + nTimeoutMs;
    std::vector<std::string> answer;
    while (ReadOneLine(deadlineMs, &answer)) {
        if (!answer.empty() && answer[0] == kind) {
            return answer;
        }
    }
    return std::nullopt;
}

std::optional<InhibitorEvent> LoginStandIn::NextEvent(int nTimeoutMs)
{
    long long deadlineMs = NowMs() + nTimeoutMs;
    std::vector<std::string> ignored;
    while (events_.empty()) {
        if (!ReadOneLine(deadlineMs, &ignored)) {
            return std::nullopt;
        }
    }
    InhibitorEvent event = events_.front();
    events_.pop_front();
    return event;
}

bool LoginStandIn::PrepareForSleep(bool bSleeping)
{
    return program_.WriteLine(bSleeping ? "prepare 1" : "prepare 0") &&
           AwaitAnswer("emitted", kAnswerTimeoutMs).has_value();
}

std::optional<InhibitorCounts> LoginStandIn::Counts()
{
    if (!program_.WriteLine("count")) {
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> fields = AwaitAnswer("count", kAnswerTimeoutMs);
    if (!fields || fields->size() != 4) {
        return std::nullopt;
    }
    return InhibitorCounts{static_cast<int>(Number((*fields)[1])),
                           static_cast<int>(Number((*fields)[2])),
                           static_cast<int>(Number((*fields)[3]))};
}
