#pragma once
// Where a save's text goes: an open file, written from start to end.

#include <cstddef>
#include <cstdint>
#include <memory>

// A failed write(2), fdatasync(2), link or close(2) after the file was created.
struct WriteFailed {
    int error;
};

struct DirectWriter;

// A text that fills its first block of staged bytes is written around the
// page cache (O_DIRECT) in whole aligned blocks by a writer thread that lives
// only inside the save, so the disk writes while the cores format; copying
// hundreds of megabytes into the page cache costs more than the disk needs,
// and far more when the kernel must first find the pages. Shorter texts,
// files that refuse direct I/O, and devices and pipes (not `regular`) are
// written through the page cache, whose writeback is requested every couple
// of megabytes so that the closing fdatasync finds most bytes written.
struct FileOutput {
    int fd = -1;
    bool regular = true;
    uint64_t written = 0;  // through the page cache
    uint64_t writeback_from = 0;
    std::unique_ptr<char, void (*)(void*)> staging{nullptr, nullptr};
    size_t staged = 0;
    std::unique_ptr<DirectWriter> direct;
    bool direct_refused = false;

    FileOutput();
    ~FileOutput();  // stops the writer thread, if any, without waiting for its blocks
};

// Both throw WriteFailed. finish_output writes whatever is still staged and
// returns once every byte has been handed to the kernel; the caller syncs.
void write_output(FileOutput& out, const char* bytes, size_t n);
void finish_output(FileOutput& out);

// For tests and benchmarks: the size of a direct block (texts shorter than
// one never take the direct way), a multiple of 4096; and whether texts may
// take it at all.
extern size_t direct_output_block_bytes;
extern bool direct_output;
