package app.greeting;

public final class Greeting {
  private Greeting() {}

  public static String hello() {
    return "Hello from module " + Greeting.class.getModule().getName();
  }
}
