// Inputs for the tests of launcher-check's class-file, JAR and module-path readers: class files and
// ZIP archives assembled byte by byte (so that a test can say exactly what is in them, and break
// them on purpose), and small Java applications compiled by the JDK's javac and packed by its jar.
//
// Compiled fixtures are kept in the build tree, one directory per fixture named by a hash of its
// sources and commands, so that the JDK runs once per fixture and build, not once per test (CTest
// runs every test in a process of its own). A fixture is built in a temporary directory and
// renamed into place, so tests running at the same time never see half of one.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/e2e.h"

namespace class_fixtures {

// Big-endian numbers, as class files hold them, and little-endian ones, as ZIP archives do; bytes
// beyond the eighth are zeros.
inline char ByteOf(std::uint64_t value, int index) {
  return index < 8 ? static_cast<char>(value >> (8 * index) & 0xFF) : '\0';
}
inline void Big(std::string& out, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) out += ByteOf(value, i);
}
inline void Little(std::string& out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out += ByteOf(value, i);
}

// A class file put together constant by constant.
class ClassBuilder {
 public:
  struct Member {
    std::uint16_t flags;
    std::string name;
    std::string descriptor;
  };
  struct Attribute {
    std::uint16_t name;  // a Utf8 constant
    std::string bytes;
  };

  std::uint16_t Utf8(std::string_view text) {
    pool_ += '\x01';
    Big(pool_, text.size(), 2);
    pool_ += text;
    return next_++;
  }
  std::uint16_t Class(std::string_view internal_name) { return Indexed(7, Utf8(internal_name)); }
  std::uint16_t Module(std::string_view name) { return Indexed(19, Utf8(name)); }
  std::uint16_t Package(std::string_view internal_name) { return Indexed(20, Utf8(internal_name)); }
  std::uint16_t MethodType(std::string_view descriptor) { return Indexed(16, Utf8(descriptor)); }
  std::uint16_t NameAndType(std::string_view name, std::string_view descriptor) {
    const std::uint16_t n = Utf8(name);
    const std::uint16_t d = Utf8(descriptor);
    return Pair(12, n, d);
  }
  std::uint16_t Methodref(std::string_view owner, std::string_view name,
                          std::string_view descriptor) {
    const std::uint16_t c = Class(owner);
    const std::uint16_t t = NameAndType(name, descriptor);
    return Pair(10, c, t);
  }
  std::uint16_t Long(std::uint64_t value) {
    pool_ += '\x05';
    Big(pool_, value, 8);
    const std::uint16_t index = next_;
    next_ += 2;
    return index;
  }
  // Raw bytes of a constant, for broken pools.
  void Raw(std::string_view bytes, std::uint16_t slots = 1) {
    pool_ += bytes;
    next_ = static_cast<std::uint16_t>(next_ + slots);
  }

  std::vector<Member> fields;
  std::vector<Member> methods;
  std::vector<Attribute> attributes;
  std::uint16_t access_flags = 0x0021;  // public super
  std::uint16_t major_version = 61;     // Java 17

  // The class file, with `this_class` and `super_class` constant indexes (Class constants).
  std::string Build(std::uint16_t this_class, std::uint16_t super_class) {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> field_names, method_names;
    for (const Member& field : fields)
      field_names.emplace_back(Utf8(field.name), Utf8(field.descriptor));
    for (const Member& method : methods) {
      method_names.emplace_back(Utf8(method.name), Utf8(method.descriptor));
    }
    std::string out;
    Big(out, 0xCAFEBABE, 4);
    Big(out, 0, 2);
    Big(out, major_version, 2);
    Big(out, next_, 2);
    out += pool_;
    Big(out, access_flags, 2);
    Big(out, this_class, 2);
    Big(out, super_class, 2);
    Big(out, 0, 2);  // interfaces
    const auto members = [&](const std::vector<Member>& list,
                             const std::vector<std::pair<std::uint16_t, std::uint16_t>>& names) {
      Big(out, list.size(), 2);
      for (std::size_t i = 0; i < list.size(); ++i) {
        Big(out, list[i].flags, 2);
        Big(out, names[i].first, 2);
        Big(out, names[i].second, 2);
        Big(out, 0, 2);
      }
    };
    members(fields, field_names);
    members(methods, method_names);
    Big(out, attributes.size(), 2);
    for (const Attribute& attribute : attributes) {
      Big(out, attribute.name, 2);
      Big(out, attribute.bytes.size(), 4);
      out += attribute.bytes;
    }
    return out;
  }

 private:
  std::uint16_t Indexed(char tag, std::uint16_t index) {
    pool_ += tag;
    Big(pool_, index, 2);
    return next_++;
  }
  std::uint16_t Pair(char tag, std::uint16_t first, std::uint16_t second) {
    pool_ += tag;
    Big(pool_, first, 2);
    Big(pool_, second, 2);
    return next_++;
  }

  std::string pool_;
  std::uint16_t next_ = 1;
};

inline std::string Internal(std::string_view dotted) {
  std::string name(dotted);
  for (char& c : name) {
    if (c == '.') c = '/';
  }
  return name;
}

// The class `name` (binary name with dots) whose constant pool names each of `references`; with
// `main`, it has a public static void main(String[]).
inline std::string ClassNaming(std::string_view name, const std::vector<std::string>& references,
                               bool main = false) {
  ClassBuilder b;
  const std::uint16_t self = b.Class(Internal(name));
  const std::uint16_t object = b.Class("java/lang/Object");
  for (const std::string& reference : references) b.Class(Internal(reference));
  if (main) b.methods.push_back({0x0009, "main", "([Ljava/lang/String;)V"});
  return b.Build(self, object);
}

// What a module-info.class declares.
struct ModuleDeclaration {
  std::string name = {};
  std::vector<std::string> requires_ = {};  // each "name" or "static name"
  std::vector<std::string> exports = {};
  std::vector<std::string> uses = {};
  std::vector<std::pair<std::string, std::string>> provides = {};  // service, provider
  std::vector<std::string> packages = {};  // its ModulePackages attribute; none when empty
  std::string main_class = {};
};

inline std::string ModuleInfoClass(const ModuleDeclaration& declaration) {
  ClassBuilder b;
  b.access_flags = 0x8000;
  const std::uint16_t self = b.Class("module-info");
  std::string module;
  Big(module, b.Module(declaration.name), 2);
  Big(module, 0, 4);
  Big(module, declaration.requires_.size() + 1, 2);
  Big(module, b.Module("java.base"), 2);
  Big(module, 0x8000, 2);
  Big(module, 0, 2);
  for (const std::string& required : declaration.requires_) {
    const bool is_static = required.rfind("static ", 0) == 0;
    Big(module, b.Module(is_static ? required.substr(7) : required), 2);
    Big(module, is_static ? 0x0040 : 0, 2);
    Big(module, 0, 2);
  }
  Big(module, declaration.exports.size(), 2);
  for (const std::string& package : declaration.exports) {
    Big(module, b.Package(Internal(package)), 2);
    Big(module, 0, 4);
  }
  Big(module, 0, 2);  // opens
  Big(module, declaration.uses.size(), 2);
  for (const std::string& service : declaration.uses) Big(module, b.Class(Internal(service)), 2);
  Big(module, declaration.provides.size(), 2);
  for (const auto& [service, provider] : declaration.provides) {
    Big(module, b.Class(Internal(service)), 2);
    Big(module, 1, 2);
    Big(module, b.Class(Internal(provider)), 2);
  }
  b.attributes.push_back({b.Utf8("Module"), module});
  if (!declaration.packages.empty()) {
    std::string packages;
    Big(packages, declaration.packages.size(), 2);
    for (const std::string& package : declaration.packages) {
      Big(packages, b.Package(Internal(package)), 2);
    }
    b.attributes.push_back({b.Utf8("ModulePackages"), packages});
  }
  if (!declaration.main_class.empty()) {
    std::string main;
    Big(main, b.Class(Internal(declaration.main_class)), 2);
    b.attributes.push_back({b.Utf8("ModuleMainClass"), main});
  }
  return b.Build(self, 0);
}

// Raw deflate (no zlib header), as ZIP archives hold it.
inline std::string Deflate(std::string_view data) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

inline std::uint32_t Crc(std::string_view data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A ZIP archive put together entry by entry. Each directory record's fields can be overridden
// before Build, so that a test can make the directory lie.
class ZipBuilder {
 public:
  struct Entry {
    std::string name;
    std::string data;  // as stored in the archive (deflated already for method 8)
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;  // inflated
    std::uint64_t compressed_size = 0;
    std::uint64_t offset = 0;  // filled by Build unless `keep_offset`
    bool keep_offset = false;
    bool zip64 = false;  // sizes and offset in a ZIP64 extra field
  };

  Entry& Add(std::string name, std::string_view content, bool deflated = true) {
    Entry entry;
    entry.name = std::move(name);
    entry.method = deflated ? 8 : 0;
    entry.data = deflated ? Deflate(content) : std::string(content);
    entry.crc = Crc(content);
    entry.size = content.size();
    entry.compressed_size = entry.data.size();
    entries.push_back(std::move(entry));
    return entries.back();
  }

  std::vector<Entry> entries;
  std::string prefix;  // bytes before the archive (a start script)
  std::string comment;
  bool zip64_end = false;               // ZIP64 end records, the 32-bit fields saturated
  std::int64_t entry_count_change = 0;  // added to the count the end record gives

  std::string Build() {
    std::string out = prefix;
    for (Entry& entry : entries) {
      if (!entry.keep_offset) entry.offset = out.size() - prefix.size();
      Little(out, 0x04034b50, 4);
      Little(out, 20, 2);
      Little(out, entry.flags, 2);
      Little(out, entry.method, 2);
      Little(out, 0, 4);  // time and date
      Little(out, entry.crc, 4);
      Little(out, entry.compressed_size, 4);
      Little(out, entry.size, 4);
      Little(out, entry.name.size(), 2);
      Little(out, 0, 2);
      out += entry.name;
      out += entry.data;
    }
    const std::uint64_t directory_offset = out.size() - prefix.size();
    for (const Entry& entry : entries) {
      std::string extra;
      if (entry.zip64) {
        Little(extra, 1, 2);
        Little(extra, 24, 2);
        Little(extra, entry.size, 8);
        Little(extra, entry.compressed_size, 8);
        Little(extra, entry.offset, 8);
      }
      const auto narrow = [&](std::uint64_t value) { return entry.zip64 ? 0xFFFFFFFF : value; };
      Little(out, 0x02014b50, 4);
      Little(out, 20, 2);
      Little(out, 20, 2);
      Little(out, entry.flags, 2);
      Little(out, entry.method, 2);
      Little(out, 0, 4);
      Little(out, entry.crc, 4);
      Little(out, narrow(entry.compressed_size), 4);
      Little(out, narrow(entry.size), 4);
      Little(out, entry.name.size(), 2);
      Little(out, extra.size(), 2);
      Little(out, 0, 2);  // comment
      Little(out, 0, 2);  // disk
      Little(out, 0, 2);  // internal attributes
      Little(out, 0, 4);  // external attributes
      Little(out, narrow(entry.offset), 4);
      out += entry.name;
      out += extra;
    }
    const std::uint64_t directory_size = out.size() - prefix.size() - directory_offset;
    const auto count =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(entries.size()) + entry_count_change);
    if (zip64_end) {
      const std::uint64_t record_at = out.size() - prefix.size();
      Little(out, 0x06064b50, 4);
      Little(out, 44, 8);
      Little(out, 45, 2);
      Little(out, 45, 2);
      Little(out, 0, 4);
      Little(out, 0, 4);
      Little(out, count, 8);
      Little(out, count, 8);
      Little(out, directory_size, 8);
      Little(out, directory_offset, 8);
      Little(out, 0x07064b50, 4);
      Little(out, 0, 4);
      Little(out, record_at, 8);
      Little(out, 1, 4);
    }
    Little(out, 0x06054b50, 4);
    Little(out, 0, 2);
    Little(out, 0, 2);
    Little(out, zip64_end ? 0xFFFF : count, 2);
    Little(out, zip64_end ? 0xFFFF : count, 2);
    Little(out, zip64_end ? 0xFFFFFFFF : directory_size, 4);
    Little(out, zip64_end ? 0xFFFFFFFF : directory_offset, 4);
    Little(out, comment.size(), 2);
    out += comment;
    return out;
  }
};

// The JDK's tools the fixtures are made with, from the build's configuration (empty when the build
// found no javac).
struct JavaTools {
  std::string javac;
  std::string jar;
  std::string java;
  std::string openjfx_lib;  // the JavaFX modules (Debian: openjfx), or empty
  std::string cache;        // where compiled fixtures are kept

  static const JavaTools& Get() {
    static const JavaTools tools = [] {
      JavaTools found;
      found.javac = CHECK_JAVAC;
      found.openjfx_lib = CHECK_OPENJFX_LIB;
      found.cache = CHECK_FIXTURE_CACHE;
      char real[PATH_MAX];
      if (!found.javac.empty() && realpath(found.javac.c_str(), real) != nullptr) {
        const std::string bin = std::string(real).substr(0, std::string(real).rfind('/'));
        found.jar = bin + "/jar";
        found.java = bin + "/java";
      } else {
        found.javac.clear();
      }
      return found;
    }();
    return tools;
  }
};

// Skips the test when the build found no javac, except under CI (the variable CI set), where the
// JDK is installed and a skip would hide that the test never ran.
#define REQUIRE_JAVAC()                                                                           \
  do {                                                                                            \
    if (::class_fixtures::JavaTools::Get().javac.empty()) {                                       \
      if (std::getenv("CI") != nullptr) FAIL() << "no javac was found when the tests were built"; \
      GTEST_SKIP() << "no javac was found when the tests were built";                             \
    }                                                                                             \
  } while (false)

#define REQUIRE_OPENJFX()                                                                        \
  do {                                                                                           \
    REQUIRE_JAVAC();                                                                             \
    if (::class_fixtures::JavaTools::Get().openjfx_lib.empty()) {                                \
      if (std::getenv("CI") != nullptr) FAIL() << "the JavaFX modules (openjfx) were not found"; \
      GTEST_SKIP() << "the JavaFX modules (openjfx) were not found";                             \
    }                                                                                            \
  } while (false)

// A compiled fixture: source files, then commands run in its directory, each "javac ...",
// "jar ...", "rm PATH" or "mkdir PATH"; "{jfx}" in an argument stands for the JavaFX modules.
struct Fixture {
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::vector<std::string>> commands;
};

// The directory of the built fixture; a failed command fails the test (and gives an empty path).
inline std::string Build(const Fixture& fixture) {
  const JavaTools& tools = JavaTools::Get();
  std::string key = tools.javac;
  for (const auto& [path, content] : fixture.files) key += "\n" + path + "\n" + content;
  for (const auto& command : fixture.commands) {
    for (const std::string& word : command) key += "\n" + word;
  }
  const std::string directory = tools.cache + "/" + std::to_string(std::hash<std::string>{}(key));
  std::error_code ignored;
  if (std::filesystem::is_directory(directory, ignored)) return directory;

  std::filesystem::create_directories(tools.cache, ignored);
  const std::string building = directory + ".building." + std::to_string(getpid());
  std::filesystem::remove_all(building, ignored);
  for (const auto& [path, content] : fixture.files) {
    e2e::MakeDirs(std::filesystem::path(building + "/" + path).parent_path().string());
    e2e::WriteFile(building + "/" + path, content);
  }
  for (std::vector<std::string> command : fixture.commands) {
    for (std::string& word : command) {
      const std::size_t at = word.find("{jfx}");
      if (at != std::string::npos) word.replace(at, 5, tools.openjfx_lib);
    }
    if (command[0] == "rm") {
      std::filesystem::remove_all(building + "/" + command[1], ignored);
      continue;
    }
    if (command[0] == "mkdir") {
      e2e::MakeDirs(building + "/" + command[1]);
      continue;
    }
    const std::string program = command[0] == "javac" ? tools.javac : tools.jar;
    e2e::RunOptions options;
    options.argv = command;
    options.argv[0] = program;
    options.cwd = building;
    options.env = {"PATH=/usr/bin:/bin", "LC_ALL=C"};
    options.timeout_seconds = 300;
    const e2e::RunResult result = e2e::RunProgram(program, options);
    if (!result.exited || result.exit_code != 0) {
      ADD_FAILURE() << command[0] << " failed: " << result.out << result.err;
      std::filesystem::remove_all(building, ignored);
      return {};
    }
  }
  // Another test may have built the same fixture meanwhile: then its copy is used.
  std::filesystem::rename(building, directory, ignored);
  std::filesystem::remove_all(building, ignored);
  return directory;
}

}  // namespace class_fixtures
