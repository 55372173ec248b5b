#include "check/classes/class_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "check/classes/files.h"
#include "check/classes/zip_archive.h"
#include "tests/support/class_fixtures.h"

namespace launcher::check {
namespace {

using class_fixtures::Big;
using class_fixtures::ClassBuilder;
using Strings = std::vector<std::string>;

constexpr std::uint16_t kPublicStatic = 0x0009;

// app/Main naming classes every way a class file can: Class constants (an array's too), a method
// it calls, a method type, its own fields and methods; and text that only looks like a type.
std::string SampleClass() {
  ClassBuilder b;
  const std::uint16_t self = b.Class("app/Main");
  const std::uint16_t object = b.Class("java/lang/Object");
  b.Class("app/Helper");
  b.Class("[[Lapp/Item;");
  b.Class("[I");
  b.Methodref("app/Util", "run", "(Lapp/Arg;[J)Lapp/Result;");
  b.MethodType("(Lapp/Handle;)V");
  b.Utf8("Lapp/OnlyText;");                   // in no descriptor
  b.Utf8("Ljava/util/List<Lapp/Generic;>;");  // a generic signature: erased
  b.Long(42);
  b.fields.push_back({0x0002, "field", "Lapp/Field;"});
  b.fields.push_back({0x0002, "many", "[Lapp/FieldArray;"});
  b.methods.push_back({kPublicStatic, "main", "([Ljava/lang/String;)V"});
  b.methods.push_back({0x0001, "make", "(ILapp/Param;)Lapp/Made;"});
  return b.Build(self, object);
}

TEST(ReadClassFile, NamesEveryClassItReferences) {
  const std::optional<ClassFile> file = ReadClassFile(SampleClass());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name, "app.Main");
  EXPECT_EQ(file->major_version, 61);
  EXPECT_TRUE(file->has_main);
  EXPECT_EQ(file->references,
            (Strings{"app.Arg", "app.Field", "app.FieldArray", "app.Handle", "app.Helper",
                     "app.Item", "app.Made", "app.Param", "app.Result", "app.Util",
                     "java.lang.Object", "java.lang.String"}));
}

TEST(ReadClassFile, NestedAndNonAsciiNames) {
  ClassBuilder b;
  // "é" in modified UTF-8 is its UTF-8; U+1F600 is a surrogate pair, three bytes each.
  const std::uint16_t self = b.Class("app/Outer$Inner");
  b.Class("app/caf\xC3\xA9");
  b.Class("app/Smile\xED\xA0\xBD\xED\xB8\x80");
  const std::optional<ClassFile> file = ReadClassFile(b.Build(self, 0));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name, "app.Outer$Inner");
  EXPECT_EQ(file->references, (Strings{"app.Smile\xF0\x9F\x98\x80", "app.caf\xC3\xA9"}));
}

struct MainCase {
  const char* name;
  std::uint16_t flags;
  const char* method;
  const char* descriptor;
  bool has_main;
  friend void PrintTo(const MainCase& row, std::ostream* out) { *out << row.name; }
};

class MainMethod : public testing::TestWithParam<MainCase> {};

// Only a public static void main(String[]) is a main method.
TEST_P(MainMethod, IsFoundOnlyWhenJavaWouldRunIt) {
  ClassBuilder b;
  const std::uint16_t self = b.Class("Main");
  b.methods.push_back({GetParam().flags, GetParam().method, GetParam().descriptor});
  const std::optional<ClassFile> file = ReadClassFile(b.Build(self, 0));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->has_main, GetParam().has_main);
}

INSTANTIATE_TEST_SUITE_P(
    ClassFile, MainMethod,
    testing::Values(MainCase{"PublicStatic", kPublicStatic, "main", "([Ljava/lang/String;)V", true},
                    MainCase{"PublicStaticFinal", 0x0019, "main", "([Ljava/lang/String;)V", true},
                    MainCase{"NotStatic", 0x0001, "main", "([Ljava/lang/String;)V", false},
                    MainCase{"NotPublic", 0x0008, "main", "([Ljava/lang/String;)V", false},
                    MainCase{"ReturnsInt", kPublicStatic, "main", "([Ljava/lang/String;)I", false},
                    MainCase{"NoArguments", kPublicStatic, "main", "()V", false},
                    MainCase{"OtherName", kPublicStatic, "Main", "([Ljava/lang/String;)V", false}),
    [](const testing::TestParamInfo<MainCase>& row) { return row.param.name; });

// Every prefix of a class file is refused, and so is every single byte changed at random: never
// a crash or a read outside the bytes (the sanitizer build checks that), and what is read is
// still well formed.
TEST(ReadClassFile, TruncatedOrDamagedIsRefused) {
  const std::string bytes = SampleClass();
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(ReadClassFile(bytes.substr(0, size))) << "cut at " << size;
  }
  std::mt19937 random(20240611);
  for (int round = 0; round < 4000; ++round) {
    std::string damaged = bytes;
    for (int flips = 0; flips < 1 + round % 3; ++flips) {
      damaged[random() % damaged.size()] = static_cast<char>(random());
    }
    if (const std::optional<ClassFile> file = ReadClassFile(damaged)) {
      EXPECT_TRUE(IsBinaryName(file->name));
      EXPECT_TRUE(std::is_sorted(file->references.begin(), file->references.end()));
      for (const std::string& reference : file->references) EXPECT_TRUE(IsBinaryName(reference));
    }
  }
}

struct BrokenCase {
  const char* name;
  std::string bytes;
  friend void PrintTo(const BrokenCase& row, std::ostream* out) { *out << row.name; }
};

class BrokenClassFile : public testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenClassFile, IsRefused) { EXPECT_FALSE(ReadClassFile(GetParam().bytes)); }

// A class whose constant pool holds `constants` (raw bytes, `slots` entries) and whose
// this_class is `self`.
std::string WithPool(std::string_view constants, std::uint16_t slots, std::uint16_t self) {
  std::string out;
  Big(out, 0xCAFEBABE, 4);
  Big(out, 61, 4);
  Big(out, slots + 1u, 2);
  out += constants;
  Big(out, 0x21, 2);
  Big(out, self, 2);
  Big(out, 0, 10);  // super, interfaces, fields, methods, attributes
  return out;
}

const std::string kNameMain = std::string("\x01\x00\x04Main", 7);
const std::string kClassAt1 = std::string("\x07\x00\x01", 3);

INSTANTIATE_TEST_SUITE_P(
    ClassFile, BrokenClassFile,
    testing::Values(
        BrokenCase{"Empty", ""},
        BrokenCase{"WrongMagic", "\xCA\xFE\xBA\xBF" + WithPool(kNameMain + kClassAt1, 2, 2).substr(4)},
        BrokenCase{"PoolCountZero", std::string("\xCA\xFE\xBA\xBE\0\0\0\x3D\0\0", 10)},
        BrokenCase{"UnknownTag", WithPool(kNameMain + std::string("\x02\x00\x01", 3), 2, 2)},
        BrokenCase{"ThisClassOutOfRange", WithPool(kNameMain + kClassAt1, 2, 9)},
        BrokenCase{"ThisClassNotAClass", WithPool(kNameMain + kClassAt1, 2, 1)},
        BrokenCase{"ClassNamingAClass", WithPool(kNameMain + std::string("\x07\x00\x02", 3), 2, 2)},
        BrokenCase{"Utf8LongerThanTheFile",
                   WithPool(std::string("\x01\xFF\xFFMain", 7) + kClassAt1, 2, 2)},
        BrokenCase{"LongEndsThePool", WithPool(kNameMain + kClassAt1 + std::string(9, '\x05'), 3, 2)},
        BrokenCase{"NameWithSemicolon",
                   WithPool(std::string("\x01\x00\x04" "a;bc", 7) + kClassAt1, 2, 2)},
        BrokenCase{"NameWithEmptySegment",
                   WithPool(std::string("\x01\x00\x04" "a//b", 7) + kClassAt1, 2, 2)},
        BrokenCase{"NameWithDots", WithPool(std::string("\x01\x00\x04" "a.bc", 7) + kClassAt1, 2, 2)},
        BrokenCase{"EmptyName", WithPool(std::string("\x01\x00\x00", 3) + kClassAt1, 2, 2)},
        BrokenCase{"NameWithModifiedUtf8Nul",
                   WithPool(std::string("\x01\x00\x04" "a\xC0\x80" "b", 7) + kClassAt1, 2, 2)},
        BrokenCase{"NameWithLoneSurrogate",
                   WithPool(std::string("\x01\x00\x04" "a\xED\xA0\xBD", 7) + kClassAt1, 2, 2)},
        BrokenCase{"AttributeLongerThanTheFile",
                   [] {
                     std::string out = WithPool(kNameMain + kClassAt1, 2, 2);
                     out.resize(out.size() - 2);
                     Big(out, 1, 2);  // one attribute
                     Big(out, 1, 2);
                     Big(out, 0xFFFFFFFF, 4);
                     return out;
                   }()},
        BrokenCase{"ManyFieldsAnnouncedNoneThere",
                   [] {
                     std::string out = WithPool(kNameMain + kClassAt1, 2, 2);
                     out[out.size() - 6] = '\xFF';
                     out[out.size() - 5] = '\xFF';
                     return out;
                   }()}),
    [](const testing::TestParamInfo<BrokenCase>& row) { return row.param.name; });

// The attributes of a module-info.class, as javac and jar write them.
std::string ModuleInfo(bool with_packages, bool with_main) {
  ClassBuilder b;
  b.access_flags = 0x8000;
  const std::uint16_t self = b.Class("module-info");
  std::string module;
  Big(module, b.Module("app.core"), 2);
  Big(module, 0x0020, 2);  // open
  Big(module, 0, 2);
  Big(module, 4, 2);  // requires
  for (const auto& [name, flags] :
       {std::pair{"java.base", 0x8000u}, std::pair{"app.words", 0x0020u},
        std::pair{"app.extra", 0x0040u}, std::pair{"javafx.controls", 0u}}) {
    Big(module, b.Module(name), 2);
    Big(module, flags, 2);
    Big(module, 0, 2);
  }
  Big(module, 2, 2);  // exports: app/api to all, app/internal to app.test only
  Big(module, b.Package("app/api"), 2);
  Big(module, 0, 4);
  Big(module, b.Package("app/internal"), 2);
  Big(module, 0, 2);
  Big(module, 1, 2);
  Big(module, b.Module("app.test"), 2);
  Big(module, 1, 2);  // opens
  Big(module, b.Package("app/view"), 2);
  Big(module, 0, 4);
  Big(module, 1, 2);  // uses
  Big(module, b.Class("app/spi/Plugin"), 2);
  Big(module, 1, 2);  // provides
  Big(module, b.Class("java/lang/System$LoggerFinder"), 2);
  Big(module, 2, 2);
  Big(module, b.Class("app/log/Finder"), 2);
  Big(module, b.Class("app/log/Other"), 2);
  b.attributes.push_back({b.Utf8("Module"), module});
  if (with_packages) {
    std::string packages;
    Big(packages, 3, 2);
    for (const char* name : {"app/api", "app/internal", "app/view"})
      Big(packages, b.Package(name), 2);
    b.attributes.push_back({b.Utf8("ModulePackages"), packages});
  }
  if (with_main) {
    std::string main;
    Big(main, b.Class("app/api/Start"), 2);
    b.attributes.push_back({b.Utf8("ModuleMainClass"), main});
  }
  return b.Build(self, 0);
}

TEST(ReadModuleInfo, ReadsWhatResolutionNeeds) {
  const std::optional<ModuleDescriptor> module = ReadModuleInfo(ModuleInfo(true, true));
  ASSERT_TRUE(module);
  EXPECT_EQ(module->name, "app.core");
  EXPECT_TRUE(module->open);
  EXPECT_EQ(module->required, (Strings{"java.base", "app.words", "app.extra", "javafx.controls"}));
  EXPECT_EQ(module->required_static, (Strings{"app.extra"}));
  EXPECT_EQ(module->exports, (Strings{"app.api"}));  // the qualified export is left out
  EXPECT_EQ(module->packages, (Strings{"app.api", "app.internal", "app.view"}));
  EXPECT_EQ(module->uses, (Strings{"app.spi.Plugin"}));
  EXPECT_EQ(module->provides, (Strings{"java.lang.System$LoggerFinder"}));
  EXPECT_EQ(module->main_class, "app.api.Start");

  const std::optional<ModuleDescriptor> plain = ReadModuleInfo(ModuleInfo(false, false));
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->packages.empty());
  EXPECT_EQ(plain->main_class, "");
}

TEST(ReadModuleInfo, RefusesWhatIsNoModuleDescriptor) {
  EXPECT_FALSE(ReadModuleInfo(SampleClass()));  // a class without a Module attribute
  const std::string bytes = ModuleInfo(true, true);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(ReadModuleInfo(bytes.substr(0, size))) << "cut at " << size;
  }
  // A requires that names a package where a module belongs.
  ClassBuilder b;
  const std::uint16_t self = b.Class("module-info");
  std::string module;
  Big(module, b.Module("m"), 2);
  Big(module, 0, 4);
  Big(module, 1, 2);
  Big(module, b.Package("java/base"), 2);
  Big(module, 0, 4);
  Big(module, 0, 8);
  b.attributes.push_back({b.Utf8("Module"), module});
  EXPECT_FALSE(ReadModuleInfo(b.Build(self, 0)));
}

TEST(Names, BinaryAndQualifiedNames) {
  for (const char* name : {"Main", "app.Main", "app.Outer$Inner", "a.b.c", "caf\xC3\xA9", "int"}) {
    EXPECT_TRUE(IsBinaryName(name)) << name;
  }
  for (const char* name : {"", ".a", "a.", "a..b", "a/b", "a;b", "[a"}) {
    EXPECT_FALSE(IsBinaryName(name)) << name;
  }
  for (const char* name : {"javafx.controls", "my.lib.v2.SNAPSHOT", "a_b.$c", "x"}) {
    EXPECT_TRUE(IsQualifiedName(name)) << name;
  }
  for (const char* name : {"int.utils", "lib.1a", "a-b", "module-info", "a..b", "_", ""}) {
    EXPECT_FALSE(IsQualifiedName(name)) << name;
  }
  EXPECT_EQ(PackageOf("app.util.Text"), "app.util");
  EXPECT_EQ(PackageOf("Main"), "");
}

// What javac writes: a nested class, a lambda, a generic field and a record, read from the
// compiler's own output; and a module descriptor that jar has given its packages and main class.
TEST(ReadClassFile, ReadsWhatJavacWrites) {
  REQUIRE_JAVAC();
  const std::string dir = class_fixtures::Build(
      {{{"src/app/Main.java",
         "package app;\n"
         "import java.util.List;\n"
         "public class Main {\n"
         "  static List<Generic> onlyGeneric;\n"
         "  static class Inner { Helper helper; }\n"
         "  public static void main(String[] args) {\n"
         "    Runnable r = () -> new Helper().run(new Point(1, 2));\n"
         "    r.run();\n"
         "    Item[] items = new Item[3];\n"
         "  }\n"
         "}\n"},
        {"src/app/Helper.java", "package app;\nclass Helper { void run(Point p) {} }\n"},
        {"src/app/Point.java", "package app;\nrecord Point(int x, int y) {}\n"},
        {"src/app/Item.java", "package app;\nclass Item {}\n"},
        {"src/app/Generic.java", "package app;\nclass Generic {}\n"},
        {"msrc/module-info.java", "module app.core { requires static java.sql; exports app; }\n"},
        {"msrc/app/Start.java",
         "package app;\npublic class Start { public static void main(String[] a) {} }\n"}},
       {{"javac", "-d", "classes", "src/app/Main.java", "src/app/Helper.java", "src/app/Point.java",
         "src/app/Item.java", "src/app/Generic.java"},
        {"javac", "-d", "mclasses", "msrc/module-info.java", "msrc/app/Start.java"},
        {"jar", "--create", "--file", "core.jar", "--main-class", "app.Start", "-C", "mclasses",
         "."}}});
  ASSERT_FALSE(dir.empty());
  const auto read = [&](const std::string& name) {
    std::string error;
    const std::optional<std::string> bytes =
        ReadRegularFile(dir + "/classes/" + name, 1 << 20, error);
    return bytes ? ReadClassFile(*bytes) : std::nullopt;
  };
  const std::optional<ClassFile> main = read("app/Main.class");
  ASSERT_TRUE(main);
  EXPECT_EQ(main->name, "app.Main");
  EXPECT_TRUE(main->has_main);
  EXPECT_EQ(main->major_version, 61);
  for (const char* named : {"app.Helper", "app.Point", "app.Item", "app.Main$Inner"}) {
    EXPECT_NE(std::find(main->references.begin(), main->references.end(), named),
              main->references.end())
        << named;
  }
  EXPECT_EQ(std::find(main->references.begin(), main->references.end(), "app.Generic"),
            main->references.end());
  const std::optional<ClassFile> inner = read("app/Main$Inner.class");
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->name, "app.Main$Inner");
  EXPECT_FALSE(inner->has_main);

  std::string error;
  const std::optional<ZipArchive> jar = ZipArchive::Open(dir + "/core.jar", error);
  ASSERT_TRUE(jar) << error;
  const ZipEntry* entry = jar->Find("module-info.class");
  ASSERT_NE(entry, nullptr);
  const std::optional<std::string> bytes = jar->Read(*entry, error);
  ASSERT_TRUE(bytes) << error;
  const std::optional<ModuleDescriptor> module = ReadModuleInfo(*bytes);
  ASSERT_TRUE(module);
  EXPECT_EQ(module->name, "app.core");
  EXPECT_EQ(module->required, (Strings{"java.base", "java.sql"}));
  EXPECT_EQ(module->required_static, (Strings{"java.sql"}));
  EXPECT_EQ(module->exports, (Strings{"app"}));
  EXPECT_EQ(module->packages, (Strings{"app"}));
  EXPECT_EQ(module->main_class, "app.Start");
}

}  // namespace
}  // namespace launcher::check
