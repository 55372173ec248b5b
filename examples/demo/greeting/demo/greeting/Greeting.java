package demo.greeting;

public final class Greeting {
  private Greeting() {}

  public static String to(String name) {
    return "Hello, " + name + ", from module " + Greeting.class.getModule().getName() + "!";
  }
}
