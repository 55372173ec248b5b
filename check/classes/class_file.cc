#include "check/classes/class_file.h"

#include <algorithm>
#include <iterator>

namespace launcher::check {
namespace {

// The tags of a class file's constant-pool entries, as the class-file format numbers them.
enum Tag : std::uint8_t {
  kUnusable = 0,  // the slot after a long or a double, and slot 0
  kUtf8 = 1,
  kInteger = 3,
  kFloat = 4,
  kLong = 5,
  kDouble = 6,
  kClass = 7,
  kString = 8,
  kFieldref = 9,
  kMethodref = 10,
  kInterfaceMethodref = 11,
  kNameAndType = 12,
  kMethodHandle = 15,
  kMethodType = 16,
  kDynamic = 17,
  kInvokeDynamic = 18,
  kModule = 19,
  kPackage = 20,
};

constexpr std::uint16_t kAccPublic = 0x0001;
constexpr std::uint16_t kAccStatic = 0x0008;
constexpr std::uint16_t kAccOpen = 0x0020;         // of a module
constexpr std::uint16_t kAccStaticPhase = 0x0040;  // of a requires

// Reads big-endian numbers from the bytes; a read past the end gives 0 and marks the reader
// failed, so a parse can read on and check `ok` where it matters.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  std::size_t left() const { return bytes_.size() - at_; }

  std::uint32_t Read(std::size_t width) {
    if (!ok_ || left() < width) {
      ok_ = false;
      return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      value = value << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    }
    at_ += width;
    return value;
  }
  std::uint8_t U1() { return static_cast<std::uint8_t>(Read(1)); }
  std::uint16_t U2() { return static_cast<std::uint16_t>(Read(2)); }
  std::uint32_t U4() { return Read(4); }

  std::string_view Bytes(std::size_t count) {
    if (!ok_ || left() < count) {
      ok_ = false;
      return {};
    }
    const std::string_view taken = bytes_.substr(at_, count);
    at_ += count;
    return taken;
  }
  void Skip(std::size_t count) { Bytes(count); }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

struct Constant {
  Tag tag = kUnusable;
  std::uint16_t first = 0;   // the index a Class, String, MethodType, Module or Package names;
                             // the class (or bootstrap method) of a reference; a NameAndType's name
  std::uint16_t second = 0;  // the NameAndType of a reference; a NameAndType's descriptor
  std::string_view text;     // a Utf8's bytes (modified UTF-8)
};

// Modified UTF-8 (4.4.7) as UTF-8: a surrogate pair becomes one four-byte sequence. Nullopt for
// bytes that are not modified UTF-8, and for NUL (two bytes in modified UTF-8), which no name of a
// class, package or module holds.
std::optional<std::string> Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](std::size_t i) {
    return i < text.size() && (byte(i) & 0xC0) == 0x80;
  };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = byte(i);
    if (lead >= 0x01 && lead <= 0x7F) {
      out += static_cast<char>(lead);
      ++i;
    } else if ((lead & 0xE0) == 0xC0 && continuation(i + 1)) {
      if (lead < 0xC2) return std::nullopt;  // NUL (C0 80) or an overlong form
      out.append(text.substr(i, 2));
      i += 2;
    } else if ((lead & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
      const unsigned unit =
          (lead & 0x0Fu) << 12 | (byte(i + 1) & 0x3Fu) << 6 | (byte(i + 2) & 0x3Fu);
      if (unit < 0x800) return std::nullopt;
      if (unit >= 0xD800 && unit <= 0xDBFF) {  // a high surrogate: a low one must follow
        if (i + 6 > text.size() || byte(i + 3) != 0xED || !continuation(i + 4) ||
            !continuation(i + 5)) {
          return std::nullopt;
        }
        const unsigned low = 0xD000u | (byte(i + 4) & 0x3Fu) << 6 | (byte(i + 5) & 0x3Fu);
        if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
        const unsigned code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
        i += 6;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return std::nullopt;  // a low surrogate alone
      } else {
        out.append(text.substr(i, 3));
        i += 3;
      }
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// The class file's constant pool and the parts of the file after it that the readers need.
struct Parsed {
  std::uint16_t major_version = 0;
  std::vector<Constant> pool;
  std::uint16_t access_flags = 0;
  std::uint16_t this_class = 0;
  struct Member {
    std::uint16_t access_flags = 0;
    std::uint16_t name = 0;
    std::uint16_t descriptor = 0;
  };
  std::vector<Member> members;  // fields and methods
  std::vector<Member> methods;
  struct Attribute {
    std::uint16_t name = 0;
    std::string_view bytes;
  };
  std::vector<Attribute> attributes;  // of the class

  const Constant* At(std::uint16_t index, Tag tag) const {
    return index < pool.size() && pool[index].tag == tag ? &pool[index] : nullptr;
  }
  // The text of the Utf8 at `index`, or nullopt.
  std::optional<std::string_view> Utf8(std::uint16_t index) const {
    const Constant* constant = At(index, kUtf8);
    return constant ? std::optional<std::string_view>(constant->text) : std::nullopt;
  }
  // The Utf8 that the constant of kind `tag` at `index` names (a Class's name, ...), or nullopt.
  std::optional<std::string_view> NameOf(std::uint16_t index, Tag tag) const {
    const Constant* constant = At(index, tag);
    return constant ? Utf8(constant->first) : std::nullopt;
  }
};

bool ReadPool(Reader& in, std::vector<Constant>& pool) {
  const std::uint16_t count = in.U2();
  if (!in.ok() || count == 0) return false;
  pool.emplace_back();  // slot 0 is not used
  while (pool.size() < count) {
    Constant constant;
    constant.tag = static_cast<Tag>(in.U1());
    bool wide = false;
    switch (constant.tag) {
      case kUtf8:
        constant.text = in.Bytes(in.U2());
        break;
      case kInteger:
      case kFloat:
        in.Skip(4);
        break;
      case kLong:
      case kDouble:
        in.Skip(8);
        wide = true;
        break;
      case kClass:
      case kString:
      case kMethodType:
      case kModule:
      case kPackage:
        constant.first = in.U2();
        break;
      case kFieldref:
      case kMethodref:
      case kInterfaceMethodref:
      case kNameAndType:
      case kDynamic:
      case kInvokeDynamic:
        constant.first = in.U2();
        constant.second = in.U2();
        break;
      case kMethodHandle:
        in.Skip(1);
        constant.first = in.U2();
        break;
      default:
        return false;
    }
    if (!in.ok()) return false;
    pool.push_back(constant);
    if (wide) {
      if (pool.size() == count) return false;  // a long or a double may not end the pool
      pool.emplace_back();
    }
  }
  return true;
}

// Reads `count` attributes; the class's own are kept in `kept` when it is given.
bool ReadAttributes(Reader& in, std::vector<Parsed::Attribute>* kept) {
  const std::uint16_t count = in.U2();
  for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
    Parsed::Attribute attribute;
    attribute.name = in.U2();
    attribute.bytes = in.Bytes(in.U4());
    if (kept && in.ok()) kept->push_back(attribute);
  }
  return in.ok();
}

bool ReadMembers(Reader& in, std::vector<Parsed::Member>& members) {
  const std::uint16_t count = in.U2();
  for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
    Parsed::Member member;
    member.access_flags = in.U2();
    member.name = in.U2();
    member.descriptor = in.U2();
    if (!ReadAttributes(in, nullptr)) return false;
    members.push_back(member);
  }
  return in.ok();
}

std::optional<Parsed> Parse(std::string_view bytes) {
  Reader in(bytes);
  Parsed parsed;
  if (in.U4() != 0xCAFEBABE) return std::nullopt;
  in.U2();  // minor version
  parsed.major_version = in.U2();
  if (!ReadPool(in, parsed.pool)) return std::nullopt;
  parsed.access_flags = in.U2();
  parsed.this_class = in.U2();
  in.U2();  // super class
  const std::uint16_t interfaces = in.U2();
  in.Skip(2u * interfaces);
  std::vector<Parsed::Member> fields;
  if (!in.ok() || !ReadMembers(in, fields) || !ReadMembers(in, parsed.methods) ||
      !ReadAttributes(in, &parsed.attributes)) {
    return std::nullopt;
  }
  parsed.members = std::move(fields);
  parsed.members.insert(parsed.members.end(), parsed.methods.begin(), parsed.methods.end());
  return parsed;
}

// An internal name ('/' separated, modified UTF-8) as a binary name with dots, or nullopt.
std::optional<std::string> BinaryName(std::string_view internal) {
  std::optional<std::string> name = Decode(internal);
  if (!name || name->find('.') != std::string::npos) return std::nullopt;
  std::replace(name->begin(), name->end(), '/', '.');
  if (!IsBinaryName(*name)) return std::nullopt;
  return name;
}

// Adds the classes a field or method descriptor names; stops at the first character that cannot
// be part of one.
void AddDescriptorClasses(std::string_view descriptor, std::vector<std::string>& classes) {
  for (std::size_t i = 0; i < descriptor.size(); ++i) {
    const char c = descriptor[i];
    if (c == 'L') {
      const std::size_t end = descriptor.find(';', i);
      if (end == std::string_view::npos) return;
      if (std::optional<std::string> name = BinaryName(descriptor.substr(i + 1, end - i - 1))) {
        classes.push_back(std::move(*name));
      }
      i = end;
    } else if (std::string_view("()[BCDFIJSZV").find(c) == std::string_view::npos) {
      return;
    }
  }
}

// A Class constant's name: an internal name, or an array's descriptor ("[Lapp/Item;").
void AddClassConstant(std::string_view name, std::vector<std::string>& classes) {
  if (!name.empty() && name[0] == '[') {
    AddDescriptorClasses(name, classes);
  } else if (std::optional<std::string> binary = BinaryName(name)) {
    classes.push_back(std::move(*binary));
  }
}

// The package names of the Package constants at the `count` indexes that `in` reads.
bool ReadPackages(Reader& in, std::uint16_t count, const Parsed& parsed,
                  std::vector<std::string>* names) {
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::optional<std::string_view> internal = parsed.NameOf(in.U2(), kPackage);
    if (!in.ok() || !internal) return false;
    std::optional<std::string> name = BinaryName(*internal);
    if (!name) return false;
    if (names) names->push_back(std::move(*name));
  }
  return true;
}

bool ReadModuleNames(Reader& in, std::uint16_t count, const Parsed& parsed) {
  for (std::uint16_t i = 0; i < count; ++i) {
    if (!parsed.NameOf(in.U2(), kModule) || !in.ok()) return false;
  }
  return true;
}

std::optional<std::string> ClassName(std::uint16_t index, const Parsed& parsed) {
  const std::optional<std::string_view> internal = parsed.NameOf(index, kClass);
  return internal ? BinaryName(*internal) : std::nullopt;
}

bool ReadClassNames(Reader& in, std::uint16_t count, const Parsed& parsed,
                    std::vector<std::string>* names) {
  for (std::uint16_t i = 0; i < count; ++i) {
    std::optional<std::string> name = ClassName(in.U2(), parsed);
    if (!in.ok() || !name) return false;
    if (names) names->push_back(std::move(*name));
  }
  return true;
}

// The Module attribute (4.7.25).
bool ReadModuleAttribute(std::string_view bytes, const Parsed& parsed, ModuleDescriptor& module) {
  Reader in(bytes);
  const std::optional<std::string_view> name = parsed.NameOf(in.U2(), kModule);
  if (!name) return false;
  std::optional<std::string> decoded = Decode(*name);
  if (!decoded || decoded->empty()) return false;
  module.name = std::move(*decoded);
  module.open = (in.U2() & kAccOpen) != 0;
  in.U2();  // version

  const std::uint16_t requires_count = in.U2();
  for (std::uint16_t i = 0; i < requires_count && in.ok(); ++i) {
    const std::optional<std::string_view> required = parsed.NameOf(in.U2(), kModule);
    const std::uint16_t flags = in.U2();
    in.U2();  // version
    std::optional<std::string> decoded_required = required ? Decode(*required) : std::nullopt;
    if (!decoded_required) return false;
    if (flags & kAccStaticPhase) module.required_static.push_back(*decoded_required);
    module.required.push_back(std::move(*decoded_required));
  }
  for (int table = 0; table < 2 && in.ok(); ++table) {  // exports, then opens
    const std::uint16_t count = in.U2();
    for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
      std::vector<std::string> package;
      if (!ReadPackages(in, 1, parsed, &package)) return false;
      in.U2();  // flags
      const std::uint16_t targets = in.U2();
      if (!ReadModuleNames(in, targets, parsed)) return false;
      if (table == 0 && targets == 0) module.exports.push_back(std::move(package[0]));
    }
  }
  if (!ReadClassNames(in, in.U2(), parsed, &module.uses)) return false;
  const std::uint16_t provides = in.U2();
  for (std::uint16_t i = 0; i < provides && in.ok(); ++i) {
    if (!ReadClassNames(in, 1, parsed, &module.provides)) return false;
    if (!ReadClassNames(in, in.U2(), parsed, nullptr)) return false;
  }
  return in.ok();
}

// Java's reserved words and literals, which no segment of a module or package name may be.
constexpr std::string_view kKeywords[] = {
    "_",       "abstract",  "assert",       "boolean",  "break",      "byte",    "case",
    "catch",   "char",      "class",        "const",    "continue",   "default", "do",
    "double",  "else",      "enum",         "extends",  "false",      "final",   "finally",
    "float",   "for",       "goto",         "if",       "implements", "import",  "instanceof",
    "int",     "interface", "long",         "native",   "new",        "null",    "package",
    "private", "protected", "public",       "return",   "short",      "static",  "strictfp",
    "super",   "switch",    "synchronized", "this",     "throw",      "throws",  "transient",
    "true",    "try",       "void",         "volatile", "while"};

bool IsAsciiAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A Java identifier as far as the check needs to know: no digit first, letters, digits, _ and $
// (and any character beyond ASCII, which Java allows where it is a letter), not a keyword.
bool IsJavaIdentifier(std::string_view word) {
  if (word.empty() || (word[0] >= '0' && word[0] <= '9')) return false;
  for (const char c : word) {
    if (!IsAsciiAlphanumeric(c) && c != '_' && c != '$' && static_cast<unsigned char>(c) < 0x80) {
      return false;
    }
  }
  return std::find(std::begin(kKeywords), std::end(kKeywords), word) == std::end(kKeywords);
}

}  // namespace

bool IsBinaryName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.back() == '.') return false;
  if (name.find("..") != std::string_view::npos) return false;
  return name.find_first_of(std::string_view(";[/\0", 4)) == std::string_view::npos;
}

bool IsQualifiedName(std::string_view name) {
  if (!IsBinaryName(name)) return false;
  for (std::size_t start = 0;;) {
    const std::size_t dot = name.find('.', start);
    if (!IsJavaIdentifier(name.substr(start, dot - start))) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

std::string_view PackageOf(std::string_view class_name) {
  const std::size_t dot = class_name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : class_name.substr(0, dot);
}

std::optional<ClassFile> ReadClassFile(std::string_view bytes) {
  const std::optional<Parsed> parsed = Parse(bytes);
  if (!parsed) return std::nullopt;
  ClassFile file;
  std::optional<std::string> name = ClassName(parsed->this_class, *parsed);
  if (!name) return std::nullopt;
  file.name = std::move(*name);
  file.major_version = parsed->major_version;

  std::vector<std::string>& references = file.references;
  for (std::size_t i = 1; i < parsed->pool.size(); ++i) {
    const Constant& constant = parsed->pool[i];
    if (constant.tag == kClass && i != parsed->this_class) {
      if (const std::optional<std::string_view> text = parsed->Utf8(constant.first)) {
        AddClassConstant(*text, references);
      }
    } else if (constant.tag == kNameAndType || constant.tag == kMethodType) {
      const std::uint16_t index = constant.tag == kNameAndType ? constant.second : constant.first;
      if (const std::optional<std::string_view> text = parsed->Utf8(index)) {
        AddDescriptorClasses(*text, references);
      }
    }
  }
  for (const Parsed::Member& member : parsed->members) {
    if (const std::optional<std::string_view> text = parsed->Utf8(member.descriptor)) {
      AddDescriptorClasses(*text, references);
    }
  }
  std::sort(references.begin(), references.end());
  references.erase(std::unique(references.begin(), references.end()), references.end());
  references.erase(std::remove(references.begin(), references.end(), file.name), references.end());

  for (const Parsed::Member& method : parsed->methods) {
    if ((method.access_flags & (kAccPublic | kAccStatic)) == (kAccPublic | kAccStatic) &&
        parsed->Utf8(method.name) == "main" &&
        parsed->Utf8(method.descriptor) == "([Ljava/lang/String;)V") {
      file.has_main = true;
    }
  }
  return file;
}

std::optional<ModuleDescriptor> ReadModuleInfo(std::string_view bytes) {
  const std::optional<Parsed> parsed = Parse(bytes);
  if (!parsed) return std::nullopt;
  ModuleDescriptor module;
  bool found = false;
  for (const Parsed::Attribute& attribute : parsed->attributes) {
    const std::optional<std::string_view> name = parsed->Utf8(attribute.name);
    if (!name) continue;
    if (*name == "Module") {
      if (found || !ReadModuleAttribute(attribute.bytes, *parsed, module)) return std::nullopt;
      found = true;
    } else if (*name == "ModulePackages") {
      Reader in(attribute.bytes);
      module.packages.clear();
      if (!ReadPackages(in, in.U2(), *parsed, &module.packages) || !in.ok()) {
        return std::nullopt;
      }
    } else if (*name == "ModuleMainClass") {
      Reader in(attribute.bytes);
      std::optional<std::string> main_class = ClassName(in.U2(), *parsed);
      if (!in.ok() || !main_class) return std::nullopt;
      module.main_class = std::move(*main_class);
    }
  }
  if (!found) return std::nullopt;
  return module;
}

}  // namespace launcher::check
