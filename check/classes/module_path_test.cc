#include "check/classes/module_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "tests/support/class_fixtures.h"
#include "tests/support/e2e.h"
#include "tests/support/helpers.h"

namespace launcher::check {
namespace {

using class_fixtures::ClassNaming;
using class_fixtures::ModuleDeclaration;
using class_fixtures::ModuleInfoClass;
using class_fixtures::ZipBuilder;
using Names = std::set<std::string>;
using Strings = std::vector<std::string>;

// --- Resolution, over module paths described in the test ---

Module Described(std::string name, Strings required, Strings packages, bool automatic = false) {
  Module module;
  module.descriptor.name = std::move(name);
  for (std::string& entry : required) {
    if (entry.rfind("static ", 0) == 0) {
      entry.erase(0, 7);
      module.descriptor.required_static.push_back(entry);
    }
    module.descriptor.required.push_back(entry);
  }
  module.descriptor.packages = std::move(packages);
  module.automatic = automatic;
  return module;
}

ModulePath DescribedPath() {
  ModulePath path;
  path.modules = {
      Described("app.core", {"java.base", "app.words", "static app.extra", "javafx.controls"},
                {"app.core", "app.spi"}),
      Described("app.words", {"app.base"}, {"app.words"}),
      Described("app.base", {}, {"app.base"}),
      Described("app.extra", {}, {"app.extra"}),
      Described("app.plugin", {}, {"app.plugin"}),
      Described("app.driver", {"app.driverlib"}, {"app.driver"}),
      Described("app.driverlib", {}, {"app.driverlib"}),
      Described("auto.one", {}, {"auto.one"}, true),
      Described("auto.two", {}, {"auto.two"}, true),
      Described("app.usesauto", {"auto.one"}, {"app.usesauto"}),
      Described("app.cycle.a", {"app.cycle.b"}, {"app.cycle.a"}),
      Described("app.cycle.b", {"app.cycle.a"}, {"app.cycle.b"}),
      Described("app.lonely", {}, {"app.lonely"}),
  };
  path.modules[0].descriptor.uses = {"app.spi.Plugin"};
  path.modules[4].descriptor.provides = {"app.spi.Plugin"};   // bound when app.core is resolved
  path.modules[5].descriptor.provides = {"java.sql.Driver"};  // a service of the runtime's
  return path;
}

struct ResolveCase {
  const char* name;
  Strings roots;
  Names resolved;  // besides app.driver and app.driverlib, which are always bound
  friend void PrintTo(const ResolveCase& row, std::ostream* out) { *out << row.name; }
};

class Resolution : public testing::TestWithParam<ResolveCase> {};

TEST_P(Resolution, ResolvesAsJavaDoes) {
  Names expected = GetParam().resolved;
  expected.insert({"app.driver", "app.driverlib"});
  EXPECT_EQ(ResolvedModules(DescribedPath(), GetParam().roots), expected);
}

INSTANTIATE_TEST_SUITE_P(
    ModulePath, Resolution,
    testing::Values(
        ResolveCase{"NoRoots", {}, {}},
        ResolveCase{"RootRequiresAndServices",
                    {"app.core"},
                    {"app.core", "app.words", "app.base", "app.plugin"}},
        ResolveCase{
            "CommaSeparated", {"app.words,app.lonely"}, {"app.words", "app.base", "app.lonely"}},
        ResolveCase{"SeveralElements",
                    {"app.words", "app.lonely"},
                    {"app.words", "app.base", "app.lonely"}},
        ResolveCase{"BlankIsPartOfTheName", {"app.words, app.lonely"}, {"app.words", "app.base"}},
        ResolveCase{"AutomaticBringsEveryAutomatic",
                    {"app.usesauto"},
                    {"app.usesauto", "auto.one", "auto.two"}},
        ResolveCase{"Cycle", {"app.cycle.a"}, {"app.cycle.a", "app.cycle.b"}},
        ResolveCase{"AllModulePath",
                    {"ALL-MODULE-PATH"},
                    {"app.core", "app.words", "app.base", "app.extra", "app.plugin", "auto.one",
                     "auto.two", "app.usesauto", "app.cycle.a", "app.cycle.b", "app.lonely"}},
        ResolveCase{"AllDefaultAndAllSystemAreTheRuntimes", {"ALL-DEFAULT,ALL-SYSTEM"}, {}},
        ResolveCase{"NotOnThePath", {"javafx.controls,"}, {}}),
    [](const testing::TestParamInfo<ResolveCase>& row) { return row.param.name; });

// --- Module paths on disk ---

class ModulePathTest : public testing::Test {
 protected:
  // A JAR of `zip` at `relative` below the test's directory.
  std::string Jar(const std::string& relative, ZipBuilder zip) {
    const std::string path = dir_ / relative;
    e2e::MakeDirs(std::filesystem::path(path).parent_path().string());
    e2e::WriteFile(path, zip.Build());
    return path;
  }
  // A JAR of the module that `declaration` declares, with classes of the given names.
  std::string ModularJar(const std::string& relative, const ModuleDeclaration& declaration,
                         const Strings& classes) {
    ZipBuilder zip;
    zip.Add("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n");
    zip.Add("module-info.class", ModuleInfoClass(declaration));
    for (const std::string& name : classes) {
      zip.Add(class_fixtures::Internal(name) + ".class", ClassNaming(name, {}));
    }
    return Jar(relative, zip);
  }
  // A directory holding the module that `declaration` declares, with files of the given relative
  // paths.
  std::string Exploded(const std::string& relative, const ModuleDeclaration& declaration,
                       const Strings& files) {
    const std::string root = dir_ / relative;
    e2e::MakeDirs(root);
    e2e::WriteFile(root + "/module-info.class", ModuleInfoClass(declaration));
    for (const std::string& file : files) {
      e2e::MakeDirs(std::filesystem::path(root + "/" + file).parent_path().string());
      e2e::WriteFile(root + "/" + file, "x");
    }
    return root;
  }

  static Strings NamesOf(const std::vector<Module>& modules) {
    Strings names;
    for (const Module& module : modules) names.push_back(module.descriptor.name);
    return names;
  }

  e2e::TempDir dir_;
};

struct AutomaticCase {
  const char* name;
  std::string file_name;
  std::string manifest_name;  // Automatic-Module-Name, when not empty
  std::string module;         // the module's name, or empty when none can be derived
  friend void PrintTo(const AutomaticCase& row, std::ostream* out) { *out << row.name; }
};

class AutomaticName : public ModulePathTest, public testing::WithParamInterface<AutomaticCase> {};

// A JAR without module-info.class is named as Java names it, or refused as Java refuses it.
TEST_P(AutomaticName, IsDerivedAsJavaDerivesIt) {
  ZipBuilder zip;
  std::string manifest = "Manifest-Version: 1.0\r\n";
  if (!GetParam().manifest_name.empty()) {
    manifest += "Automatic-Module-Name: " + GetParam().manifest_name + "\r\n";
  }
  zip.Add("META-INF/MANIFEST.MF", manifest + "\r\n");
  zip.Add("p/A.class", ClassNaming("p.A", {}));
  const std::string jar = Jar("mods/" + GetParam().file_name, zip);
  const ModulePath path = ScanModulePath(dir_ / "mods");
  if (GetParam().module.empty()) {
    EXPECT_TRUE(path.modules.empty());
    ASSERT_EQ(path.unreadable.size(), 1u);
    EXPECT_EQ(path.unreadable[0].rfind(jar + ": no module name can be derived from it", 0), 0u)
        << path.unreadable[0];
    return;
  }
  EXPECT_EQ(path.unreadable, Strings());
  ASSERT_EQ(path.modules.size(), 1u);
  EXPECT_EQ(path.modules[0].descriptor.name, GetParam().module);
  EXPECT_TRUE(path.modules[0].automatic);
  EXPECT_EQ(path.modules[0].location, jar);
}

// The names Java 17 gives these files (java --list-modules), and the ones it refuses.
INSTANTIATE_TEST_SUITE_P(
    ModulePath, AutomaticName,
    testing::Values(AutomaticCase{"VersionDropped", "foo-bar-1.2.3.jar", "", "foo.bar"},
                    AutomaticCase{"Snapshot", "my_lib.v2-SNAPSHOT.jar", "", "my.lib.v2.SNAPSHOT"},
                    AutomaticCase{"SingleNumber", "x-9.jar", "", "x"},
                    AutomaticCase{"DotsTrimmed", "..weird..name...jar", "", "weird.name"},
                    AutomaticCase{"Hidden", ".hidden.jar", "", "hidden"},
                    AutomaticCase{"ManifestName", "whatever-1.0.jar", "org.example.lib",
                                  "org.example.lib"},
                    AutomaticCase{"Keyword", "int-utils.jar", "", ""},
                    AutomaticCase{"DigitFirst", "lib-1a.jar", "", ""},
                    AutomaticCase{"LastVersionOnly", "abc-1-2.jar", "", ""},
                    AutomaticCase{"BadManifestName", "fine.jar", "not-a-name", ""}),
    [](const testing::TestParamInfo<AutomaticCase>& row) { return row.param.name; });

// A directory of modules: its JARs and exploded modules in name order; what Java passes over is
// passed over, and what stops Java is said.
TEST_F(ModulePathTest, DirectoryOfModules) {
  ModularJar("mods/a.jar", {"app.words", {"app.base"}, {"app.words"}}, {"app.words.Words"});
  // No ModulePackages: the packages of every file, resources too.
  ModularJar("mods/b.jar", {"app.base"}, {"app.base.Base", "app.base.util.Text"});
  ZipBuilder automatic;
  automatic.Add("META-INF/MANIFEST.MF",
                "Manifest-Version: 1.0\r\nMain-Class: lib.tool.Run\r\nCreated-By: test\r\n\r\n");
  automatic.Add("lib/tool/Run.class", ClassNaming("lib.tool.Run", {}, true));
  automatic.Add("lib/impl/Finder.class", ClassNaming("lib.impl.Finder", {}));
  automatic.Add("lib/res/only.txt", "not a class: no package");
  automatic.Add("META-INF/services/java.lang.System$LoggerFinder",
                "# the finder\n  lib.impl.Finder  # this one\n");
  automatic.Add("META-INF/services/app.spi.Missing", "lib.elsewhere.Gone\n");
  Jar("mods/lib-1.0.jar", automatic);
  Exploded("mods/core", {"app.core"},
           {"app/core/Main.class", "app/core/ui/View.class", "app/core/images/logo.png",
            "app/core/.hidden", "app/hidden/.only-hidden", "META-INF/x", "top.txt"});
  std::filesystem::create_directory_symlink(dir_ / "mods/core/app", dir_ / "mods/core/app/link");
  e2e::MakeDirs(dir_ / "mods/notamodule/p");
  e2e::WriteFile(dir_ / "mods/notamodule/p/A.class", ClassNaming("p.A", {}));
  e2e::WriteFile(dir_ / "mods/readme.txt", "not a module");
  Jar("mods/upper.JAR", ZipBuilder());
  std::filesystem::create_symlink(dir_ / "nowhere.jar", dir_ / "mods/gone.jar");
  e2e::WriteFile(dir_ / "mods/bad.jar", "not an archive, only text named like one");
  ASSERT_EQ(mkfifo((dir_ / "mods/pipe.jar").c_str(), 0600), 0);  // passed over, as by Java
  ModularJar("mods/c-duplicate.jar", {"app.words"}, {});

  const ModulePath path = ScanModulePath(dir_ / "mods");
  EXPECT_EQ(NamesOf(path.modules), (Strings{"app.words", "app.base", "app.core", "lib"}));
  EXPECT_EQ(path.unreadable,
            (Strings{dir_ / "mods/bad.jar: not a ZIP archive: no end of central directory record",
                     dir_ / "mods: two modules named app.words (a.jar and c-duplicate.jar), which "
                            "stops Java"}));
  EXPECT_TRUE(path.shadowed.empty());

  const Module& words = path.modules[0];
  EXPECT_FALSE(words.automatic);
  EXPECT_EQ(words.descriptor.required, (Strings{"java.base", "app.base"}));
  EXPECT_EQ(words.descriptor.packages, (Strings{"app.words"}));
  EXPECT_EQ(path.modules[1].descriptor.packages, (Strings{"app.base", "app.base.util"}));
  EXPECT_EQ(path.modules[2].location, dir_ / "mods/core");
  EXPECT_EQ(path.modules[2].jar, nullptr);
  EXPECT_EQ(path.modules[2].descriptor.packages,
            (Strings{"app.core", "app.core.images", "app.core.ui"}));
  const ModuleDescriptor& lib = path.modules[3].descriptor;
  EXPECT_TRUE(path.modules[3].automatic);
  EXPECT_EQ(lib.packages, (Strings{"lib.impl", "lib.tool"}));
  EXPECT_EQ(lib.provides, (Strings{"java.lang.System$LoggerFinder"}));
  EXPECT_EQ(lib.main_class, "lib.tool.Run");
  EXPECT_TRUE(lib.required.empty());

  EXPECT_EQ(path.Find("app.core"), &path.modules[2]);
  EXPECT_EQ(path.Find("app.cor"), nullptr);
  EXPECT_EQ(path.OfPackage("app.base.util"), &path.modules[1]);
  EXPECT_EQ(path.OfPackage("app"), nullptr);
  EXPECT_TRUE(path.Holds(path.modules[1], "app.base.util.Text"));
  EXPECT_FALSE(path.Holds(path.modules[1], "app.base.util.Gone"));
  EXPECT_TRUE(path.Holds(path.modules[2], "app.core.ui.View"));
  EXPECT_EQ(path.ReadClass(path.modules[1], "app.base.Base"), ClassNaming("app.base.Base", {}));
  EXPECT_EQ(path.ReadClass(path.modules[2], "app.core.ui.View"), "x");
  EXPECT_EQ(path.ReadClass(path.modules[1], "app.base.Gone"), std::nullopt);
  EXPECT_EQ(path.ReadClass(path.modules[1], "../../etc/passwd"), std::nullopt);
}

// The entries of the path in order: the first module of a name wins; what does not exist is
// passed over; a file that is no JAR stops Java.
TEST_F(ModulePathTest, EntriesInPathOrder) {
  const std::string first = ModularJar("one/words.jar", {"app.words"}, {"app.words.First"});
  ModularJar("two/words.jar", {"app.words"}, {"app.words.Second"});
  const std::string exploded = Exploded("core", {"app.core", {}, {}, {}, {}, {"app.core"}}, {});
  e2e::WriteFile(dir_ / "notes.txt", "text");
  const ModulePath path = ScanModulePath(first + "::" + dir_ / "missing" + ":" + dir_ / "two" +
                                         ":" + exploded + ":" + dir_ / "notes.txt" + ":");
  EXPECT_EQ(NamesOf(path.modules), (Strings{"app.words", "app.core"}));
  EXPECT_EQ(path.modules[0].location, first);
  EXPECT_EQ(path.modules[1].descriptor.packages, (Strings{"app.core"}));
  EXPECT_EQ(path.unreadable,
            (Strings{dir_ / "notes.txt: neither a JAR nor a directory (Java stops: module format "
                            "not recognized)"}));
}

// Relative entries are taken from the working directory.
TEST_F(ModulePathTest, RelativeEntries) {
  ModularJar("mods/words.jar", {"app.words"}, {});
  const std::string saved = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_.path());
  const ModulePath path = ScanModulePath("mods");
  std::filesystem::current_path(saved);
  EXPECT_EQ(NamesOf(path.modules), (Strings{"app.words"}));
  EXPECT_EQ(path.modules[0].location, "mods/words.jar");
}

// A module of the path whose name the runtime has is not used: Java takes the runtime's.
TEST_F(ModulePathTest, RuntimeModulesShadowThePath) {
  ModularJar("mods/graphics.jar", {"javafx.graphics", {"javafx.base"}}, {});
  ModularJar("mods/base.jar", {"javafx.base"}, {});
  Runtime runtime;
  runtime.modules = {"java.base", "javafx.graphics"};
  const ModulePath path = ScanModulePath(dir_ / "mods", runtime);
  EXPECT_EQ(NamesOf(path.modules), (Strings{"javafx.base"}));
  EXPECT_EQ(NamesOf(path.shadowed), (Strings{"javafx.graphics"}));
  EXPECT_EQ(ResolvedModules(path, {"javafx.graphics"}), Names());
}

// A multi-release JAR is read for the runtime's release: its module descriptor and classes from
// the newest versioned entry at or below it.
TEST_F(ModulePathTest, MultiReleaseJars) {
  const auto jar = [&](const std::string& name, bool multi_release) {
    ZipBuilder zip;
    zip.Add("META-INF/MANIFEST.MF", std::string("Manifest-Version: 1.0\r\n") +
                                        (multi_release ? "Multi-Release: true\r\n" : "") + "\r\n");
    zip.Add("app/A.class", "base");
    zip.Add("META-INF/versions/9/module-info.class",
            ModuleInfoClass({"app.mr", {}, {}, {}, {}, {"app"}}));
    zip.Add("META-INF/versions/11/app/A.class", "eleven");
    zip.Add("META-INF/versions/11/app/extra/B.class", "eleven only");
    return Jar(name, zip);
  };
  const std::string release = jar("mr/app.mr-1.0.jar", true);
  for (const auto& [feature, content] :
       {std::pair{17, "eleven"}, std::pair{10, "base"}, std::pair{0, "eleven"}}) {
    Runtime runtime;
    runtime.feature = feature;
    const ModulePath path = ScanModulePath(release, runtime);
    ASSERT_EQ(path.modules.size(), 1u);
    EXPECT_FALSE(path.modules[0].automatic);
    EXPECT_EQ(path.modules[0].descriptor.name, "app.mr");
    EXPECT_EQ(path.ReadClass(path.modules[0], "app.A"), content) << feature;
  }
  // Without Multi-Release the versioned entries are not read: an automatic module.
  const ModulePath plain = ScanModulePath(jar("plain/app.plain-2.0.jar", false));
  ASSERT_EQ(plain.modules.size(), 1u);
  EXPECT_TRUE(plain.modules[0].automatic);
  EXPECT_EQ(plain.modules[0].descriptor.name, "app.plain");
  EXPECT_EQ(plain.ReadClass(plain.modules[0], "app.A"), "base");
}

// What stops Java in an automatic module: a class of no package.
TEST_F(ModulePathTest, AutomaticModuleWithAClassOfNoPackage) {
  ZipBuilder zip;
  zip.Add("Top.class", ClassNaming("Top", {}));
  const std::string jar = Jar("top.jar", zip);
  const ModulePath path = ScanModulePath(jar);
  EXPECT_TRUE(path.modules.empty());
  EXPECT_EQ(path.unreadable,
            (Strings{jar + ": Top.class is in the top directory, a class of no package, which a "
                           "module cannot hold"}));
}

// A hostile exploded module: a symbolic link back up (not followed), deeper than the bound.
TEST_F(ModulePathTest, ExplodedModuleWithinBounds) {
  std::string deep;
  for (int level = 0; level < kMaxExplodedDepth + 2; ++level) deep += "d/";
  const std::string root = Exploded("deep", {"app.deep"}, {"app/A.class", deep + "Z.class"});
  std::filesystem::create_directory_symlink(root, root + "/app/loop");
  const ModulePath path = ScanModulePath(root);
  ASSERT_EQ(path.modules.size(), 1u);
  EXPECT_EQ(path.modules[0].descriptor.packages, (Strings{"app"}));
  ASSERT_EQ(path.unreadable.size(), 1u);
  EXPECT_EQ(path.unreadable[0], root +
                                    ": deeper than 64 levels of directories, or the module "
                                    "path's directories hold more than 200000 files in all; "
                                    "the packages of the rest are not known");
}

TEST_F(ModulePathTest, DirectoryWithMoreEntriesThanRead) {
  e2e::MakeDirs(dir_ / "many");
  for (std::size_t i = 0; i < kMaxDirectoryEntries + 1; ++i) {
    const int fd = ::open((dir_ / "many/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  const ModulePath path = ScanModulePath(dir_ / "many");
  EXPECT_TRUE(path.modules.empty());
  EXPECT_EQ(path.unreadable,
            (Strings{dir_ / "many: more than 4096 entries; only the first are read"}));
}

TEST_F(ModulePathTest, ReadRuntime) {
  e2e::WriteFile(dir_ / "release",
                 "IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.21.1\"\n"
                 "MODULES=\"java.base java.desktop javafx.base\"\nOS_ARCH=\"x86_64\"\n");
  const Runtime runtime = ReadRuntime(dir_.path());
  EXPECT_EQ(runtime.modules, (Names{"java.base", "java.desktop", "javafx.base"}));
  EXPECT_EQ(runtime.feature, 17);
  for (const auto& [version, feature] :
       {std::pair{"\"21\"", 21}, std::pair{"\"1.8.0_392\"", 8}, std::pair{"\"x\"", 0}}) {
    e2e::WriteFile(dir_ / "release", std::string("JAVA_VERSION=") + version + "\n");
    EXPECT_EQ(ReadRuntime(dir_.path()).feature, feature) << version;
  }
  const Runtime none = ReadRuntime(dir_ / "missing");
  EXPECT_TRUE(none.modules.empty());
  EXPECT_EQ(none.feature, 0);

  // The runtime of a java found through symbolic links, as /usr/bin/java is.
  e2e::MakeDirs(dir_ / "jvm/jdk-21/bin");
  e2e::WriteFile(dir_ / "jvm/jdk-21/bin/java", "", 0755);
  e2e::WriteFile(dir_ / "jvm/jdk-21/release", "JAVA_VERSION=\"21.0.2\"\nMODULES=\"java.base\"\n");
  e2e::MakeDirs(dir_ / "bin");
  std::filesystem::create_symlink(dir_ / "jvm/jdk-21/bin/java", dir_ / "alternative");
  std::filesystem::create_symlink(dir_ / "alternative", dir_ / "bin/java");
  const Runtime linked = ReadRuntimeOf(dir_ / "bin/java");
  EXPECT_EQ(linked.feature, 21);
  EXPECT_EQ(linked.modules, (Names{"java.base"}));
  EXPECT_EQ(ReadRuntimeOf(dir_ / "alternative").feature, 21);
  EXPECT_EQ(ReadRuntimeOf(dir_ / "jvm/jdk-21/release").feature, 0);  // not bin/java
  EXPECT_EQ(ReadRuntimeOf(dir_ / "nowhere/bin/java").feature, 0);
}

// The names of the modules of the module path that Java itself resolves: what
// --show-module-resolution prints for its boot layer ("root M URI", "M requires N URI", "M binds N
// URI"), the modules at file: URIs.
Names JavaResolves(const std::string& module_path, const std::string& roots) {
  e2e::RunOptions options;
  const std::string java = class_fixtures::JavaTools::Get().java;
  options.argv = {java,  "--module-path", module_path, "--show-module-resolution",
                  "-cp", "/nowhere",      "--dry-run"};
  if (!roots.empty()) {
    options.argv.push_back("--add-modules");
    options.argv.push_back(roots);
  }
  options.argv.push_back("NoSuchMain");
  options.env = {"PATH=/usr/bin:/bin"};
  const e2e::RunResult result = e2e::RunProgram(java, options);
  Names names;
  for (const std::string& line : e2e::SplitLines(result.out)) {
    const std::size_t uri = line.rfind(" file://");
    if (uri == std::string::npos) continue;
    const std::size_t name = line.rfind(' ', uri - 1);
    names.insert(line.substr(name + 1, uri - name - 1));
  }
  return names;
}

// The modules resolved as Java 17 resolves them, asked of Java: roots, requires, bound services
// (of the runtime's and of the path's own), automatic modules that bring every other.
TEST_F(ModulePathTest, ResolvesAsJavaItself) {
  REQUIRE_JAVAC();
  ZipBuilder driver;  // an automatic JDBC driver: java.sql uses java.sql.Driver
  driver.Add("META-INF/services/java.sql.Driver", "org.drv.Driver\n");
  driver.Add("org/drv/Driver.class", ClassNaming("org.drv.Driver", {}));
  Jar("mods/drv-2.1.jar", driver);
  ZipBuilder other;
  other.Add("org/other/Util.class", ClassNaming("org.other.Util", {}));
  Jar("mods/other-lib.jar", other);
  ModularJar("mods/app.core.jar",
             {"app.core",
              {"app.words", "static app.extra"},
              {"app.spi"},
              {"app.spi.Plugin"},
              {},
              {"app.core", "app.spi"}},
             {"app.core.Main", "app.spi.Plugin"});
  ModularJar("mods/app.words.jar", {"app.words", {}, {"app.words"}, {}, {}, {"app.words"}},
             {"app.words.Words"});
  ModularJar("mods/app.extra.jar", {"app.extra", {}, {}, {}, {}, {"app.extra"}}, {"app.extra.X"});
  ModularJar(
      "mods/app.plugin.jar",
      {"app.plugin", {"app.core"}, {}, {}, {{"app.spi.Plugin", "app.plugin.Impl"}}, {"app.plugin"}},
      {"app.plugin.Impl"});
  ModularJar("mods/app.lonely.jar", {"app.lonely", {}, {}, {}, {}, {"app.lonely"}},
             {"app.lonely.L"});
  const ModulePath path = ScanModulePath(dir_ / "mods");
  ASSERT_EQ(path.unreadable, Strings());
  for (const std::string roots :
       {"", "app.core", "app.words,app.lonely", "app.extra", "ALL-MODULE-PATH", "ALL-DEFAULT"}) {
    const Names java = JavaResolves(dir_ / "mods", roots);
    EXPECT_FALSE(java.empty()) << roots;  // the driver is bound whatever the roots
    EXPECT_EQ(ResolvedModules(path, {roots}), java) << roots;
  }
}

// Debian's JavaFX modules, as Java finds them.
TEST(ModulePathJavaFx, FindsTheModulesAndWhatTheyRequire) {
  REQUIRE_OPENJFX();
  const ModulePath path = ScanModulePath(class_fixtures::JavaTools::Get().openjfx_lib);
  EXPECT_EQ(path.unreadable, Strings());
  Strings names;
  for (const Module& module : path.modules) {
    names.push_back(module.descriptor.name);
    EXPECT_FALSE(module.automatic) << module.descriptor.name;
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Strings{"javafx.base", "javafx.controls", "javafx.fxml", "javafx.graphics",
                            "javafx.media", "javafx.swing", "javafx.web"}));
  const Module* controls = path.Find("javafx.controls");
  ASSERT_NE(controls, nullptr);
  Strings required = controls->descriptor.required;
  std::sort(required.begin(), required.end());
  EXPECT_EQ(required, (Strings{"java.base", "javafx.base", "javafx.graphics"}));
  EXPECT_EQ(path.OfPackage("javafx.scene.control"), controls);
  EXPECT_EQ(path.OfPackage("javafx.scene"), path.Find("javafx.graphics"));
  EXPECT_TRUE(path.Holds(*controls, "javafx.scene.control.Button"));
  const std::optional<std::string> button =
      path.ReadClass(*controls, "javafx.scene.control.Button");
  ASSERT_TRUE(button);
  EXPECT_EQ(button->substr(0, 4), "\xCA\xFE\xBA\xBE");
  const Module* swing = path.Find("javafx.swing");
  ASSERT_NE(swing, nullptr);
  EXPECT_EQ(swing->descriptor.required_static, (Strings{"jdk.unsupported.desktop"}));

  EXPECT_EQ(ResolvedModules(path, {"javafx.controls"}),
            (Names{"javafx.base", "javafx.controls", "javafx.graphics"}));
  EXPECT_EQ(ResolvedModules(path, {"javafx.graphics"}), (Names{"javafx.base", "javafx.graphics"}));
  EXPECT_EQ(
      ResolvedModules(path, {"javafx.web"}),
      (Names{"javafx.base", "javafx.controls", "javafx.graphics", "javafx.media", "javafx.web"}));
  for (const char* roots : {"javafx.swing", "javafx.fxml,javafx.media", "ALL-MODULE-PATH"}) {
    EXPECT_EQ(ResolvedModules(path, {roots}),
              JavaResolves(class_fixtures::JavaTools::Get().openjfx_lib, roots))
        << roots;
  }
}

}  // namespace
}  // namespace launcher::check
