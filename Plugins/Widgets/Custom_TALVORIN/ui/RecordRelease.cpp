#include "RecordRelease.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

namespace {

class Releaser
{
public:
    ~Releaser()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_posted.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

    void post(std::function<void()> release)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(std::move(release));
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        m_posted.notify_one();
    }

private:
    void run()
    {
#ifdef __linux__
        // Freeing runs only on a core that nothing else wants: a release started by 查找 would
        // otherwise take a core from the query that follows it, and contend for its allocator.
        sched_param idle {};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
#endif
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_posted.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            std::function<void()> release = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            release();
            release = nullptr; // what it held goes here, off the lock
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_queue;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace

void RecordRelease::post(std::function<void()> release)
{
    static Releaser releaser;
    releaser.post(std::move(release));
}
