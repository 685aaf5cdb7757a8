#include "tools/OrderedJobs.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace kivo::tools {

TOrderedJobs::TOrderedJobs(int32_t Count, bool Prompt, int32_t Ahead)
    : FJobs(static_cast<size_t>(Count > 0 ? Count : 0)), FPrompt(Prompt),
      FAhead(Ahead > 0 ? Ahead : 1), FLastJob(Count - 1) {}

TOrderedJobs::~TOrderedJobs() {
    End();
}

void TOrderedJobs::Start(unsigned Workers, const TWorkerBody& Body) {
    for (unsigned I = 0; I < Workers; ++I)
        FWorkers.emplace_back([this, Body] { Body(*this); });
}

template <typename TPredicate>
void TOrderedJobs::WaitForReplayer(std::unique_lock<std::mutex>& Lock, TPredicate Done) {
    if (Done()) return;
    ++FBlocked;
    FToReplayer.notify_one();
    FToWorkers.wait(Lock, Done);
    --FBlocked;
}

int32_t TOrderedJobs::Next(int32_t Finished) {
    std::unique_lock Lock(FLock);
    if (Finished >= 0) MarkFinished(Finished);
    for (;;) {
        if (FEnded || FClaimed > FLastJob) return -1;
        if (FClaimed >= FReleased) {
            FToWorkers.wait(Lock); // Release and End wake it
            continue;
        }
        if (FClaimed < FReplaying + FAhead) break;
        WaitForReplayer(Lock, [this] {
            return FEnded || FClaimed > FLastJob || FClaimed >= FReleased ||
                   FClaimed < FReplaying + FAhead;
        });
    }
    // Half the window claimed: time for the replayer to catch up.
    if (FClaimed == FReplaying + FAhead / 2) FToReplayer.notify_one();
    return FClaimed++;
}

void TOrderedJobs::Release(int32_t Count) {
    const std::lock_guard Lock(FLock);
    FReleased = std::max(FReleased, Count);
    FToWorkers.notify_all();
}

void TOrderedJobs::Post(int32_t Job, TEvent Event) {
    const std::lock_guard Lock(FLock);
    FJobs[static_cast<size_t>(Job)].Add(std::move(Event));
    if (FPrompt && Job == FReplaying) FToReplayer.notify_one();
}

bool TOrderedJobs::Ask(int32_t Job, const TEvent& Event) {
    bool Answered = false;
    std::unique_lock Lock(FLock);
    FJobs[static_cast<size_t>(Job)].Add([this, &Event, &Answered] {
        Event();
        const std::lock_guard Inner(FLock);
        Answered = true;
        FToWorkers.notify_all();
    });
    WaitForReplayer(Lock, [this, &Answered] { return Answered || FEnded; });
    return Answered;
}

bool TOrderedJobs::WaitForTurn(int32_t Job) {
    std::unique_lock Lock(FLock);
    WaitForReplayer(Lock, [this, Job] { return FEnded || FReplaying >= Job; });
    return !FEnded;
}

// Called with FLock held.
void TOrderedJobs::MarkFinished(int32_t Job) {
    FJobs[static_cast<size_t>(Job)].Finished = true;
    ++FFinished;
    // The replayer is woken where somebody waits for it or nothing is left
    // to do; otherwise it takes the finished jobs in batches.
    if (FBlocked > 0 || (FPrompt && Job == FReplaying) ||
        (FFinished == FClaimed && FClaimed > FLastJob))
        FToReplayer.notify_one();
}

void TOrderedJobs::Fail(int32_t Job, std::exception_ptr Failure) {
    const std::lock_guard Lock(FLock);
    FJobs[static_cast<size_t>(Job)].Add([Failure] { std::rethrow_exception(Failure); });
    if (Job < FLastJob) FLastJob = Job;
    MarkFinished(Job);
    FToReplayer.notify_one();
    FToWorkers.notify_all();
}

// Events are taken all at once, so First is empty only when More is.
void TOrderedJobs::TJob::Add(TEvent Event) {
    if (!First)
        First = std::move(Event);
    else
        More.push_back(std::move(Event));
}

void TOrderedJobs::TJob::MoveEventsTo(std::vector<TEvent>& Events) {
    if (!First) return;
    Events.push_back(std::move(First));
    First = nullptr;
    for (TEvent& Event : More)
        Events.push_back(std::move(Event));
    More.clear();
}

void TOrderedJobs::Replay(const std::function<void(int32_t Job)>& Idle) {
    const auto Count = static_cast<int32_t>(FJobs.size());
    std::vector<TEvent> Events;
    // Job is the first job not yet finished and replayed. Each turn takes,
    // under one lock, the events of every finished job from Job on and those
    // the next one has posted so far, and announces the jobs replayed before.
    for (int32_t Job = 0; Job < Count;) {
        const int32_t First = Job;
        {
            std::unique_lock Lock(FLock);
            Announce(Job);
            auto Ready = [this, Job] {
                const TJob& Current = FJobs[static_cast<size_t>(Job)];
                return Current.Finished || Current.HasEvents();
            };
            if (!Ready()) FToReplayer.wait_for(Lock, std::chrono::milliseconds(100), Ready);
            for (; Job < Count; ++Job) {
                TJob& Current = FJobs[static_cast<size_t>(Job)];
                Current.MoveEventsTo(Events);
                if (!Current.Finished) break;
            }
        }
        if (Events.empty() && Job == First) Idle(Job);
        for (const TEvent& Event : Events)
            Event();
        Events.clear();
    }
    const std::lock_guard Lock(FLock);
    Announce(Count);
}

// Jobs before Job are replayed: workers waiting for a turn or for room to
// claim may go on. Called with FLock held.
void TOrderedJobs::Announce(int32_t Job) {
    if (FReplaying == Job) return;
    FReplaying = Job;
    if (FBlocked > 0) FToWorkers.notify_all();
}

void TOrderedJobs::End() {
    {
        const std::lock_guard Lock(FLock);
        FEnded = true;
    }
    FToWorkers.notify_all();
    for (std::thread& Worker : FWorkers)
        if (Worker.joinable()) Worker.join();
    FWorkers.clear();
}

} // namespace kivo::tools
