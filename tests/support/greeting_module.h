// The module app.greeting, as Java sources: the library module of the small modular applications
// that the tests with the real JDK compile (a main class calls Greeting.hello()).
#pragma once

namespace e2e {

inline constexpr char kGreetingModuleInfo[] =
    "module app.greeting {\n  exports app.greeting;\n}\n";
inline constexpr char kGreetingClass[] = R"(package app.greeting;

public final class Greeting {
  private Greeting() {}

  public static String hello() {
    return "Hello from module " + Greeting.class.getModule().getName();
  }
}
)";

}  // namespace e2e
