// Jobs run on worker threads, what they report shown in job order: the
// calling thread replays each job's events once every job before it has
// finished, so output, questions and counts come out as one thread doing
// the jobs one after the other would make them. The replaying thread is
// woken only when a worker waits for it (a question, a turn, a full window),
// when half the window is claimed, when every job has finished, and at
// least every 100 ms: it takes finished jobs in batches instead of taking
// the workers' cores for every job. Where somebody watches (Prompt), every
// event of the job being replayed wakes it too, so that it is shown at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo::tools {

class TOrderedJobs {
public:
    using TEvent = std::function<void()>;
    using TWorkerBody = std::function<void(TOrderedJobs& Jobs)>;

    // Jobs 0 .. Count-1; a worker claims no job more than Ahead jobs past
    // the one being replayed, which bounds the events waiting to be shown.
    explicit TOrderedJobs(int32_t Count, bool Prompt = false, int32_t Ahead = 1024);
    // Stops claiming, releases waiting questions and joins the workers.
    ~TOrderedJobs();
    TOrderedJobs(const TOrderedJobs&) = delete;
    TOrderedJobs& operator=(const TOrderedJobs&) = delete;

    // Starts Workers threads running Body, which claims jobs with Next as
    // Release lets it (a worker may prepare itself meanwhile).
    void Start(unsigned Workers, const TWorkerBody& Body);
    // Jobs before Count may be claimed (the caller has prepared them).
    void Release(int32_t Count);

    // --- worker side
    // Job Finished (if not -1) has posted everything; returns the next job
    // in order, once released (waits for that), or -1 when none is left or
    // the run ends.
    int32_t Next(int32_t Finished = -1);
    // Event runs on the replaying thread in Job's turn.
    void Post(int32_t Job, TEvent Event);
    // Like Post, and waits until Event has run; false when the run ended
    // before it could (Event then never runs).
    bool Ask(int32_t Job, const TEvent& Event);
    // Waits until every job before Job has finished and been replayed;
    // false when the run ended first.
    bool WaitForTurn(int32_t Job);
    // Job ends the run: Failure is raised on the replaying thread in Job's
    // turn, and no job after it is claimed.
    void Fail(int32_t Job, std::exception_ptr Failure);
    // The run ended: a worker stops at once.
    bool Ended() const { return FEnded.load(std::memory_order_relaxed); }

    // --- replaying thread
    // Replays every job's events in job order, and raises a failure a job
    // ended the run with. Idle is called at least every 100 ms with the job
    // waited for; it may raise to end the run.
    void Replay(const std::function<void(int32_t Job)>& Idle);
    // Ends the run and joins the workers.
    void End();

private:
    // A job's events not yet replayed. Most jobs post one, which is kept
    // in place: no job allocates for it, nor does the replayer free it.
    struct TJob {
        TEvent First;
        std::vector<TEvent> More;
        bool Finished = false;

        bool HasEvents() const { return static_cast<bool>(First); }
        void Add(TEvent Event);
        void MoveEventsTo(std::vector<TEvent>& Events);
    };

    std::mutex FLock;
    std::condition_variable FToReplayer; // events posted, jobs finished
    std::condition_variable FToWorkers;  // questions answered, room to claim, the end
    // Waits, counted in FBlocked, until Done holds; wakes the replayer first.
    template <typename TPredicate>
    void WaitForReplayer(std::unique_lock<std::mutex>& Lock, TPredicate Done);
    void Announce(int32_t Job);
    void MarkFinished(int32_t Job);

    std::vector<TJob> FJobs;
    bool FPrompt;
    int32_t FAhead;
    int32_t FClaimed = 0;
    int32_t FReplaying = 0;
    int32_t FLastJob; // no job after it is claimed
    int32_t FFinished = 0;
    int32_t FBlocked = 0;  // workers waiting for the replayer
    int32_t FReleased = 0; // jobs before it may be claimed
    std::atomic<bool> FEnded{false};
    std::vector<std::thread> FWorkers;
};

} // namespace kivo::tools
