#include "model/file_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "condition_wait.hpp"

size_t direct_output_block_bytes = size_t(1) << 20;
bool direct_output = true;

namespace {

// A multiple of every logical block size in use, so that direct writes of
// whole blocks from aligned memory are accepted.
constexpr size_t direct_alignment = 4096;
// Blocks in memory: the caller fills one while the writer writes the others.
constexpr size_t staged_blocks = 4;
constexpr uint64_t writeback_step = uint64_t(2) << 20;

void write_fully(int fd, const char* bytes, size_t n) {
    while (n > 0) {
        ssize_t written = ::write(fd, bytes, std::min(n, size_t(1) << 30));
        if (written < 0) {
            if (errno == EINTR) continue;
            throw WriteFailed{errno};
        }
        if (written == 0) throw WriteFailed{EIO};
        bytes += written;
        n -= size_t(written);
    }
}

void write_buffered(FileOutput& out, const char* bytes, size_t n) {
    write_fully(out.fd, bytes, n);
    out.written += n;
    if (out.regular && out.written - out.writeback_from >= writeback_step) {
        // Only a request: errors of the writeback itself come back from fdatasync.
        ::sync_file_range(out.fd, off64_t(out.writeback_from), off64_t(out.written - out.writeback_from),
                          SYNC_FILE_RANGE_WRITE);
        out.writeback_from = out.written;
    }
}

bool set_direct(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

}  // namespace

// Blocks are numbered in text order and block k lives in staging slot
// k % staged_blocks; the caller hands blocks over, the writer writes them.
struct DirectWriter {
    int fd = -1;
    const char* staging = nullptr;
    size_t block_bytes = 0;
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t handed = 0;  // blocks given to the writer, under mutex
    uint64_t done = 0;    // blocks written, under mutex
    int error = 0;        // the first failure; the writer stops there
    bool stopping = false;
    bool fell_back = false;  // writer's own
    std::thread thread;

    void write_blocks() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            condition_wait(changed, lock, [&] { return stopping || (done < handed && error == 0); });
            if (stopping) return;
            const char* block = staging + (done % staged_blocks) * block_bytes;
            lock.unlock();
            int failure = write_block(block);
            lock.lock();
            if (failure != 0)
                error = failure;
            else
                ++done;
            changed.notify_all();
        }
    }

    // A file system may still refuse direct writes (EINVAL) after accepting
    // the flag: the rest then goes through the page cache, the bytes the same.
    int write_block(const char* block) {
        size_t left = block_bytes;
        while (left > 0) {
            ssize_t written = ::write(fd, block, left);
            if (written < 0) {
                const int failure = errno;
                if (failure == EINTR) continue;
                if (failure == EINVAL && !fell_back && set_direct(fd, false)) {
                    fell_back = true;
                    continue;
                }
                return failure;
            }
            if (written == 0) return EIO;
            block += written;
            left -= size_t(written);
        }
        return 0;
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (thread.joinable()) thread.join();
    }
};

FileOutput::FileOutput() = default;

FileOutput::~FileOutput() {
    if (direct) direct->stop();
}

namespace {

// The first full block decides: direct writes from here on, or the page cache.
bool start_direct(FileOutput& out) {
    if (!direct_output || !set_direct(out.fd, true)) {
        out.direct_refused = true;
        return false;
    }
    auto writer = std::make_unique<DirectWriter>();
    writer->fd = out.fd;
    writer->staging = out.staging.get();
    writer->block_bytes = direct_output_block_bytes;
    try {
        writer->thread = std::thread([w = writer.get()] { w->write_blocks(); });
    } catch (const std::system_error&) {  // no thread to be had: the page cache
        set_direct(out.fd, false);
        out.direct_refused = true;
        return false;
    }
    out.direct = std::move(writer);
    return true;
}

// Hands the full block over and waits until the next slot is free.
void hand_over_block(FileOutput& out) {
    DirectWriter& w = *out.direct;
    std::unique_lock<std::mutex> lock(w.mutex);
    ++w.handed;
    w.changed.notify_all();
    condition_wait(w.changed, lock, [&] { return w.error != 0 || w.handed - w.done < staged_blocks; });
    if (w.error != 0) throw WriteFailed{w.error};
    out.staged = 0;
}

char* current_block(FileOutput& out) {
    const uint64_t block = out.direct ? out.direct->handed : 0;
    return out.staging.get() + (block % staged_blocks) * direct_output_block_bytes;
}

// A full staged block goes to the writer thread, or to the page cache when
// the file takes no direct writes.
void block_full(FileOutput& out) {
    if (out.direct || (!out.direct_refused && start_direct(out))) {
        hand_over_block(out);
        return;
    }
    write_buffered(out, current_block(out), out.staged);
    out.staged = 0;
}

}  // namespace

void write_output(FileOutput& out, const char* bytes, size_t n) {
    if (!out.regular || (out.direct_refused && out.staged == 0)) {  // nothing staged to go first
        write_buffered(out, bytes, n);
        return;
    }
    if (!out.staging) {
        const size_t size = staged_blocks * direct_output_block_bytes;
        void* memory = std::aligned_alloc(direct_alignment, size);
        if (memory == nullptr) throw std::bad_alloc();
        out.staging = {static_cast<char*>(memory), std::free};
    }
    while (n > 0) {
        const size_t take = std::min(n, direct_output_block_bytes - out.staged);
        std::memcpy(current_block(out) + out.staged, bytes, take);
        out.staged += take;
        bytes += take;
        n -= take;
        if (out.staged == direct_output_block_bytes) block_full(out);
    }
}

void finish_output(FileOutput& out) {
    if (out.direct) {
        DirectWriter& w = *out.direct;
        {
            std::unique_lock<std::mutex> lock(w.mutex);
            condition_wait(w.changed, lock, [&] { return w.error != 0 || w.done == w.handed; });
            if (w.error != 0) throw WriteFailed{w.error};
        }
        w.stop();
        // The last, partial block cannot be written directly.
        if (!set_direct(out.fd, false)) throw WriteFailed{errno};
    }
    if (out.staged > 0) write_buffered(out, current_block(out), out.staged);
    out.staged = 0;
}
