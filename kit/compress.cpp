#include "compress.h"

#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "temporary.h"

namespace kit {

namespace {

// Streams that wait for their turn are held in memory up to this many bytes;
// a thread that would go beyond it waits, unless its file is the next to be
// written, which the writer drains as it grows.
const size_t kWaitingBudget = 64u << 20;
const size_t kChunk = 256u << 10;
// Payload size above which a build on a terminal shows its progress.
const double kLargeKit = 16e6;
const int kBlockSize = 9;

struct Slot {
    std::string data;  // compressed bytes not yet written
    bool done = false;
};

struct Shared {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Slot> slots;
    size_t next = 0;      // next file to take
    size_t head = 0;      // next file to write
    size_t waiting = 0;   // bytes in all slots
    bool stop = false;
    std::string error;    // first failure
};

using Sink = std::function<bool(const char*, size_t)>;

// One complete bzip2 stream of source, handed to sink piece by piece.
std::string compressFile(const std::string& source, const Sink& sink)
{
    int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "cannot read " + source + ": " + strerror(errno);
    }
    bz_stream bz;
    memset(&bz, 0, sizeof bz);
    if (BZ2_bzCompressInit(&bz, kBlockSize, 0, 0) != BZ_OK) {
        close(fd);
        return "cannot start compressing " + source + " (out of memory)";
    }
    std::vector<char> in(1u << 16), out(kChunk);
    std::string why;
    bool finished = false;
    while (why.empty() && !finished) {
        ssize_t n = read(fd, in.data(), in.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            why = "cannot read " + source + ": " + strerror(errno);
            break;
        }
        bz.next_in = in.data();
        bz.avail_in = static_cast<unsigned>(n);
        int action = n == 0 ? BZ_FINISH : BZ_RUN;
        for (;;) {
            bz.next_out = out.data();
            bz.avail_out = static_cast<unsigned>(out.size());
            int rc = BZ2_bzCompress(&bz, action);
            if (rc != BZ_RUN_OK && rc != BZ_FINISH_OK && rc != BZ_STREAM_END) {
                why = "cannot compress " + source + " (bzip2 error " + std::to_string(rc) + ")";
                break;
            }
            size_t produced = out.size() - bz.avail_out;
            if (produced > 0 && !sink(out.data(), produced)) {
                why = "stopped";
                break;
            }
            if (rc == BZ_STREAM_END) {
                finished = true;
                break;
            }
            if (action == BZ_RUN && bz.avail_in == 0) {
                break;
            }
        }
    }
    BZ2_bzCompressEnd(&bz);
    close(fd);
    return why;
}

void fail(Shared& s, const std::string& why)
{
    if (s.error.empty()) {
        s.error = why;
    }
    s.stop = true;
    s.cv.notify_all();
}

void worker(Shared& s, const std::vector<Entry>& entries)
{
    for (;;) {
        size_t j;
        {
            std::unique_lock<std::mutex> lock(s.m);
            s.cv.wait(lock, [&] { return s.stop || s.next >= entries.size() || s.waiting < kWaitingBudget; });
            if (s.stop || s.next >= entries.size()) {
                return;
            }
            j = s.next++;
        }
        std::string why = compressFile(entries[j].source, [&](const char* p, size_t n) {
            std::unique_lock<std::mutex> lock(s.m);
            s.cv.wait(lock, [&] { return s.stop || j == s.head || s.waiting < kWaitingBudget; });
            if (s.stop) {
                return false;
            }
            s.slots[j].data.append(p, n);
            s.waiting += n;
            s.cv.notify_all();
            return true;
        });
        std::lock_guard<std::mutex> lock(s.m);
        if (!why.empty()) {
            fail(s, why);
            return;
        }
        s.slots[j].done = true;
        s.cv.notify_all();
    }
}

// The progress line of a large build on a terminal.
struct Progress {
    bool on = false;
    bool shown = false;
    size_t files = 0;
    size_t filesDone = 0;
    double total = 0;
    double done = 0;
    std::chrono::steady_clock::time_point last;
};

double fileBytes(const Entry& e)
{
    struct stat st;
    return stat(e.source.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
}

Progress startProgress(bool terminal, const std::vector<Entry>& entries)
{
    Progress p;
    p.files = entries.size();
    for (const Entry& e : entries) {
        p.total += fileBytes(e);
    }
    p.on = terminal && p.total > kLargeKit;
    return p;
}

void fileDone(Progress& p, const Entry& e)
{
    p.done += fileBytes(e);
    ++p.filesDone;
    auto now = std::chrono::steady_clock::now();
    if (p.on && (p.filesDone == p.files || now - p.last >= std::chrono::milliseconds(200))) {
        p.last = now;
        fprintf(stderr, "\rtarvo_kit: %zu/%zu files, %.1f/%.1f MB", p.filesDone, p.files, p.done / 1e6, p.total / 1e6);
        p.shown = true;
    }
}

void endProgress(const Progress& p)
{
    if (p.shown) {
        fputc('\n', stderr);
    }
}

}  // namespace

std::string appendStreams(FILE* out, int64_t start, std::vector<Entry>& entries, unsigned jobs, bool terminal)
{
    Shared s;
    s.slots.resize(entries.size());
    Progress progress = startProgress(terminal, entries);
    std::vector<std::thread> threads;
    // The workers inherit the blocked stop signals, which leaves them to this thread's handler.
    sigset_t mask = blockStopSignals();
    for (unsigned i = 0; i < jobs && i < entries.size(); ++i) {
        threads.emplace_back(worker, std::ref(s), std::cref(entries));
    }
    restoreSignals(mask);
    int64_t pos = start;
    size_t begun = entries.size();  // the file whose offset was last set
    std::unique_lock<std::mutex> lock(s.m);
    while (s.head < entries.size()) {
        Slot& slot = s.slots[s.head];
        s.cv.wait(lock, [&] { return s.stop || !slot.data.empty() || slot.done; });
        if (s.stop) {
            break;
        }
        if (begun != s.head) {
            begun = s.head;
            entries[s.head].offset = pos;
        }
        std::string chunk;
        chunk.swap(slot.data);
        s.waiting -= chunk.size();
        bool done = slot.done;
        s.cv.notify_all();
        lock.unlock();
        bool written = fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
        pos += static_cast<int64_t>(chunk.size());
        lock.lock();
        if (!written) {
            fail(s, std::string("write error: ") + strerror(errno));
            break;
        }
        if (done) {
            fileDone(progress, entries[s.head]);
            ++s.head;
            s.cv.notify_all();
        }
    }
    s.stop = true;
    s.cv.notify_all();
    lock.unlock();
    for (std::thread& t : threads) {
        t.join();
    }
    endProgress(progress);
    return s.error;
}

}  // namespace kit
