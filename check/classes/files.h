// Files and directories that anyone may have put in the check's way (a class directory, a module
// path), looked at without waiting and within bounds: only regular files are read (a FIFO or a
// device named like a class file could block or never end), none larger than a limit, and a
// directory's names are read up to a limit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::check {

enum class PathKind { kMissing, kRegular, kDirectory, kOther, kUnreadable };

struct PathStatus {
  PathKind kind = PathKind::kMissing;
  int error = 0;  // for kUnreadable: why it could not be looked at
  dev_t device = 0;
  ino_t inode = 0;
};

// What `path` is, following symbolic links (a dangling link is kMissing), or, with `follow` false,
// what the path itself is (a symbolic link is kOther).
PathStatus StatusOf(const std::string& path, bool follow = true);

// Whether `path` leads to something that can be looked at, following symbolic links.
bool Exists(const std::string& path);

// The bytes of the regular file `path`, or nullopt with `error` set to why, for a person: it does
// not exist, cannot be read, is not a regular file, or is larger than `limit`.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                           std::string& error);

// The names in the directory `path` (without "." and ".."), at most `limit` of them, in the order
// the system gives; `cut` says that there were more. Nullopt when it cannot be read (`error`).
std::optional<std::vector<std::string>> ListDirectory(const std::string& path, std::size_t limit,
                                                      bool& cut, int& error);

// `name` below `directory`, with one slash between them where `directory` does not end in one
// (none after an empty `directory`).
std::string JoinPath(std::string_view directory, std::string_view name);

// The directories of a package or a class, as the binary name `name` gives them: a.b.Main is
// a/b/Main (a slash stays a slash).
std::string PackagePath(std::string_view name);

// The file of the class `class_name` below `directory`: for a.b.Main, DIRECTORY/a/b/Main.class.
std::string ClassFilePath(std::string_view directory, std::string_view class_name);

// The system's words for `error`.
std::string Describe(int error);

}  // namespace launcher::check
