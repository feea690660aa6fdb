// Saving and loading model files. A save writes a temporary file beside the
// target and renames it over the target, so the previous file survives any
// failure of the write; loading reads the whole file in large blocks and
// parses it in memory.

#include "model/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "array.hpp"
#include "model/file_json.hpp"
#include "panic.hpp"

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

// A failed write(2) or close(2) after the file was created.
struct WriteFailed {
    int error;
};

void write_all(int fd, const char* bytes, size_t n) {
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

// Writes the text to an open file and closes it; throws WriteFailed.
template <class Model>
void write_file(int fd, const Model& model, const MatrixView* first_layer_inputs) {
    JsonSink sink;
    sink.flush = [fd](const char* bytes, size_t n) { write_all(fd, bytes, n); };
    try {
        write_model_json(sink, model, first_layer_inputs);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0 && errno != EINTR) throw WriteFailed{errno};
}

// One line on standard error; training goes on with the previous file.
void warn_write_failed(const std::string& path, int error, bool previous_kept) {
    std::string line = "brenik: warning: could not write model file " + path + ": " +
                       os_error(error) +
                       (previous_kept ? "; the previous file is unchanged\n" : "\n");
    const char* p = line.data();
    size_t n = line.size();
    while (n > 0) {
        ssize_t written = ::write(2, p, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        p += written;
        n -= size_t(written);
    }
}

[[noreturn]] void fail_create(const std::string& path, int error) {
    throw Panic("cannot create model file " + path + ": " + os_error(error));
}

std::atomic<unsigned long> temp_counter{0};

// Creates "<target>.tmp.<pid>.<n>" exclusively, or a hidden name in the same
// directory when the target's own name leaves no room for the suffix.
int create_temp(const std::string& target, std::string& temp) {
    std::string dir = ".";
    size_t slash = target.rfind('/');
    if (slash != std::string::npos) dir = slash == 0 ? "/" : target.substr(0, slash);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix = ".tmp." + std::to_string(::getpid()) + "." +
                             std::to_string(temp_counter.fetch_add(1));
        temp = target + suffix;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == ENAMETOOLONG) {
            temp = dir + "/.brenik" + suffix;
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        }
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
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
void save_in_place(const Model& model, const std::string& path, const MatrixView* first_layer_inputs) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) fail_create(path, errno);
    try {
        write_file(fd, model, first_layer_inputs);
    } catch (const WriteFailed& failed) {
        warn_write_failed(path, failed.error, false);
    }
}

template <class Model>
void save(const Model& model, const std::string& path, const MatrixView* first_layer_inputs) {
    refuse_nul(path);
    SaveTarget target = save_target(path);
    if (target.in_place) return save_in_place(model, path, first_layer_inputs);
    std::string temp;
    int fd = create_temp(target.path, temp);
    if (fd < 0) fail_create(path, errno);
    if (target.exists) ::fchmod(fd, target.mode);  // keep the replaced file's permissions
    try {
        write_file(fd, model, first_layer_inputs);
    } catch (const WriteFailed& failed) {
        ::unlink(temp.c_str());
        warn_write_failed(path, failed.error, target.exists);
        return;
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    if (::rename(temp.c_str(), target.path.c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        fail_create(path, error);
    }
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

void save_model_file(const LinearModel& model, const std::string& path, const MatrixView* first_layer_inputs) {
    save(model, path, first_layer_inputs);
}
void save_model_file(const CategoricalModel& model, const std::string& path,
                     const MatrixView* first_layer_inputs) {
    save(model, path, first_layer_inputs);
}

LinearModel load_linear_model_file(const std::string& path) {
    return load(path, parse_linear_model);
}

CategoricalModel load_categorical_model_file(const std::string& path) {
    return load(path, parse_categorical_model);
}
