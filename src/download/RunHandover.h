#pragma once

#include "download/ParallelDownload.h"

#include <wx/stream.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

class Cancellation;

// The runs of a parallel download on their way from the connections to the
// one reader, which takes them in their order. What arrives ahead of the
// reader waits in a bounded buffer; a connection that would overfill it waits
// until the reader has made room.
class RunHandover {
public:
    // cancellation (must outlive this object) ends every wait.
    RunHandover(std::size_t runs, const Cancellation& cancellation);

    // The connections' side. Appends bytes to run, waiting while the buffer
    // is full; false when the work was cancelled first.
    bool Add(std::size_t run, std::vector<char> bytes);
    // Every byte of run has been added.
    void Complete(std::size_t run);
    // The runs [first, end) will not arrive whole: why, or none on a stop.
    void Fail(std::size_t first, std::size_t end, const std::optional<ParallelDownload::RequestFailure>& why);

    // The reader's side. Moves on to run and waits until its first bytes have
    // come; false when it failed first or the work was cancelled.
    bool Open(std::size_t run);
    // Reads what has come of run, the one opened last, waiting for its next
    // bytes; 0 with error set at its end (wxSTREAM_EOF) or when it failed.
    std::size_t Read(std::size_t run, char* out, std::size_t size, wxStreamError& error);
    std::optional<ParallelDownload::RequestFailure> Failure(std::size_t run);

    // Wakes every waiting thread, so that it sees the cancellation.
    void WakeAll();

private:
    enum class State { Waiting, Arriving, Complete, Failed };
    struct Buffer {
        State state = State::Waiting;
        std::deque<std::vector<char>> chunks;
        std::size_t readOffset = 0; // into the first chunk
        std::size_t size = 0;
        std::optional<ParallelDownload::RequestFailure> failure;
    };

    // Whether run may take more bytes, or with quarterFree a quarter of its
    // limit more.
    bool HasRoom(std::size_t run, bool quarterFree) const;
    bool ReadingHasRoom(bool quarterFree) const;
    bool AheadHasRoom(bool quarterFree) const;
    // With the lock held.
    void SetState(std::size_t first, std::size_t end, State state);
    template <typename Predicate>
    bool WaitFor(std::condition_variable& signal, std::unique_lock<std::mutex>& lock, Predicate ready);

    const Cancellation& cancellation;
    std::vector<Buffer> buffers;
    std::mutex mutex;
    // The reader waits for arrived, connections for freed; each side wakes
    // the other only when it waits, and a full buffer waits for a quarter to
    // be free, so that the two do not wake each other for every block.
    std::condition_variable arrived;
    std::condition_variable freed;
    bool readerWaiting = false;
    int connectionsWaiting = 0;
    std::size_t reading = 0; // the run the reader is on, or is about to open
    std::size_t ahead = 0;   // bytes in all buffers
};
