// Saving and loading model files. A save writes a temporary file beside the
// target, syncs it and renames it over the target, so the previous file
// survives any failure of the write, a killed process and a crash; loading
// reads the whole file in large blocks and parses it in memory.

#include "model/file.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "array.hpp"
#include "model/file_json.hpp"
#include "model/file_output.hpp"
#include "panic.hpp"

bool named_temp_files_only = false;

namespace {

// "No such file or directory (os error 2)"
std::string os_error(int error) {
    return std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")";
}

void refuse_nul(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        throw Panic("file name contained an unexpected NUL byte: " + path.substr(0, path.find('\0')));
}

// ---- saving -------------------------------------------------------------------

// The cores this process may run on: the text is formatted on all of them.
size_t usable_cores() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return size_t(std::max(1, CPU_COUNT(&set)));
}

// Writes the text to an open file; throws WriteFailed.
template <class Model>
void write_text(FileOutput& out, const Model& model, const MatrixView* first_layer_inputs) {
    JsonSink sink;
    sink.format_threads = usable_cores();
    sink.flush = [&out](const char* bytes, size_t n) { write_output(out, bytes, n); };
    write_model_json(sink, model, first_layer_inputs);
    finish_output(out);
}

// One line on standard error; training goes on with the previous file.
// The whole line in one write where possible, so that it does not interleave
// with other lines; a failing standard error is not worth a second failure.
void write_stderr(const char* text, size_t n) noexcept {
    while (n > 0) {
        ssize_t written = ::write(2, text, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        n -= size_t(written);
    }
}

void warn_write_failed(const std::string& path, int error, bool previous_kept) {
    std::string line = "brenik: warning: could not write model file " + path + ": " +
                       os_error(error) +
                       (previous_kept ? "; the previous file is unchanged\n" : "\n");
    write_stderr(line.data(), line.size());
}

[[noreturn]] void fail_create(const std::string& path, int error) {
    throw Panic("cannot create model file " + path + ": " + os_error(error));
}

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The temporary name of saves to `target`: "<target>.brenik-tmp", the same
// for every save, so that a save that was killed leaves at most this one file
// and the next save takes it over. A target whose name leaves no room for the
// suffix gets a hidden name made from a hash of its own.
std::string fixed_temp_name(const std::string& target) {
    size_t slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    constexpr std::string_view suffix = ".brenik-tmp";
    if (base.size() + suffix.size() <= NAME_MAX) return target + std::string(suffix);
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (unsigned char c : base) hash = (hash ^ c) * 0x100000001b3ull;
    char name[40];
    std::snprintf(name, sizeof name, "/.brenik-%016llx.tmp", (unsigned long long)hash);
    return directory_of(target) + name;
}

std::atomic<unsigned long> temp_counter{0};

// A name of this process's own beside the target, for a save that finds the
// fixed name in use by another process's save.
std::string unique_temp_name(const std::string& target) {
    std::string suffix = ".brenik-tmp." + std::to_string(::getpid()) + "." +
                         std::to_string(temp_counter.fetch_add(1));
    size_t slash = target.rfind('/');
    size_t base_size = target.size() - (slash == std::string::npos ? 0 : slash + 1);
    if (base_size + suffix.size() <= NAME_MAX) return target + suffix;
    return directory_of(target) + "/.brenik" + suffix;
}

bool same_file(int fd, const std::string& name) {
    struct stat open_file, named;
    return ::fstat(fd, &open_file) == 0 && ::stat(name.c_str(), &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Every save holds an exclusive lock on its temporary file until it is done,
// so that a leftover of a killed save (unlocked) is told from a save under
// way in another process (locked). Opens and locks `name`, creating it;
// -1 with errno set otherwise (EWOULDBLOCK: another save holds it).
int open_locked(const std::string& name, int flags) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        // Between the open and the lock another save may have renamed that
        // file over its target; the lock must be on what the name names now.
        if (same_file(fd, name)) return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

// Removes the file under `name` when it is a killed save's leftover.
bool remove_leftover(const std::string& name) {
    int fd = open_locked(name, O_RDONLY);
    if (fd < 0) return errno == ENOENT;  // gone already
    bool removed = ::unlink(name.c_str()) == 0 || errno == ENOENT;
    ::close(fd);
    return removed;
}

// The file a save writes before it takes the target's place: unnamed
// (O_TMPFILE) where the file system allows, so that a process killed while
// writing leaves nothing behind (it is named only for the instant between its
// link and the rename); else the fixed temporary name.
struct TempFile {
    int fd = -1;
    std::string name;  // empty while unnamed
};

// An unnamed file gets its name through /proc/self/fd.
bool unnamed_files_can_be_linked() {
    static const bool proc_mounted = ::access("/proc/self/fd", X_OK) == 0;
    return proc_mounted && !named_temp_files_only;
}

// Creates the temporary file for `target` (the path a save replaces); -1 in
// fd with errno set when it cannot be created.
TempFile create_temp(const std::string& target) {
    TempFile temp;
    if (unnamed_files_can_be_linked()) {
        temp.fd = ::open(directory_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (temp.fd >= 0) {
            ::flock(temp.fd, LOCK_EX);  // nobody else can reach it yet
            return temp;
        }
        // A file system without unnamed files (EOPNOTSUPP), or a kernel that
        // opens the directory instead (EISDIR): the named way below.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return temp;
    }
    temp.name = fixed_temp_name(target);
    temp.fd = open_locked(temp.name, O_WRONLY | O_CREAT);
    if (temp.fd < 0 && errno == EWOULDBLOCK) {
        temp.name = unique_temp_name(target);
        temp.fd = open_locked(temp.name, O_WRONLY | O_CREAT | O_EXCL);
    }
    if (temp.fd >= 0 && ::ftruncate(temp.fd, 0) != 0) {  // a leftover's bytes must not survive
        int error = errno;
        ::unlink(temp.name.c_str());
        ::close(temp.fd);
        temp.fd = -1;
        errno = error;
    }
    return temp;
}

// Gives an unnamed temporary file its name, taking over a leftover of a
// killed save under the fixed name; throws WriteFailed.
void name_temp(TempFile& temp, const std::string& target) {
    std::string proc_path = "/proc/self/fd/" + std::to_string(temp.fd);
    std::string name = fixed_temp_name(target);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp.name = name;
            return;
        }
        if (errno != EEXIST) throw WriteFailed{errno};
        if (!remove_leftover(name)) name = unique_temp_name(target);  // another save is under way
    }
    throw WriteFailed{EEXIST};
}

void discard_temp(TempFile& temp) {
    if (!temp.name.empty()) ::unlink(temp.name.c_str());
    ::close(temp.fd);
    temp.fd = -1;
}

// After a rename: the directory entry reaches the disk too. Some file
// systems cannot sync a directory (EINVAL); the file itself is synced.
void sync_directory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The file that a save replaces, and how: through a renamed temporary file,
// or written in place when the path names something that is not a regular
// file (a device such as /dev/null, a pipe, a dangling symbolic link).
struct SaveTarget {
    std::string path;
    bool in_place = false;
    bool exists = false;
    mode_t mode = 0;
};

SaveTarget save_target(const std::string& path) {
    refuse_nul(path);
    SaveTarget target{path};
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) fail_create(path, errno);
        return target;  // a new file
    }
    if (S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            target.in_place = true;
            return target;
        }
        target.path = resolved;
        std::free(resolved);
        if (::stat(target.path.c_str(), &st) != 0) fail_create(path, errno);
    }
    if (S_ISDIR(st.st_mode)) fail_create(path, EISDIR);
    if (!S_ISREG(st.st_mode)) {
        target.in_place = true;
        return target;
    }
    // Opening a read-only file for writing would fail; so does replacing it.
    if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0)
        fail_create(path, errno);
    target.exists = true;
    target.mode = st.st_mode & 07777;
    return target;
}

template <class Model>
bool save_in_place(const Model& model, const std::string& path, const MatrixView* first_layer_inputs) {
    FileOutput out;
    out.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out.fd < 0) fail_create(path, errno);
    out.regular = false;
    try {
        write_text(out, model, first_layer_inputs);
        if (::close(out.fd) != 0 && errno != EINTR) throw WriteFailed{errno};
    } catch (const WriteFailed& failed) {
        warn_write_failed(path, failed.error, false);
        return false;
    } catch (...) {
        ::close(out.fd);
        throw;
    }
    return true;
}

// Temporary file, text, fdatasync, name, rename over the target, directory
// sync: at every moment the target is the previous file or the new one,
// whole, also on disk after a crash.
template <class Model>
bool save(const Model& model, const std::string& path, const MatrixView* first_layer_inputs) {
    SaveTarget target = save_target(path);
    if (target.in_place) return save_in_place(model, path, first_layer_inputs);
    TempFile temp = create_temp(target.path);
    if (temp.fd < 0) fail_create(path, errno);
    if (target.exists) ::fchmod(temp.fd, target.mode);  // keep the replaced file's permissions
    try {
        FileOutput out;
        out.fd = temp.fd;
        write_text(out, model, first_layer_inputs);
        while (::fdatasync(temp.fd) != 0)
            if (errno != EINTR) throw WriteFailed{errno};
        if (temp.name.empty()) name_temp(temp, target.path);
    } catch (const WriteFailed& failed) {
        discard_temp(temp);
        warn_write_failed(path, failed.error, target.exists);
        return false;
    } catch (...) {
        discard_temp(temp);
        throw;
    }
    if (::rename(temp.name.c_str(), target.path.c_str()) != 0) {
        int error = errno;
        discard_temp(temp);
        fail_create(path, error);
    }
    sync_directory(directory_of(target.path));
    ::close(temp.fd);  // releases the lock
    return true;
}

void check_creatable(const std::string& path) {
    SaveTarget target = save_target(path);
    if (target.in_place) return;  // written in place, opened when written
    TempFile temp = create_temp(target.path);
    if (temp.fd < 0) fail_create(path, errno);
    discard_temp(temp);
}

// ---- loading ------------------------------------------------------------------

struct FreeBytes {
    void operator()(char* p) const { std::free(p); }
};

struct FileBytes {
    std::unique_ptr<char, FreeBytes> data;
    size_t size = 0;
};

[[noreturn]] void fail_read(const std::string& path, int error) {
    throw Panic("cannot read model file " + path + ": " + os_error(error));
}

// Grows (or first allocates) the buffer; a size beyond this machine's memory
// is bad_alloc before it reaches an allocator that might end the process.
void reserve_bytes(FileBytes& bytes, size_t capacity) {
    if (capacity > memory_ceiling_bytes()) throw std::bad_alloc();
    char* grown = static_cast<char*>(std::realloc(bytes.data.get(), capacity));
    if (grown == nullptr) throw std::bad_alloc();
    bytes.data.release();
    bytes.data.reset(grown);
}

// Whether bytes[from, n) still allow a model text: its first byte after
// whitespace must open an object or an array. `from` moves past the whitespace.
bool may_be_model_text(const char* bytes, size_t& from, size_t n) {
    while (from < n && (bytes[from] == ' ' || bytes[from] == '\t' || bytes[from] == '\n' ||
                        bytes[from] == '\r'))
        ++from;
    return from == n || bytes[from] == '{' || bytes[from] == '[';
}

// The whole file in one buffer, read in blocks of up to 1 GiB; the buffer
// is sized from the file's length so a regular file is read without copying.
// A stream (a pipe, a device) that cannot hold a model text is read no
// further: /dev/zero would never end, and the parser reports the same fault
// from the bytes already read.
FileBytes read_file(const std::string& path) {
    refuse_nul(path);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail_read(path, errno);
    FileBytes bytes;
    try {
        struct stat st;
        size_t capacity = size_t(1) << 16;
        bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (regular) capacity = size_t(st.st_size) + 1;
        reserve_bytes(bytes, capacity);
        size_t checked = 0;
        for (;;) {
            if (bytes.size == capacity) {
                capacity *= 2;
                reserve_bytes(bytes, capacity);
            }
            ssize_t n = ::read(fd, bytes.data.get() + bytes.size,
                               std::min(capacity - bytes.size, size_t(1) << 30));
            if (n < 0) {
                if (errno == EINTR) continue;
                fail_read(path, errno);
            }
            if (n == 0) break;
            bytes.size += size_t(n);
            if (!regular && !may_be_model_text(bytes.data.get(), checked, bytes.size)) break;
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return bytes;
}

template <class Model>
Model load(const std::string& path, Model (*parse)(std::string_view)) {
    FileBytes bytes = read_file(path);
    try {
        return parse(std::string_view(bytes.data.get(), bytes.size));
    } catch (const Panic& e) {
        throw Panic("cannot load model file " + path + ": " + e.what());
    }
}

}  // namespace

void check_model_file_creatable(const std::string& path) { check_creatable(path); }

void warn_save_failed(const char* message) noexcept {
    char line[4096];
    int n = std::snprintf(line, sizeof line, "brenik: warning: %s\n", message);
    write_stderr(line, std::min(size_t(n), sizeof line - 1));
}

bool save_model_file(const LinearModel& model, const std::string& path, const MatrixView* first_layer_inputs) {
    return save(model, path, first_layer_inputs);
}
bool save_model_file(const CategoricalModel& model, const std::string& path,
                     const MatrixView* first_layer_inputs) {
    return save(model, path, first_layer_inputs);
}

LinearModel load_linear_model_file(const std::string& path) {
    return load(path, parse_linear_model);
}

CategoricalModel load_categorical_model_file(const std::string& path) {
    return load(path, parse_categorical_model);
}
