/* A fault-injection library for LD_PRELOAD: makes output calls on one file fail, as a full
 * disk or a broken device would, in the unmodified program. Configured by the environment:
 *
 *   ZARVELT_FAULT_PATH   part of the path (as the system resolves it, or as given to rename)
 *                        that selects the file; without it nothing fails
 *   ZARVELT_FAULT_CALLS  comma-separated calls that may fail (default: all of them):
 *                        fwrite fputs fputc fprintf vfprintf fflush fclose write pwrite
 *                        rename fsync
 *   ZARVELT_FAULT_AFTER  how many selected calls succeed before every later one fails (0)
 *   ZARVELT_FAULT_ERRNO  ENOSPC (default), EIO, EXDEV or a number
 *   ZARVELT_FAULT_SHORT  1: fwrite, write and pwrite write half their bytes instead of none
 *
 * A failing fclose still closes the stream, as a real one that fails at its flush does. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long matching_calls;

/* Stores the next definition of name (libc's, or a sanitizer's) into the function pointer at
 * slot; copied as bytes, because ISO C has no conversion from void* to a function pointer. */
static void load_next(const char* name, void* slot) {
  void* symbol = dlsym(RTLD_NEXT, name);
  memcpy(slot, &symbol, sizeof symbol);
}

static int call_selected(const char* call) {
  const char* calls = getenv("ZARVELT_FAULT_CALLS");
  if (calls == NULL || *calls == '\0') return 1;
  const size_t length = strlen(call);
  for (const char* at = calls; (at = strstr(at, call)) != NULL; at += length) {
    const int starts = at == calls || at[-1] == ',';
    const int ends = at[length] == '\0' || at[length] == ',';
    if (starts && ends) return 1;
  }
  return 0;
}

static int fault_errno(void) {
  const char* name = getenv("ZARVELT_FAULT_ERRNO");
  if (name == NULL || *name == '\0' || strcmp(name, "ENOSPC") == 0) return ENOSPC;
  if (strcmp(name, "EIO") == 0) return EIO;
  if (strcmp(name, "EXDEV") == 0) return EXDEV;
  return atoi(name);
}

static int path_matches(const char* path) {
  const char* wanted = getenv("ZARVELT_FAULT_PATH");
  return wanted != NULL && *wanted != '\0' && path != NULL && strstr(path, wanted) != NULL;
}

static int descriptor_matches(int fd) {
  if (fd < 0 || getenv("ZARVELT_FAULT_PATH") == NULL) return 0;
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (length <= 0) return 0;
  path[length] = '\0';
  return path_matches(path);
}

/* Called for a selected call on the selected file: true when it is to fail, past the first
 * ZARVELT_FAULT_AFTER of them. Sets errno then. */
static int past_allowed_calls(void) {
  const char* after = getenv("ZARVELT_FAULT_AFTER");
  const long allowed = after != NULL ? atol(after) : 0;
  if (matching_calls++ < allowed) return 0;
  errno = fault_errno();
  return 1;
}

static int stream_matches(FILE* stream) {
  return stream != NULL && descriptor_matches(fileno(stream));
}

static int short_writes(void) {
  const char* value = getenv("ZARVELT_FAULT_SHORT");
  return value != NULL && strcmp(value, "1") == 0;
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
  size_t (*real)(const void*, size_t, size_t, FILE*);
  load_next("fwrite", &real);
  if (call_selected("fwrite") && stream_matches(stream) && past_allowed_calls()) {
    const int saved = errno;
    if (short_writes() && count > 1) {
      const size_t written = real(data, size, count / 2, stream);
      errno = saved;
      return written;
    }
    return 0;
  }
  return real(data, size, count, stream);
}

int fputs(const char* text, FILE* stream) {
  int (*real)(const char*, FILE*);
  load_next("fputs", &real);
  if (call_selected("fputs") && stream_matches(stream) && past_allowed_calls()) return EOF;
  return real(text, stream);
}

int fputc(int c, FILE* stream) {
  int (*real)(int, FILE*);
  load_next("fputc", &real);
  if (call_selected("fputc") && stream_matches(stream) && past_allowed_calls()) return EOF;
  return real(c, stream);
}

int vfprintf(FILE* stream, const char* format, va_list arguments) {
  int (*real)(FILE*, const char*, va_list);
  load_next("vfprintf", &real);
  if (call_selected("vfprintf") && stream_matches(stream) && past_allowed_calls()) return -1;
  return real(stream, format, arguments);
}

int fprintf(FILE* stream, const char* format, ...) {
  int (*real)(FILE*, const char*, va_list);
  load_next("vfprintf", &real);
  if (call_selected("fprintf") && stream_matches(stream) && past_allowed_calls()) return -1;
  va_list arguments;
  va_start(arguments, format);
  const int result = real(stream, format, arguments);
  va_end(arguments);
  return result;
}

/* The fortified forms that -D_FORTIFY_SOURCE builds call instead. */
int __fprintf_chk(FILE* stream, int flag, const char* format, ...) {
  (void)flag;
  int (*real)(FILE*, const char*, va_list);
  load_next("vfprintf", &real);
  if (call_selected("fprintf") && stream_matches(stream) && past_allowed_calls()) return -1;
  va_list arguments;
  va_start(arguments, format);
  const int result = real(stream, format, arguments);
  va_end(arguments);
  return result;
}

int __vfprintf_chk(FILE* stream, int flag, const char* format, va_list arguments) {
  (void)flag;
  int (*real)(FILE*, const char*, va_list);
  load_next("vfprintf", &real);
  if (call_selected("vfprintf") && stream_matches(stream) && past_allowed_calls()) return -1;
  return real(stream, format, arguments);
}

int fflush(FILE* stream) {
  int (*real)(FILE*);
  load_next("fflush", &real);
  if (call_selected("fflush") && stream_matches(stream) && past_allowed_calls()) return EOF;
  return real(stream);
}

int fclose(FILE* stream) {
  int (*real)(FILE*);
  load_next("fclose", &real);
  if (call_selected("fclose") && stream_matches(stream) && past_allowed_calls()) {
    const int saved = errno;
    real(stream);
    errno = saved;
    return EOF;
  }
  return real(stream);
}

ssize_t write(int fd, const void* data, size_t count) {
  ssize_t (*real)(int, const void*, size_t);
  load_next("write", &real);
  if (call_selected("write") && descriptor_matches(fd) && past_allowed_calls()) {
    if (short_writes() && count > 1) return real(fd, data, count / 2);
    return -1;
  }
  return real(fd, data, count);
}

ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
  ssize_t (*real)(int, const void*, size_t, off_t);
  load_next("pwrite", &real);
  if (call_selected("pwrite") && descriptor_matches(fd) && past_allowed_calls()) {
    if (short_writes() && count > 1) return real(fd, data, count / 2, offset);
    return -1;
  }
  return real(fd, data, count, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t count, off_t offset) {
  ssize_t (*real)(int, const void*, size_t, off_t);
  load_next("pwrite64", &real);
  if (call_selected("pwrite") && descriptor_matches(fd) && past_allowed_calls()) {
    if (short_writes() && count > 1) return real(fd, data, count / 2, offset);
    return -1;
  }
  return real(fd, data, count, offset);
}

int rename(const char* from, const char* to) {
  int (*real)(const char*, const char*);
  load_next("rename", &real);
  if (call_selected("rename") && (path_matches(from) || path_matches(to)) && past_allowed_calls())
    return -1;
  return real(from, to);
}

int fsync(int fd) {
  int (*real)(int);
  load_next("fsync", &real);
  if (call_selected("fsync") && descriptor_matches(fd) && past_allowed_calls()) return -1;
  return real(fd);
}

int fdatasync(int fd) {
  int (*real)(int);
  load_next("fdatasync", &real);
  if (call_selected("fsync") && descriptor_matches(fd) && past_allowed_calls()) return -1;
  return real(fd);
}
