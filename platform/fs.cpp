// POSIX side of the file system: stat, mkdir, getcwd, readdir, and opening
// regular files only (never a FIFO or a device, which could block for ever).

#include "platform/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

bool fsGetCwd(char* out, size_t size) {
  if (!out || size == 0) {
    return false;
  }
  if (!getcwd(out, size)) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool fsMakeDir(const char* path) {
  if (!path || !path[0]) {
    return false;
  }
  if (mkdir(path, 0777) == 0) {
    return true;
  }
  struct stat st;
  return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool fsStat(const char* path, FsStat* out) {
  FsStat result;
  struct stat st;
  if (!path || stat(path, &st) != 0) {
    if (out) {
      *out = result;
    }
    return false;
  }
  result.type = S_ISREG(st.st_mode)   ? FsType::kFile
                : S_ISDIR(st.st_mode) ? FsType::kDirectory
                                      : FsType::kOther;
  result.size = static_cast<int64_t>(st.st_size);
  if (out) {
    *out = result;
  }
  return true;
}

bool fsListDirectory(const char* path, FsListFunction function, void* user) {
  if (!path || !function) {
    return false;
  }
  DIR* dir = opendir(path[0] ? path : ".");
  if (!dir) {
    return false;
  }
  const int fd = dirfd(dir);
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
      continue;
    }
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      // File systems without d_type, and links, need a stat to tell (links are followed).
      struct stat st;
      isDirectory = fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (!function(user, name, isDirectory)) {
      break;
    }
  }
  closedir(dir);
  return true;
}

namespace {

// Opens a regular file only. The open itself is non-blocking: a FIFO or a
// device named like content would otherwise block open() until a writer (or
// a reader) appears, for ever. Blocking mode comes back once the descriptor
// is known to be a regular file.
int openRegular(const char* path, int flags, int64_t* size) {
  if (!path || !path[0]) {
    return -1;
  }
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    return -1;
  }
  int descriptor;
  do {
    descriptor = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    return -1;
  }
  if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(descriptor);
    return -1;
  }
  if (size) {
    *size = static_cast<int64_t>(st.st_size);
  }
  return descriptor;
}

FILE* openRegularStream(const char* path, int flags, const char* mode, int64_t* size) {
  const int descriptor = openRegular(path, flags, size);
  if (descriptor < 0) {
    return nullptr;
  }
  FILE* file = fdopen(descriptor, mode);
  if (!file) {
    close(descriptor);
  }
  return file;
}

}  // namespace

FILE* fsOpenRead(const char* path, int64_t* size) {
  return openRegularStream(path, O_RDONLY, "rb", size);
}

namespace {

thread_local int t_lastError = 0;
std::atomic<int64_t> s_writeBudget{-1};

// A call that fails without errno (stdio repeating an error it saw before) keeps the error noted
// first; each new stream for writing starts clean.
void noteError(bool failed) {
  if (failed && (errno || !t_lastError)) {
    t_lastError = errno ? errno : EIO;
  }
}

// The write side of a budgeted stream: stdio buffers in front of it as it does for a descriptor.
ssize_t budgetWrite(void* cookie, const char* buffer, size_t size) {
  const int descriptor = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  int64_t left = s_writeBudget.load();
  size_t allowed = size;
  if (left >= 0 && static_cast<int64_t>(size) > left) {
    allowed = static_cast<size_t>(left);
  }
  if (allowed == 0 && size > 0) {
    errno = ENOSPC;
    t_lastError = ENOSPC;
    return -1;
  }
  const ssize_t put = write(descriptor, buffer, allowed);
  if (put > 0 && left >= 0) {
    s_writeBudget.fetch_sub(put);
  }
  if (put >= 0 && allowed < size) {
    // stdio takes a short write from a cookie as the stream's error.
    errno = ENOSPC;
    t_lastError = ENOSPC;
  }
  return put;
}

int budgetSeek(void* cookie, off64_t* offset, int origin) {
  const off_t at = lseek(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), *offset, origin);
  if (at < 0) {
    return -1;
  }
  *offset = at;
  return 0;
}

int budgetClose(void* cookie) {
  return close(static_cast<int>(reinterpret_cast<intptr_t>(cookie)));
}

}  // namespace

FILE* fsOpenWrite(const char* path) {
  if (s_writeBudget.load() < 0) {
    t_lastError = 0;
    FILE* file = openRegularStream(path, O_WRONLY | O_CREAT | O_TRUNC, "wb", nullptr);
    noteError(!file);
    return file;
  }
  t_lastError = 0;
  const int descriptor = openRegular(path, O_WRONLY | O_CREAT | O_TRUNC, nullptr);
  if (descriptor < 0) {
    noteError(true);
    return nullptr;
  }
  cookie_io_functions_t functions = {};
  functions.write = budgetWrite;
  functions.seek = budgetSeek;
  functions.close = budgetClose;
  FILE* file = fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(descriptor)), "wb", functions);
  if (!file) {
    noteError(true);
    close(descriptor);
  }
  return file;
}

bool fsCloseWrite(FILE* file) {
  if (!file) {
    return false;
  }
  // An earlier failed write already left its error (IOManager notes it at once); a flush that
  // fails now brings its own.
  errno = 0;
  const bool flushed = fflush(file) == 0;
  noteError(!flushed);
  bool ok = flushed && !ferror(file);
  // A budgeted stream has no descriptor of its own to sync.
  const int descriptor = fileno(file);
  if (descriptor >= 0 && fsync(descriptor) != 0) {
    noteError(ok);
    ok = false;
  }
  const bool closed = fclose(file) == 0;
  noteError(ok && !closed);
  return closed && ok;
}

const char* fsLastErrorText() {
  return strerror(t_lastError ? t_lastError : EIO);
}

void fsNoteWriteError() {
  noteError(true);
}

void fsSetWriteBudget(int64_t bytes) {
  s_writeBudget.store(bytes < 0 ? -1 : bytes);
}

bool fsRename(const char* from, const char* to) {
  const bool ok = from && to && rename(from, to) == 0;
  noteError(!ok);
  return ok;
}

bool fsRemove(const char* path) {
  return path && unlink(path) == 0;
}

int64_t fsStreamSize(FILE* file) {
  struct stat st;
  if (!file || fstat(fileno(file), &st) != 0) {
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

bool fsSeek(FILE* file, int64_t offset, int origin) {
  return file && fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t fsTell(FILE* file) {
  return file ? static_cast<int64_t>(ftello(file)) : -1;
}

int fsOpenDescriptor(const char* path) {
  return openRegular(path, O_RDONLY, nullptr);
}

int64_t fsReadAt(int descriptor, int64_t offset, void* buffer, size_t size) {
  if (descriptor < 0 || offset < 0) {
    return -1;
  }
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(descriptor, out + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t fsDescriptorSize(int descriptor) {
  struct stat st;
  if (descriptor < 0 || fstat(descriptor, &st) != 0) {
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

void fsCloseDescriptor(int descriptor) {
  if (descriptor >= 0) {
    close(descriptor);
  }
}
