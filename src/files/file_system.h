// The file system as the program uses it: every open, read, write, flush, sync, move, removal and
// lock of the source file, the export files, the transfer log, the configuration file, the reject
// files and the run record goes through a FileSystem, so that a test can put one in its place that
// fails on demand (failing_file_system.h). The platform's own calls (POSIX or Windows) stand only
// in this module: here, in file_replace.h and in process.h.
//
// The bottom module: it includes nothing else of src/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zarvelt {

enum class OpenMode {
  kWrite,            // binary writing: created, or emptied ("wb")
  kWriteText,        // text writing: created, or emptied ("w"; CR LF line ends on Windows)
  kAppendText,       // text appending, created if missing ("a")
  kAppend,           // binary appending, created if missing; each write goes to the file's end
                     // at once, in one piece (no buffer held back)
  kCreateNew,        // binary writing of a new file, readable and writable by its owner only;
                     // fails when anything is at the path already, a link included (never followed)
  kCreateNewShared,  // the same, readable by everyone (as the umask allows)
  kWriteExisting,    // binary writing from the start, created if missing, never emptied, links
                     // followed; never waits: a FIFO without a reader fails (ENXIO)
};

// Same device and same file on it (POSIX: st_dev, st_ino; Windows: volume serial number and
// file index). Not known (known == false) for what has no such identity, e.g. Windows' NUL.
struct FileId {
  bool known = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId& other) const {
    return known && other.known && device == other.device && inode == other.inode;
  }
};

// What the program needs to know of a file (links followed).
struct FileInfo {
  bool exists = false;
  bool regular = false;  // a regular file (not a device, FIFO, socket or directory)
  bool directory = false;
  FileId id;
  std::uint64_t links = 1;  // hard links
  std::uint64_t size = 0;
  std::uint32_t owner = 0;  // POSIX user and group; 0 on Windows
  std::uint32_t group = 0;
  std::uint32_t mode = 0;  // POSIX permission bits (07777); 0 on Windows
};

enum class LockResult { kLocked, kBusy, kError };

enum class ReadResult { kOk, kMissing, kError };

// One open file. Destroying it closes it without checking; call close() to learn whether the
// last buffered bytes reached the file.
class File {
 public:
  virtual ~File() = default;
  // Writes all bytes (buffered). A short write counts as a failure.
  virtual bool write(std::string_view bytes) = 0;
  // Hands the buffered bytes to the system.
  virtual bool flush() = 0;
  // Flushes and asks the system to put the file's bytes on the disk (fsync, _commit).
  virtual bool sync() = 0;
  // Flushes and closes. Later calls of anything but info() fail.
  virtual bool close() = 0;
  // The file's size as stored (line ends of text mode included), after flushing.
  virtual std::optional<std::uint64_t> size() = 0;
  virtual FileInfo info() = 0;
  // Empties the file and writes from its start again (ftruncate; a device or FIFO has
  // nothing to empty and succeeds).
  virtual bool truncate() = 0;
  // An exclusive advisory lock on the whole file (flock; LockFileEx on Windows), held until
  // the file is closed. Never waits: kBusy when another open file holds it.
  virtual LockResult try_lock() = 0;
  // Gives the file the owner, group and permission bits of like, as far as the runner may
  // (a failed change of owner is not an error, a failed change of mode is).
  virtual bool set_owner_and_mode(const FileInfo& like) = 0;
};

// A file open for reading, its bytes as stored (binary). Destroying it closes it.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // The stream to read from, open until this is destroyed.
  virtual std::FILE* stream() = 0;
  // A read went wrong (the end of the file is no failure).
  virtual bool failed() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // nullptr when the file cannot be opened; errno then says why (EEXIST for kCreateNew when
  // something is at the path).
  virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode) = 0;
  // Opens a file for reading; nullptr when it cannot be opened.
  virtual std::unique_ptr<InputFile> open_input(const std::string& path) = 0;
  // The whole content of a small file, binary or in text mode.
  virtual ReadResult read_file(const std::string& path, bool text, std::string& contents) = 0;
  // Moves from over to in one step, replacing to (rename; MoveFileEx with replace and write
  // through on Windows). False leaves both as they were.
  virtual bool replace(const std::string& from, const std::string& to) = 0;
  virtual bool remove(const std::string& path) = 0;
  // Links followed; exists == false when nothing is there (or it cannot be examined).
  virtual FileInfo info(const std::string& path) = 0;
  virtual std::optional<std::uint64_t> file_size(const std::string& path) = 0;
  // True when path itself is a symbolic link (not followed).
  virtual bool is_link(const std::string& path) = 0;
  // Puts the directory's entries on the disk (POSIX); true on Windows, whose moves are
  // written through.
  virtual bool sync_directory(const std::string& directory) = 0;
  // The path with every link resolved, absolute; the path as given when that fails.
  virtual std::string real_path(const std::string& path) = 0;
  // The system's directory for temporary files.
  virtual std::string temp_directory() = 0;
  // This process's id, for names no other run can have.
  virtual std::uint64_t process_id() = 0;
};

// The machine's own file system (POSIX, or Windows through its C runtime and Win32).
FileSystem& real_file_system();

// The directory part of a path ("." when it has none) and the last part.
std::string directory_of(const std::string& path);
std::string file_name_of(const std::string& path);

}  // namespace zarvelt
