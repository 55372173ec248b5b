#include "check/classes/references.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "tests/support/class_fixtures.h"
#include "tests/support/e2e.h"

namespace launcher::check {
namespace {

using class_fixtures::ClassNaming;
using class_fixtures::Internal;
using class_fixtures::ModuleDeclaration;
using class_fixtures::ModuleInfoClass;
using class_fixtures::ZipBuilder;
using Strings = std::vector<std::string>;
using Classes = std::map<std::string, Strings>;  // class name: the classes it names

// Each missing class as one line: "REFERENCED by BY: add MODULE", "...: not in MODULE" or
// "...: missing".
Strings Lines(const ReferenceScan& scan) {
  Strings lines;
  for (const MissingClass& missing : scan.missing) {
    std::string line = missing.referenced + " by " + missing.by + ": ";
    if (!missing.module.empty()) {
      line += "add " + missing.module;
    } else if (!missing.in_module.empty()) {
      line += "not in " + missing.in_module;
    } else {
      line += "missing";
    }
    lines.push_back(line);
  }
  return lines;
}

class References : public testing::Test {
 protected:
  // Class files below the class directory; a name ending in "!" gets a main method.
  void ClassDirectory(const Classes& classes) {
    for (const auto& [name, references] : classes) {
      const bool main = name.back() == '!';
      const std::string bare = main ? name.substr(0, name.size() - 1) : name;
      const std::string file = classes_ + "/" + Internal(bare) + ".class";
      e2e::MakeDirs(std::filesystem::path(file).parent_path().string());
      e2e::WriteFile(file, ClassNaming(bare, references, main));
    }
  }
  // A JAR in the module directory: the module that `declaration` declares (an automatic one when
  // its name is empty, named after `file`).
  void ModuleJar(const std::string& file, const ModuleDeclaration& declaration,
                 const Classes& classes) {
    ZipBuilder zip;
    if (!declaration.name.empty()) zip.Add("module-info.class", ModuleInfoClass(declaration));
    for (const auto& [name, references] : classes) {
      zip.Add(Internal(name) + ".class", ClassNaming(name, references));
    }
    e2e::MakeDirs(modules_);
    e2e::WriteFile(modules_ + "/" + file, zip.Build());
  }

  ReferenceScan Scan(std::string_view main_class, const Strings& roots,
                     const WalkLimits& limits = {}) {
    path_ = ScanModulePath(modules_);
    EXPECT_EQ(path_.unreadable, Strings());
    return FindMissingClasses(classes_, main_class, path_, ResolvedModules(path_, roots), limits);
  }

  e2e::TempDir dir_;
  std::string classes_ = dir_ / "classes";
  std::string modules_ = dir_ / "modules";
  ModulePath path_;
};

// An application in the class directory that uses a library module of its own (bundle.words), a
// module of controls over one of graphics, and an automatic module; the runtime's classes are
// named too, and are never looked for.
class ApplicationReferences : public References {
 protected:
  void SetUp() override {
    ClassDirectory({
        {"app.Main!", {"app.Helper", "lib.words.Words", "java.lang.String", "javax.swing.JButton"}},
        {"app.Helper", {"fx.control.Button", "app.Gone", "lib.words.Words", "lib.words.NewApi"}},
        {"app.OnPath!", {"lib.shared.Thing"}},
        {"app.UsesAuto!", {"autolib.Util"}},
        {"lib.shared.Thing", {}},
        {"Start!", {"Helper2", "app.Main"}},
    });
    ModuleJar("words.jar", {"bundle.words", {"static lib.extra"}, {"lib.words"}},
              {{"lib.words.Words", {"lib.words.Inner", "lib.extra.Opt"}}, {"lib.words.Inner", {}}});
    ModuleJar("extra.jar", {"lib.extra"}, {{"lib.extra.Opt", {}}});
    ModuleJar("graphics.jar", {"fx.graphics", {}, {"fx.scene"}}, {{"fx.scene.Node", {}}});
    ModuleJar("controls.jar", {"fx.controls", {"fx.graphics"}, {"fx.control"}},
              {{"fx.control.Button", {"fx.scene.Node"}}});
    ModuleJar("shared.jar", {"lib.shared"}, {{"lib.shared.Thing", {}}});
    ModuleJar("autolib.jar", {}, {{"autolib.Util", {"lib.extra.Opt"}}});
  }
};

struct WalkCase {
  const char* name;
  std::string main_class;
  Strings roots;
  Strings missing;
  bool main_found = true;
  std::string main_module = {};
  friend void PrintTo(const WalkCase& row, std::ostream* out) { *out << row.name; }
};

class Walk : public ApplicationReferences, public testing::WithParamInterface<WalkCase> {};

TEST_P(Walk, FindsWhatJavaWillNotFind) {
  const ReferenceScan scan = Scan(GetParam().main_class, GetParam().roots);
  EXPECT_EQ(Lines(scan), GetParam().missing);
  EXPECT_EQ(scan.main_found, GetParam().main_found);
  EXPECT_EQ(scan.main_module, GetParam().main_module);
  EXPECT_EQ(scan.unreadable, Strings());
  EXPECT_FALSE(scan.cut);
}

INSTANTIATE_TEST_SUITE_P(
    References, Walk,
    testing::Values(
        // One line per module to add (the first class named from it), then each class missing
        // from the application's own packages.
        WalkCase{"NothingAdded",
                 "app.Main",
                 {},
                 {"lib.words.Words by app.Main: add bundle.words",
                  "fx.control.Button by app.Helper: add fx.controls",
                  "app.Gone by app.Helper: missing"}},
        WalkCase{
            "GraphicsWhereControlsAreUsed",
            "app.Main",
            {"fx.graphics,bundle.words"},
            {"fx.control.Button by app.Helper: add fx.controls", "app.Gone by app.Helper: missing",
             "lib.words.NewApi by app.Helper: not in bundle.words"}},
        // With everything added the walk goes into the modules: bundle.words lacks a class the
        // application was compiled against; its optional dependency (requires static) is not
        // looked for.
        WalkCase{"AllAdded",
                 "app.Main",
                 {"fx.controls,bundle.words"},
                 {"app.Gone by app.Helper: missing",
                  "lib.words.NewApi by app.Helper: not in bundle.words"}},
        WalkCase{"UnnamedPackage",
                 "Start",
                 {"ALL-MODULE-PATH"},
                 {"Helper2 by Start: missing", "app.Gone by app.Helper: missing",
                  "lib.words.NewApi by app.Helper: not in bundle.words"}},
        // The class path has the class whose package an unresolved module holds: Java loads it
        // from there.
        WalkCase{"ClassPathCopy", "app.OnPath", {}, {}},
        // An automatic module reads every module, so what it names must be resolved.
        WalkCase{"AutomaticModuleReadsAll",
                 "app.UsesAuto",
                 {},
                 {"autolib.Util by app.UsesAuto: add autolib"}},
        WalkCase{"AutomaticModuleResolved",
                 "app.UsesAuto",
                 {"autolib"},
                 {"lib.extra.Opt by autolib.Util: add lib.extra"}},
        WalkCase{
            "MainInAResolvedModule", "fx.control.Button", {"fx.controls"}, {}, true, "fx.controls"},
        WalkCase{"MainInAnUnresolvedModule", "fx.control.Button", {}, {}, false},
        WalkCase{"MainNowhere", "app.Nope", {}, {}, false},
        WalkCase{"MainNotAName", "app..Main", {}, {}, false}),
    [](const testing::TestParamInfo<WalkCase>& row) { return row.param.name; });

// Class files that are there but that Java cannot load, and a FIFO named like a class file, which
// is never opened (it would block).
TEST_F(References, ClassFilesJavaCannotLoad) {
  ClassDirectory({{"app.Main!", {"app.Broken", "app.Wrong", "app.Pipe"}}});
  e2e::WriteFile(classes_ + "/app/Broken.class", "not a class file");
  e2e::WriteFile(classes_ + "/app/Wrong.class", ClassNaming("app.Other", {}));
  ASSERT_EQ(mkfifo((classes_ + "/app/Pipe.class").c_str(), 0600), 0);
  const ReferenceScan scan = Scan("app.Main", {});
  EXPECT_EQ(Lines(scan), (Strings{"app.Pipe by app.Main: missing"}));
  EXPECT_EQ(
      scan.unreadable,
      (Strings{"app.Broken (" + classes_ + "/app/Broken.class): not a class file",
               "app.Wrong (" + classes_ + "/app/Wrong.class): holds the class app.Other instead"}));
  EXPECT_EQ(scan.classes_read, 3u);
}

// The walk stops at its bounds, and says so; missing classes are listed up to a bound.
TEST_F(References, Bounds) {
  Classes chain = {{"c.C0!", {"c.C1"}}};
  for (int i = 1; i < 6; ++i) chain["c.C" + std::to_string(i)] = {"c.C" + std::to_string(i + 1)};
  chain["c.C6"] = {};
  Strings many;
  for (std::size_t i = 0; i < kMaxMissingClasses + 20; ++i)
    many.push_back("c.Gone" + std::to_string(i));
  chain["c.Many!"] = many;
  ClassDirectory(chain);

  WalkLimits limits;
  limits.classes = 3;
  const ReferenceScan cut = Scan("c.C0", {}, limits);
  EXPECT_TRUE(cut.cut);
  EXPECT_EQ(cut.classes_read, 3u);
  limits.classes = kMaxClassesRead;
  limits.bytes = 1;
  EXPECT_TRUE(Scan("c.C0", {}, limits).cut);
  EXPECT_EQ(Scan("c.C0", {}, limits).classes_read, 1u);

  const ReferenceScan whole = Scan("c.C0", {});
  EXPECT_FALSE(whole.cut);
  EXPECT_EQ(whole.classes_read, 7u);
  EXPECT_GT(whole.bytes_read, 7u * 50);
  EXPECT_EQ(Scan("c.Many", {}).missing.size(), kMaxMissingClasses);
}

// A launcher dropped into a directory that holds no application: nothing is read but the main
// class's file, which is not there.
TEST_F(References, ClassDirectoryWithoutTheApplication) {
  const ReferenceScan scan = FindMissingClasses("/", "Main", ModulePath(), {});
  EXPECT_FALSE(scan.main_found);
  EXPECT_EQ(scan.classes_read, 0u);
}

TEST_F(References, ClassesBelow) {
  ClassDirectory({{"Main", {}},
                  {"app.Main", {}},
                  {"app.Main$Inner", {}},
                  {"app.ui.View", {}},
                  {"app.ui.deeper.Text", {}}});
  e2e::MakeDirs(classes_ + "/META-INF");
  e2e::WriteFile(classes_ + "/META-INF/Hidden.class", "x");
  e2e::MakeDirs(classes_ + "/not-a-package");
  e2e::WriteFile(classes_ + "/not-a-package/Hidden.class", "x");
  e2e::WriteFile(classes_ + "/app/module-info.class", "x");
  e2e::WriteFile(classes_ + "/app/notes.txt", "x");
  e2e::MakeDirs(classes_ + "/app/Dir.class");
  std::filesystem::create_directory_symlink(classes_, classes_ + "/app/loop");
  std::filesystem::create_directory_symlink(classes_ + "/app/ui", classes_ + "/linked");

  EXPECT_EQ(ClassesBelow(classes_, 100),
            (Strings{"Main", "app.Main", "app.Main$Inner", "app.ui.View", "app.ui.deeper.Text"}));
  EXPECT_EQ(ClassesBelow(classes_, 2).size(), 2u);
  EXPECT_EQ(ClassesBelow(classes_ + "/missing", 100), Strings());
  EXPECT_EQ(ClassesBelow(classes_ + "/Main.class", 100), Strings());
}

// The same with classes javac compiled: an application whose library module is on the module
// path but not added, then added; and one built against a newer version of the library.
TEST(ReferencesWithJavac, ApplicationAndItsLibraryModule) {
  REQUIRE_JAVAC();
  const std::string dir = class_fixtures::Build(
      {{{"words/module-info.java", "module bundle.words { exports bundle.words; }\n"},
        {"words/bundle/words/Words.java",
         "package bundle.words;\npublic final class Words {\n"
         "  public static String greeting() { return \"Hello\"; }\n}\n"},
        {"words2/module-info.java", "module bundle.words { exports bundle.words; }\n"},
        {"words2/bundle/words/Words.java",
         "package bundle.words;\npublic final class Words {\n"
         "  public static String greeting() { return Extra.more(); }\n}\n"},
        {"words2/bundle/words/Extra.java",
         "package bundle.words;\npublic final class Extra {\n"
         "  public static String more() { return \"more\"; }\n}\n"},
        {"app/bundle/app/Main.java",
         "package bundle.app;\nimport bundle.words.Words;\nimport bundle.words.Extra;\n"
         "public class Main {\n  public static void main(String[] args) {\n"
         "    System.out.println(new Scene().text() + Extra.more());\n  }\n}\n"},
        {"app/bundle/app/Scene.java",
         "package bundle.app;\nclass Scene { String text() { return bundle.words.Words.greeting(); "
         "} }\n"}},
       {{"javac", "-d", "words-classes", "words/module-info.java", "words/bundle/words/Words.java"},
        {"mkdir", "modules"},
        {"jar", "--create", "--file", "modules/bundle.words.jar", "-C", "words-classes", "."},
        {"javac", "-d", "words2-classes", "words2/module-info.java",
         "words2/bundle/words/Words.java", "words2/bundle/words/Extra.java"},
        {"javac", "--module-path", "words2-classes", "--add-modules", "bundle.words", "-d",
         "classes", "app/bundle/app/Main.java", "app/bundle/app/Scene.java"}}});
  ASSERT_FALSE(dir.empty());
  const ModulePath path = ScanModulePath(dir + "/modules");
  ASSERT_EQ(path.modules.size(), 1u);
  const ReferenceScan missing =
      FindMissingClasses(dir + "/classes", "bundle.app.Main", path, ResolvedModules(path, {}));
  EXPECT_EQ(Lines(missing), (Strings{"bundle.words.Extra by bundle.app.Main: add bundle.words"}));
  EXPECT_TRUE(missing.main_found);
  EXPECT_EQ(missing.classes_read, 2u);  // Main and Scene

  const ReferenceScan added = FindMissingClasses(dir + "/classes", "bundle.app.Main", path,
                                                 ResolvedModules(path, {"bundle.words"}));
  EXPECT_EQ(Lines(added), (Strings{"bundle.words.Extra by bundle.app.Main: not in bundle.words"}));
  EXPECT_EQ(added.classes_read, 3u);  // and Words, in the module
}

// The JavaFX modules of Debian: an application that uses a button, with only javafx.graphics
// added, needs javafx.controls; with javafx.controls added, nothing is missing, though the walk
// goes through JavaFX's own classes.
TEST(ReferencesWithJavac, JavaFxControlsLeftOut) {
  REQUIRE_OPENJFX();
  const std::string dir = class_fixtures::Build(
      {{{"src/hello/HelloFx.java",
         "package hello;\n"
         "import javafx.application.Application;\nimport javafx.scene.Scene;\n"
         "import javafx.scene.control.Button;\nimport javafx.stage.Stage;\n"
         "public class HelloFx extends Application {\n"
         "  @Override public void start(Stage stage) {\n"
         "    stage.setScene(new Scene(new Button(\"Hello\")));\n    stage.show();\n  }\n"
         "  public static void main(String[] args) { launch(args); }\n}\n"}},
       {{"javac", "--module-path", "{jfx}", "--add-modules", "javafx.controls", "-d", "classes",
         "src/hello/HelloFx.java"}}});
  ASSERT_FALSE(dir.empty());
  const ModulePath path = ScanModulePath(class_fixtures::JavaTools::Get().openjfx_lib);
  const ReferenceScan graphics = FindMissingClasses(dir + "/classes", "hello.HelloFx", path,
                                                    ResolvedModules(path, {"javafx.graphics"}));
  EXPECT_EQ(Lines(graphics),
            (Strings{"javafx.scene.control.Button by hello.HelloFx: add javafx.controls"}));
  EXPECT_TRUE(graphics.main_found);
  EXPECT_FALSE(graphics.cut);

  const ReferenceScan controls = FindMissingClasses(dir + "/classes", "hello.HelloFx", path,
                                                    ResolvedModules(path, {"javafx.controls"}));
  EXPECT_EQ(Lines(controls), Strings());
  EXPECT_EQ(controls.unreadable, Strings());
  EXPECT_FALSE(controls.cut);
  EXPECT_GT(controls.classes_read, 100u);
}

}  // namespace
}  // namespace launcher::check
