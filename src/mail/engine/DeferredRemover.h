#pragma once

// Deletes files on a thread of its own, so that a download does not wait for the file system's
// journal on every work file it drops. The thread is woken once kBatch files are waiting (or by
// drain()), not for every file. drain() returns once every file handed in so far is gone;
// the destructor drains too. Only for files whose names nothing writes again before the next
// drain() (see pending()).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace orvalink::mail {

class DeferredRemover {
public:
    DeferredRemover();
    ~DeferredRemover();
    DeferredRemover(const DeferredRemover&) = delete;
    DeferredRemover& operator=(const DeferredRemover&) = delete;

    static constexpr std::size_t kBatch = 24;

    // The file `path` (as the file system names it) is deleted soon.
    void remove(const std::string& path);
    void drain();
    // True while a file whose path begins with `prefix` waits to be deleted.
    bool pending(const std::string& prefix);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<std::string> m_queue;
    std::string m_current; // being deleted now (empty when none)
    bool m_stop = false;
    int m_draining = 0;
    std::thread m_thread;
};

} // namespace orvalink::mail
